// brik-tuner: fits the evaluation weights to game results (Texel's method).
//
//   brik-tuner --data FILE [--limit N] [--epochs N] [--rate R] [--min-evidence E] [--out FILE]
//   brik-tuner --data FILE --fit-wdl [--limit N] [--out FILE]
//
// Reads "FEN | result" lines, keeps the last tenth apart, fits K on the rest
// with today's weights, runs Adam on the training error and prints the errors
// before and after on both parts. The new weights go to --out (default
// standard output) in the form src/eval.cpp declares them. With --fit-wdl it
// fits the win/draw/loss model (UCI_ShowWDL) to today's evaluation instead,
// on the training part, and prints its declaration.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tuning.h"
#include "uci.h"

// ---- Tunable constants ---------------------------------------------------------
constexpr int DEFAULT_EPOCHS = 400;
constexpr double DEFAULT_RATE = 1.0;
constexpr int REPORT_EVERY = 25;
constexpr double DEFAULT_MIN_EVIDENCE = 500;

// The result to --out, or standard output; the exit status.
static int write_source(const std::string& source, const char* out_path) {
    FILE* out = out_path ? fopen(out_path, "w") : stdout;
    if (!out) {
        fprintf(stderr, "brik-tuner: cannot write %s\n", out_path);
        return 1;
    }
    fputs(source.c_str(), out);
    if (out != stdout) fclose(out);
    return 0;
}

int main(int argc, char** argv) {
    const char* data = nullptr;
    const char* out_path = nullptr;
    long limit = 0;
    bool fit_wdl = false;
    AdamOptions options = {DEFAULT_EPOCHS, DEFAULT_RATE, REPORT_EVERY, nullptr, DEFAULT_MIN_EVIDENCE};
    for (int i = 1; i < argc; i++) {
        bool has_value = i + 1 < argc;
        if (!strcmp(argv[i], "--data") && has_value) data = argv[++i];
        else if (!strcmp(argv[i], "--out") && has_value) out_path = argv[++i];
        else if (!strcmp(argv[i], "--limit") && has_value) limit = atol(argv[++i]);
        else if (!strcmp(argv[i], "--epochs") && has_value) options.epochs = atoi(argv[++i]);
        else if (!strcmp(argv[i], "--rate") && has_value) options.rate = atof(argv[++i]);
        else if (!strcmp(argv[i], "--min-evidence") && has_value) options.min_evidence = atof(argv[++i]);
        else if (!strcmp(argv[i], "--fit-wdl")) fit_wdl = true;
        else {
            fprintf(stderr, "usage: brik-tuner --data FILE [--limit N] [--epochs N] [--rate R]\n"
                            "                  [--min-evidence E] [--out FILE]\n"
                            "       brik-tuner --data FILE --fit-wdl [--limit N] [--out FILE]\n");
            return 2;
        }
    }
    if (!data) {
        fprintf(stderr, "brik-tuner: --data FILE is needed\n");
        return 2;
    }
    init_engine_tables();
    TuneSet all, train, held_out;
    long read = tune_load(data, all, limit);
    if (read < 0) {
        fprintf(stderr, "brik-tuner: cannot open %s\n", data);
        return 1;
    }
    if (read < 2) {
        fprintf(stderr, "brik-tuner: %s holds too few positions (%ld)\n", data, read);
        return 1;
    }
    tune_split(all, train, held_out);
    all = TuneSet();
    fprintf(stderr, "positions: %zu training, %zu held out\n", train.size(), held_out.size());

    TuneParams params = tune_params_from_weights();
    if (fit_wdl) {
        fprintf(stderr, "log loss of today's model: training %.5f, held out %.5f\n",
                tune_wdl_loss(train, params, WDL_MODEL), tune_wdl_loss(held_out, params, WDL_MODEL));
        WdlModel model = tune_fit_wdl(train, params);
        fprintf(stderr, "log loss of the fitted model: training %.5f, held out %.5f\n",
                tune_wdl_loss(train, params, model), tune_wdl_loss(held_out, params, model));
        return write_source(tune_wdl_source(model), out_path);
    }
    double k = tune_fit_k(train, params);
    int held = 0;
    for (double e : tune_evidence(train)) held += e < options.min_evidence;
    fprintf(stderr, "%d of %d values held for want of evidence (under %.0f)\n", held, 2 * WEIGHT_COUNT,
            options.min_evidence);
    fprintf(stderr, "K = %.4f\n", k);
    double train_before = tune_error(train, params, k), held_before = tune_error(held_out, params, k);
    fprintf(stderr, "error before: training %.7f, held out %.7f\n", train_before, held_before);
    tune_adam(train, params, k, options);
    fprintf(stderr, "error after:  training %.7f, held out %.7f\n", tune_error(train, params, k),
            tune_error(held_out, params, k));

    return write_source(tune_weights_source(params), out_path);
}
