#include "tuning.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>

#include "board.h"
#include "movegen.h"

// ---- Tunable constants ---------------------------------------------------------
constexpr double GOLDEN = 0.6180339887498949;
constexpr int K_SEARCH_STEPS = 60;
constexpr double ADAM_BETA1 = 0.9;
constexpr double ADAM_BETA2 = 0.999;
constexpr double ADAM_EPSILON = 1e-8;
constexpr double HELD_OUT_SHARE = 0.1;

// The win/draw/loss fit: start, bounds, rounds, and the gain that ends it.
constexpr double WDL_START_CENTRE = 100;
constexpr double WDL_START_WIDTH = 100;
constexpr double WDL_MIN_WIDTH = 10;
constexpr double WDL_MAX_PARAMETER = 1000;
constexpr int WDL_FIT_ROUNDS = 30;
constexpr int WDL_SEARCH_STEPS = 30;  // a parameter to within 1000 * 0.618^30, about 0.001
constexpr double WDL_FIT_TOLERANCE = 1e-7;
constexpr double WDL_MIN_CHANCE = 1e-6;  // no outcome is taken as impossible

static const double LN10 = std::log(10.0);

TuneParams tune_params_from_weights() {
    TuneParams params(2 * WEIGHT_COUNT);
    for (int i = 0; i < WEIGHT_COUNT; i++) {
        params[2 * i] = mg_value(weights_array()[i]);
        params[2 * i + 1] = eg_value(weights_array()[i]);
    }
    return params;
}

void tune_params_to_weights(const TuneParams& params) {
    for (int i = 0; i < WEIGHT_COUNT; i++)
        weights_array()[i] = S(int(std::lround(params[2 * i])), int(std::lround(params[2 * i + 1])));
    init_piece_square_tables();
}

bool tune_add_position(TuneSet& set, const std::string& fen, double result) {
    // The tuner reads positions on one thread: one scratch position will do.
    static Position* pos = new_position();
    PlyRecord* root = root_record(*pos);
    parse_fen(*pos, fen.c_str(), root);
    if (!position_problem(pos->board).empty()) return false;
    static EvalTrace trace;
    int score = evaluate_traced(*pos, root, &trace);
    (void)score;
    if (set.first.empty()) set.first.push_back(0);
    for (int i = 0; i < WEIGHT_COUNT; i++) {
        int c = trace.coefficient[i][WHITE] - trace.coefficient[i][BLACK];
        if (!c) continue;
        set.weight.push_back(uint16_t(i));
        set.count.push_back(int16_t(c));
    }
    set.first.push_back(uint32_t(set.weight.size()));
    float shrink = float(200 - trace.fifty) / 200;
    set.mg_share.push_back(float(trace.phase) / PHASE_MAX);
    set.fixed.push_back(float(trace.fixed));
    set.scale.push_back(float(trace.scale) / 64 * shrink);
    set.offset.push_back(float(trace.mop_up) * shrink);
    set.result.push_back(float(result));
    return true;
}

static bool parse_result(const char* text, double& result) {
    while (*text == ' ' || *text == '[' || *text == '"') text++;
    if (!strncmp(text, "1/2-1/2", 7)) result = 0.5;
    else if (!strncmp(text, "1-0", 3)) result = 1.0;
    else if (!strncmp(text, "0-1", 3)) result = 0.0;
    else {
        char* end;
        result = strtod(text, &end);
        if (end == text || result < 0 || result > 1) return false;
    }
    return true;
}

long tune_load(const char* path, TuneSet& set, long limit) {
    std::ifstream in(path);
    if (!in) return -1;
    long read = 0;
    for (std::string line; (limit <= 0 || read < limit) && std::getline(in, line);) {
        size_t bar = line.find('|');
        double result;
        if (bar == std::string::npos || !parse_result(line.c_str() + bar + 1, result)) continue;
        if (tune_add_position(set, line.substr(0, bar), result)) read++;
    }
    return read;
}

static void copy_positions(const TuneSet& from, size_t begin, size_t end, TuneSet& to) {
    to = TuneSet();
    to.first.push_back(0);
    for (size_t p = begin; p < end; p++) {
        for (uint32_t t = from.first[p]; t < from.first[p + 1]; t++) {
            to.weight.push_back(from.weight[t]);
            to.count.push_back(from.count[t]);
        }
        to.first.push_back(uint32_t(to.weight.size()));
        to.mg_share.push_back(from.mg_share[p]);
        to.fixed.push_back(from.fixed[p]);
        to.scale.push_back(from.scale[p]);
        to.offset.push_back(from.offset[p]);
        to.result.push_back(from.result[p]);
    }
}

void tune_split(const TuneSet& all, TuneSet& train, TuneSet& held_out) {
    size_t n = all.size();
    size_t held = size_t(double(n) * HELD_OUT_SHARE);
    if (held == 0 && n > 1) held = 1;
    copy_positions(all, 0, n - held, train);
    copy_positions(all, n - held, n, held_out);
}

double tune_evaluate(const TuneSet& set, size_t p, const TuneParams& params) {
    double mg = 0, eg = 0;
    for (uint32_t t = set.first[p]; t < set.first[p + 1]; t++) {
        mg += set.count[t] * params[2 * set.weight[t]];
        eg += set.count[t] * params[2 * set.weight[t] + 1];
    }
    double m = set.mg_share[p];
    return (mg * m + eg * (1 - m) + set.fixed[p]) * set.scale[p] + set.offset[p];
}

static double sigmoid(double k, double e) { return 1 / (1 + std::exp(-k * e * LN10 / 400)); }

double tune_error(const TuneSet& set, const TuneParams& params, double k) {
    if (!set.size()) return 0;
    double sum = 0;
    for (size_t p = 0; p < set.size(); p++) {
        double d = sigmoid(k, tune_evaluate(set, p, params)) - set.result[p];
        sum += d * d;
    }
    return sum / double(set.size());
}

// The x in [lo, hi] where a unimodal f is least (golden-section search).
template <typename F>
static double golden_minimum(F f, double lo, double hi, int steps) {
    double a = lo, b = hi;
    double c = b - GOLDEN * (b - a), d = a + GOLDEN * (b - a);
    double fc = f(c), fd = f(d);
    for (int i = 0; i < steps; i++) {
        if (fc < fd) {
            b = d, d = c, fd = fc;
            c = b - GOLDEN * (b - a), fc = f(c);
        } else {
            a = c, c = d, fc = fd;
            d = a + GOLDEN * (b - a), fd = f(d);
        }
    }
    return (a + b) / 2;
}

double tune_fit_k(const TuneSet& set, const TuneParams& params, double lo, double hi) {
    std::vector<double> evals(set.size());
    for (size_t p = 0; p < set.size(); p++) evals[p] = tune_evaluate(set, p, params);
    auto error = [&](double k) {
        double sum = 0;
        for (size_t p = 0; p < set.size(); p++) {
            double d = sigmoid(k, evals[p]) - set.result[p];
            sum += d * d;
        }
        return sum;
    };
    return golden_minimum(error, lo, hi, K_SEARCH_STEPS);
}

// ---- Win/draw/loss model ------------------------------------------------------------

// Mean negative log-likelihood of the results, given each position's
// evaluation and phase (White's view: the model is symmetric).
static double wdl_loss(const std::vector<double>& evals, const TuneSet& set, const WdlModel& model) {
    if (!set.size()) return 0;
    double sum = 0;
    for (size_t p = 0; p < set.size(); p++) {
        double chances[3];
        eval_wdl_chances(evals[p], set.mg_share[p] * PHASE_MAX, model, chances);
        int outcome = set.result[p] > 0.75 ? 0 : set.result[p] < 0.25 ? 2 : 1;
        sum -= std::log(std::max(chances[outcome], WDL_MIN_CHANCE));
    }
    return sum / double(set.size());
}

static std::vector<double> evaluations(const TuneSet& set, const TuneParams& params) {
    std::vector<double> evals(set.size());
    for (size_t p = 0; p < set.size(); p++) evals[p] = tune_evaluate(set, p, params);
    return evals;
}

double tune_wdl_loss(const TuneSet& set, const TuneParams& params, const WdlModel& model) {
    return wdl_loss(evaluations(set, params), set, model);
}

WdlModel tune_fit_wdl(const TuneSet& set, const TuneParams& params) {
    const std::vector<double> evals = evaluations(set, params);
    WdlModel model = {{WDL_START_CENTRE, WDL_START_CENTRE}, {WDL_START_WIDTH, WDL_START_WIDTH}};
    double* values[4] = {&model.centre[0], &model.centre[1], &model.width[0], &model.width[1]};
    const double lo[4] = {0, 0, WDL_MIN_WIDTH, WDL_MIN_WIDTH};
    double best = wdl_loss(evals, set, model);
    // One parameter at a time, until a round gains nothing worth having.
    for (int round = 0; round < WDL_FIT_ROUNDS; round++) {
        for (int i = 0; i < 4; i++) {
            double& x = *values[i];
            x = golden_minimum(
                [&](double v) {
                    double kept = x;
                    x = v;
                    double loss = wdl_loss(evals, set, model);
                    x = kept;
                    return loss;
                },
                lo[i], WDL_MAX_PARAMETER, WDL_SEARCH_STEPS);
        }
        double loss = wdl_loss(evals, set, model);
        bool settled = best - loss < WDL_FIT_TOLERANCE;
        best = loss;
        if (settled) break;
    }
    return model;
}

std::string tune_wdl_source(const WdlModel& model) {
    char text[160];
    snprintf(text, sizeof text, "const WdlModel WDL_MODEL = {{%.1f, %.1f}, {%.1f, %.1f}};\n", model.centre[0],
             model.centre[1], model.width[0], model.width[1]);
    return text;
}

std::vector<double> tune_evidence(const TuneSet& set) {
    std::vector<double> evidence(2 * WEIGHT_COUNT, 0.0);
    for (size_t p = 0; p < set.size(); p++)
        for (uint32_t t = set.first[p]; t < set.first[p + 1]; t++) {
            double c = std::abs(set.count[t]);
            evidence[2 * set.weight[t]] += c * set.mg_share[p];
            evidence[2 * set.weight[t] + 1] += c * (1 - set.mg_share[p]);
        }
    return evidence;
}

double tune_adam(const TuneSet& set, TuneParams& params, double k, const AdamOptions& options) {
    const size_t n = params.size();
    std::vector<double> gradient(n), m(n, 0.0), v(n, 0.0);
    std::vector<char> active(n, options.only ? 0 : 1);
    if (options.only)
        for (int w : *options.only) active[2 * w] = active[2 * w + 1] = 1;
    const std::vector<double> evidence = tune_evidence(set);
    for (size_t i = 0; i < n; i++)
        if (evidence[i] < options.min_evidence) active[i] = 0;
    double error = 0;
    for (int epoch = 1; epoch <= options.epochs; epoch++) {
        std::fill(gradient.begin(), gradient.end(), 0.0);
        error = 0;
        for (size_t p = 0; p < set.size(); p++) {
            double s = sigmoid(k, tune_evaluate(set, p, params));
            double d = s - set.result[p];
            error += d * d;
            // d(error)/d(evaluation), shared by every term of the position.
            double g = 2 * d * s * (1 - s) * k * LN10 / 400;
            double mg_share = set.mg_share[p] * set.scale[p], eg_share = (1 - set.mg_share[p]) * set.scale[p];
            for (uint32_t t = set.first[p]; t < set.first[p + 1]; t++) {
                gradient[2 * set.weight[t]] += g * set.count[t] * mg_share;
                gradient[2 * set.weight[t] + 1] += g * set.count[t] * eg_share;
            }
        }
        double scale = set.size() ? 1.0 / double(set.size()) : 0;
        error *= scale;
        double correction1 = 1 - std::pow(ADAM_BETA1, epoch), correction2 = 1 - std::pow(ADAM_BETA2, epoch);
        for (size_t i = 0; i < n; i++) {
            double g = gradient[i] * scale;
            if (!active[i] || (g == 0 && m[i] == 0)) continue;  // a weight no position uses stays as it is
            m[i] = ADAM_BETA1 * m[i] + (1 - ADAM_BETA1) * g;
            v[i] = ADAM_BETA2 * v[i] + (1 - ADAM_BETA2) * g * g;
            params[i] -= options.rate * (m[i] / correction1) / (std::sqrt(v[i] / correction2) + ADAM_EPSILON);
        }
        if (options.report_every && epoch % options.report_every == 0)
            fprintf(stderr, "epoch %d error %.7f\n", epoch, error);
    }
    return error;
}

std::string tune_weights_source(const TuneParams& params) {
    static const char* const kind_names[6] = {"pawn", "knight", "bishop", "rook", "queen", "king"};
    auto score = [&](int i) {
        return "S(" + std::to_string(std::lround(params[2 * i])) + ", " + std::to_string(std::lround(params[2 * i + 1])) +
               ")";
    };
    auto rows = [&](std::string& out, int first, int count, int per_row, const char* indent) {
        for (int i = 0; i < count; i += per_row) {
            out += indent;
            for (int j = i; j < i + per_row && j < count; j++) out += (j > i ? ", " : "") + score(first + j);
            out += ",\n";
        }
    };
    std::string out = "EvalWeights eval_weights = {\n";
    for (int g = 0; g < weight_group_count; g++) {
        const WeightGroup& group = weight_groups[g];
        out += std::string("    // ") + group.name + "\n";
        if (group.count == 1) {
            out += "    " + score(group.first) + ",\n";
        } else if (!strcmp(group.name, "piece_square")) {
            out += "    {\n";
            for (int kind = 0; kind < 6; kind++) {
                out += std::string("        {  // ") + kind_names[kind] + "\n";
                rows(out, group.first + 64 * kind, 64, group.row, "            ");
                out += "        },\n";
            }
            out += "    },\n";
        } else {
            out += "    {\n";
            rows(out, group.first, group.count, group.row, "        ");
            out += "    },\n";
        }
    }
    return out + "};\n";
}
