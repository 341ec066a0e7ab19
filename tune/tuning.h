// Texel tuning of the evaluation weights: positions labelled with game
// results, the logistic fit of the scaling constant K, and Adam over the
// middle-game and end-game value of every weight.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "eval.h"

// Positions in the linear form of the evaluation: per position the weights
// that counted (White's count minus Black's), the phase and the fixed part.
struct TuneSet {
    std::vector<uint32_t> first;   // per position: its first term; one extra entry ends the last
    std::vector<uint16_t> weight;  // per term
    std::vector<int16_t> count;
    std::vector<float> mg_share;   // per position: phase / PHASE_MAX
    std::vector<float> fixed;      // White's view, the proximity terms
    std::vector<float> scale;      // end-game scale times the fifty-move shrink
    std::vector<float> offset;     // the mop-up term times the fifty-move shrink
    std::vector<float> result;     // 1 White won, 0.5 draw, 0 Black won
    size_t size() const { return result.size(); }
};

// Parameters: mg of weight i at 2i, eg at 2i + 1.
using TuneParams = std::vector<double>;

TuneParams tune_params_from_weights();
// Rounds the parameters into eval_weights and rebuilds the derived tables.
void tune_params_to_weights(const TuneParams& params);

// Adds one position; false when the FEN is refused.
bool tune_add_position(TuneSet& set, const std::string& fen, double result);
// Reads "FEN | result" lines (result 1.0, 0.5 or 0.0, or 1-0, 1/2-1/2, 0-1).
// Returns the number of positions read, or -1 when the file cannot be opened.
long tune_load(const char* path, TuneSet& set, long limit);
// Splits off the last tenth (at least one position) as held-out data.
void tune_split(const TuneSet& all, TuneSet& train, TuneSet& held_out);

// White's-view evaluation of position p under the parameters (no rounding).
double tune_evaluate(const TuneSet& set, size_t p, const TuneParams& params);
// Mean squared error of the logistic prediction 1 / (1 + 10^(-K e / 400)).
double tune_error(const TuneSet& set, const TuneParams& params, double k);
// The K in [lo, hi] that minimises the error (golden-section search).
double tune_fit_k(const TuneSet& set, const TuneParams& params, double lo = 0.1, double hi = 4.0);

// Mean negative log-likelihood of the results under a win/draw/loss model of
// the evaluation (eval_wdl's), and the model that makes it least, fitted one
// parameter at a time; the model as src/eval.cpp declares it.
double tune_wdl_loss(const TuneSet& set, const TuneParams& params, const WdlModel& model);
WdlModel tune_fit_wdl(const TuneSet& set, const TuneParams& params);
std::string tune_wdl_source(const WdlModel& model);

struct AdamOptions {
    int epochs;
    double rate;
    int report_every;  // print the error every this many epochs, 0 never
    const std::vector<int>* only;  // tune just these weights (all when null)
    // A weight's middle-game (end-game) value is left as it is unless the
    // positions hold at least this much of it: the sum over positions of its
    // count times the phase share. Rare features would otherwise fit noise.
    double min_evidence;
};
// Each parameter's evidence in the set, as min_evidence counts it.
std::vector<double> tune_evidence(const TuneSet& set);
// Full-batch Adam on the training error at fixed K; returns the final error.
double tune_adam(const TuneSet& set, TuneParams& params, double k, const AdamOptions& options);

// The weights as the evaluation's source declares them, ready to paste.
std::string tune_weights_source(const TuneParams& params);
