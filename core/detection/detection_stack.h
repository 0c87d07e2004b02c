// The detection criterion over a stack of particle depths and radii: every
// position of a field of view scored for every (depth, radius) pair, with
// the transforms of the data and the weights made once for the whole stack,
// and the best score at each position kept with the pair that gave it.
//
// The score is detectscan's: for the model m of the pair centred on a
// pixel, weights w, data d and per-position factor w',
//   q = S c_wd^2 / (S c_wm2 - c_w^2) w',  S = sum w,
// c_w = sum w m, c_wd = sum w d m, c_wm2 = sum w m^2 over the hologram (circular).
// For data that is noise of standard deviation sigma at weight 1 (and
// w' = 1), q / sigma^2 is close to a chi-square variable of one degree of
// freedom at every position, so sqrt(q) / sigma is a detection
// signal-to-noise ratio whose threshold means the same on every plate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "core/detection/detection_map.h"
#include "numerics/whole_range.h"
#include "core/sensor.h"

namespace partiscope {

struct StackInput : ScanInput {
    const double* w = nullptr;       // M*N weights (0 masks a pixel); null: all 1
    const double* w_prim = nullptr;  // M*N per-position factors; null: all 1
    double K = 0;                    // as detectscan's
    FieldOfView fov{1, 1, 1, 1};
    const char* weights_name = "Weights";  // how error messages name w
};

// Where the stack's scores go: both fov.rows() by fov.cols(), column-major.
struct StackMaps {
    double* best = nullptr;       // the best score over the stack (NaN where none is a number)
    std::int32_t* pair = nullptr;  // its pair iz + ir nz, -1 where best is NaN; null only
                                   // for a single pair, whose scores best then holds
};

// Scores every pair into maps and returns each pair's own winner, as
// detection_map would give it for that pair alone (indexed iz + ir nz). A
// tie between pairs at a position goes to the lower pair index, whatever
// thread finished first. Depths and radii are taken as given (no checks
// beyond detection_map's on the data). Working memory: the two data spectra
// (16 bytes a pixel) and 28 bytes a pixel for each thread, whatever the
// number of pairs.
std::vector<DetectionResult> detection_stack(const StackInput& in, const StackMaps& out,
                                             unsigned planner_flags);

// The noise standard deviation at weight 1, from the differences of
// neighbouring pixels along the rows (each normalised by its weights): a
// median, so the fringes of a few particles do not inflate it, and a
// difference, so a smooth background does not. 0 when fewer than two
// neighbouring pixels are usable.
double noise_sigma(const double* hol, const double* w, std::size_t M, std::size_t N);

struct CandidateOptions {
    double threshold = 6.5;       // least detection signal-to-noise ratio sqrt(q)/sigma
    double min_separation = 8.0;  // pixels: no two candidates closer
    std::size_t max_count = 100;  // most candidates (kStackMaxCountRange)
};

struct Candidate {
    std::size_t row = 0, col = 0;  // hologram pixel, 0-based
    std::int32_t pair = 0;
    double score = 0;  // detection signal-to-noise ratio sqrt(q)/sigma
};

// The local maxima of the best map (no neighbour of the 8 higher, none
// earlier in scan order equal) whose score reaches the threshold, strongest
// first (equal scores in scan order), each kept only when it lies at least
// min_separation pixels from every stronger one kept, at most max_count.
std::vector<Candidate> stack_candidates(const StackInput& in, const StackMaps& maps, double sigma,
                                        const CandidateOptions& options);

// Every option of detectstack, with its default.
// The most candidates a stack scan may be asked for.
constexpr WholeRange kStackMaxCountRange{"MaxCount", 0, 100000};

struct StackOptions : CandidateOptions {
    // Noise standard deviation at weight 1 (positive, finite); none:
    // noise_sigma of the data.
    std::optional<double> sigma;
};

struct StackDetection {
    std::vector<Candidate> candidates;
    std::vector<double> table;  // candidates as an n-by-5 table [x y z r score], column-major
    double sigma = 0.0;         // the noise level the scores are in units of
};

// The checks of the stack's input (see detect_stack); Error with the reason.
void check_stack_input(const StackInput& in, const StackOptions& options);

// The checks of the stack's input (depths and radii positive, finite and
// increasing, a hologram of at least 4 by 4 pixels, positive lengths,
// options in range), then detection_stack into maps (both given) and the
// candidates. Throws Error with the reason.
StackDetection detect_stack(const StackInput& in, const StackOptions& options,
                            const StackMaps& maps, unsigned planner_flags);

}  // namespace partiscope
