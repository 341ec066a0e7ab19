// The Texel tuner on a tiny data set whose optimum is known: labels made from
// the engine's own weights through the logistic curve, so that K and the
// weights that made them are the exact minimum of the error.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "test_support.h"
#include "tuning.h"

namespace {

constexpr double TRUE_K = 1.3;

double logistic(double k, double e) { return 1 / (1 + std::pow(10.0, -k * e / 400)); }

// The recorded positions, labelled from the given parameters.
TuneSet labelled_set(const TuneParams& truth, double k) {
    setup_position(START_FEN);
    TuneSet set;
    std::ifstream in(BRIK_TEST_DATA "/eval_positions.txt");
    for (std::string line; std::getline(in, line);) {
        if (line.empty() || line[0] == '#') continue;
        EXPECT_TRUE(tune_add_position(set, line, 0.5)) << line;
    }
    for (size_t p = 0; p < set.size(); p++) set.result[p] = float(logistic(k, tune_evaluate(set, p, truth)));
    return set;
}

int index_of(const Score& weight) { return int(&weight - weights_array()); }

}  // namespace

TEST(Tuner, LinearFormMatchesTheEvaluation) {
    setup_position(START_FEN);
    TuneParams params = tune_params_from_weights();
    TuneSet set;
    const char* fens[] = {START_FEN, "r4rk1/pp3pp1/2n1bn1p/8/8/2NB4/PPP2PP1/R4R1K w - - 0 15",
                          "8/5k2/3b4/3P4/2B2K2/8/8/8 w - - 0 50", "8/p4kpp/1p6/2p5/2P5/1P3K2/P5PP/8 b - - 0 35"};
    for (const char* fen : fens) {
        ASSERT_TRUE(tune_add_position(set, fen, 0.5));
        PlyRecord* root = setup_position(fen);
        const Position& pos = test_pos();
        int white_view = pos.board.side == WHITE ? evaluate(pos, root) : -evaluate(pos, root);
        // The engine truncates the blend; the tuner keeps the fraction.
        EXPECT_NEAR(tune_evaluate(set, set.size() - 1, params), white_view, 1.0) << fen;
    }
}

TEST(Tuner, FindsTheScalingConstant) {
    const TuneParams truth = tune_params_from_weights();
    TuneSet set = labelled_set(truth, TRUE_K);
    EXPECT_NEAR(tune_fit_k(set, truth), TRUE_K, 0.01);
    EXPECT_LT(tune_error(set, truth, TRUE_K), 1e-12);
}

// Weights pushed away from the values that made the labels come back (the
// others held: with every weight free, a few hundred positions have many
// exact fits).
TEST(Tuner, AdamRecoversDisturbedWeights) {
    const TuneParams truth = tune_params_from_weights();
    TuneSet set = labelled_set(truth, TRUE_K);
    TuneParams start = truth;
    const int disturbed[] = {index_of(eval_weights.material[KNIGHT]), index_of(eval_weights.material[ROOK]),
                             index_of(eval_weights.bishop_pair), index_of(eval_weights.tempo)};
    for (int w : disturbed) {
        start[2 * w] += 40;
        start[2 * w + 1] -= 40;
    }
    const double before = tune_error(set, start, TRUE_K);
    TuneParams tuned = start;
    std::vector<int> only(std::begin(disturbed), std::end(disturbed));
    const double after = tune_adam(set, tuned, TRUE_K, AdamOptions{1500, 1.0, 0, &only, 0});
    EXPECT_LT(after, before / 50);
    for (int w : disturbed)
        for (int half : {0, 1}) EXPECT_NEAR(tuned[2 * w + half], truth[2 * w + half], 8.0) << "weight " << w;
}

// The printout lists every weight in the record's order, so that pasting it
// over the declaration in the source adopts exactly these values.
TEST(Tuner, PrintsEveryWeightInOrder) {
    TuneParams params(2 * WEIGHT_COUNT);
    for (int i = 0; i < 2 * WEIGHT_COUNT; i++) params[i] = (i % 2 ? -1 : 1) * (i / 2 % 997);
    const std::string source = tune_weights_source(params);
    EXPECT_EQ(source.rfind("EvalWeights eval_weights = {", 0), 0u);
    std::regex score(R"(S\((-?\d+), (-?\d+)\))");
    int i = 0;
    for (auto it = std::sregex_iterator(source.begin(), source.end(), score); it != std::sregex_iterator(); ++it, ++i) {
        ASSERT_LT(i, WEIGHT_COUNT);
        EXPECT_EQ(std::stoi((*it)[1]), std::lround(params[2 * i])) << i;
        EXPECT_EQ(std::stoi((*it)[2]), std::lround(params[2 * i + 1])) << i;
    }
    EXPECT_EQ(i, WEIGHT_COUNT);
}

TEST(Tuner, ReadsResultsInEitherForm) {
    const std::string path = "tuner_results.txt";
    {
        std::ofstream out(path);
        out << START_FEN << " | 1.0\n"
            << START_FEN << " | 0-1\n"
            << START_FEN << " | 1/2-1/2\n"
            << START_FEN << " | 0.5\n"
            << START_FEN << " | 0.0 | -35\n"  // the generator's search score after the result
            << START_FEN << " | 7\n"  // no result: skipped
            << START_FEN << "\n";
    }
    TuneSet set;
    ASSERT_EQ(tune_load(path.c_str(), set, 0), 5);
    EXPECT_EQ(set.result, (std::vector<float>{1.0f, 0.0f, 0.5f, 0.5f, 0.0f}));
    EXPECT_EQ(tune_load("no such file", set, 0), -1);
    std::remove(path.c_str());
}

// Values with too little evidence in the data stay where they are, however
// far off they are; the rest still move.
TEST(Tuner, HoldsValuesWithoutEnoughEvidence) {
    const TuneParams truth = tune_params_from_weights();
    TuneSet set = labelled_set(truth, TRUE_K);
    const std::vector<double> evidence = tune_evidence(set);
    const int knight = index_of(eval_weights.material[KNIGHT]);
    const int pair = index_of(eval_weights.bishop_pair);
    // Threshold between the bishop pair's end-game evidence and the knight's.
    ASSERT_LT(evidence[2 * pair + 1], evidence[2 * knight + 1]);
    const double threshold = (evidence[2 * pair + 1] + evidence[2 * knight + 1]) / 2;
    TuneParams tuned = truth;
    tuned[2 * knight + 1] += 40;
    tuned[2 * pair + 1] += 40;
    std::vector<int> only = {knight, pair};
    tune_adam(set, tuned, TRUE_K, AdamOptions{300, 1.0, 0, &only, threshold});
    EXPECT_EQ(tuned[2 * pair + 1], truth[2 * pair + 1] + 40);
    EXPECT_NEAR(tuned[2 * knight + 1], truth[2 * knight + 1], 8.0);
}

// Results drawn in exact proportion from a known model (forty games a
// position, split by its chances) bring the fit back to that model.
TEST(Tuner, FitsTheWinDrawLossModel) {
    const WdlModel truth = {{150, 60}, {80, 160}};
    const TuneParams params = tune_params_from_weights();
    TuneSet positions = labelled_set(params, TRUE_K);
    TuneSet set;
    for (size_t p = 0; p < positions.size(); p++) {
        double chances[3];
        eval_wdl_chances(tune_evaluate(positions, p, params), positions.mg_share[p] * PHASE_MAX, truth, chances);
        const double outcomes[3] = {1.0, 0.5, 0.0};
        for (int o = 0; o < 3; o++)
            for (long n = std::lround(40 * chances[o]); n > 0; n--) {
                set.first.push_back(uint32_t(set.weight.size()));
                for (uint32_t t = positions.first[p]; t < positions.first[p + 1]; t++) {
                    set.weight.push_back(positions.weight[t]);
                    set.count.push_back(positions.count[t]);
                }
                set.mg_share.push_back(positions.mg_share[p]);
                set.fixed.push_back(positions.fixed[p]);
                set.scale.push_back(positions.scale[p]);
                set.offset.push_back(positions.offset[p]);
                set.result.push_back(float(outcomes[o]));
            }
    }
    set.first.push_back(uint32_t(set.weight.size()));
    WdlModel fitted = tune_fit_wdl(set, params);
    for (int i = 0; i < 2; i++) {
        EXPECT_NEAR(fitted.centre[i], truth.centre[i], 10) << i;
        EXPECT_NEAR(fitted.width[i], truth.width[i], 10) << i;
    }
    EXPECT_LE(tune_wdl_loss(set, params, fitted), tune_wdl_loss(set, params, truth) + 1e-4);
}

// The engine's model describes its own games: on the committed sample of
// self-play positions it is about as good as a model fitted to the sample
// itself, and far better than chances that hardly depend on the score.
TEST(Tuner, EnginesWinDrawLossModelFitsTheSample) {
    setup_position(START_FEN);
    TuneSet sample;
    ASSERT_GT(tune_load(BRIK_TEST_DATA "/datagen_sample.txt", sample, 0), 100);
    const TuneParams params = tune_params_from_weights();
    const double engine = tune_wdl_loss(sample, params, WDL_MODEL);
    const double own_fit = tune_wdl_loss(sample, params, tune_fit_wdl(sample, params));
    const WdlModel flat = {{WDL_MODEL.centre[0], WDL_MODEL.centre[1]}, {2000, 2000}};
    EXPECT_LT(engine, own_fit + 0.05);
    EXPECT_LT(engine, tune_wdl_loss(sample, params, flat) - 0.2);
}
