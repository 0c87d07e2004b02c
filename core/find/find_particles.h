// Finding every particle of a recorded hologram and measuring it: the
// stack scan proposes candidates, each is brought within the fit's reach
// by a fine scan of the criterion in depth and radius, all are fitted
// jointly with the hologram's background level and offset, their patterns
// are subtracted, and the residual is scanned again for the particles the
// stronger ones hid, until no candidate passes the threshold.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "core/detection/detection_stack.h"
#include "core/fit/ring_fit.h"
#include "core/sensor.h"

namespace partiscope {

// Every option of the search, with its default.
struct FindOptions {
    FitModel model = FitModel::intensity;  // the form of the hologram fitted
    ParticleKind particle = ParticleKind::disc;  // the particle's term fitted
    bool contrast_free = false;  // true: one fitted contrast per particle; the level and
                                 // the offset are then told apart only by the pattern's
                                 // second-order term, and weakly
    double contrast = 1.0;       // every particle's contrast when not free (an opaque disc's)
    const double* weights = nullptr;  // M*N relative inverse variances (0 masks); null: all 1
    std::optional<double> K;     // > 0: pixels integrate the model over K pixels; not
                                 // given: the particle's default (pixel_width)
    double threshold = 6.5;      // least detection signal-to-noise ratio of a new particle
    double min_separation = 8.0;  // pixels between candidates of one scan
    std::size_t max_count = 100;  // most particles (the joint fit takes at most 200)
    std::optional<double> sigma;  // noise standard deviation at weight 1; none: from the data
    int max_passes = 10;         // most scans of the residual
    int max_iter = 50;           // the fit's most iterations a pass
    double tolerance = 0.1;      // the fit's convergence, in standard errors
    double medium_index = 0.0;   // a sphere's medium: its refractive index (required)
    double index = 1.5;          // the middle of the spheres' index scan
    double polarization = 0.0;   // the illumination's polarization angle from the rows' axis
    std::optional<double> margin;  // pixels searched beyond each edge of the sensor (a whole
                                   // number, at most half its smaller side); not given:
                                   // default_margin
};

// The margin searched when none is given: for discs a quarter of the
// sensor's smaller side, where a particle's outer fringes still cover enough
// of the sensor to be found; for beads none (their fits from the few outer
// fringes on the sensor are not yet measured right, and on bead frames the
// margin cost 40% of the time, many times that on some).
std::size_t default_margin(ParticleKind particle, std::size_t M, std::size_t N);

// The margin of a search on an M-by-N hologram (Error when out of range).
std::size_t search_margin(const FindOptions& options, std::size_t M, std::size_t N);

// The ranges of the search's whole-number options.
constexpr WholeRange kMaxCountRange{"MaxCount", 0, 200};  // all are fitted jointly
constexpr WholeRange kMaxPassesRange{"MaxPasses", 1, 100};

// The options' rules, in the words every host shows (Error).
void validate(const FindOptions& options);

// The hologram as recorded (after background division); the scan's depths
// and radii increasing.
using FindInput = ScanInput;

struct FindResult {
    std::size_t n = 0;                // particles found
    std::vector<double> p, se;        // n-by-4 [x y z r], column-major, and standard errors
    std::vector<double> score;        // each one's detection signal-to-noise ratio
    std::vector<double> contrast, contrast_se;
    std::vector<double> index, index_se;  // spheres' (else empty)
    std::vector<bool> converged;
    std::vector<double> zr_correlation;
    double background = 0, background_se = 0, offset = 0, offset_se = 0;
    double sigma = 0;                 // the noise level the scores are in units of
    int passes = 0;                   // scans made
    std::size_t pixels_ignored = 0;   // weight 0 or not finite
    std::string message;              // how the search ended
};

// Checks the input and options (throws Error with the reason), then
// searches. A hologram without particles gives n = 0, not an error.
FindResult find_particles(const FindInput& in, const FindOptions& options,
                          unsigned planner_flags);

// The info fields of a search, the one table both hosts build their reports
// from: field(name, value) in the order reported.
template <class Field>
void info_fields(const FindResult& r, Field&& field) {
    field("score", r.score);
    field("converged", r.converged);
    field("zr_correlation", r.zr_correlation);
    field("contrast", r.contrast);
    field("contrast_se", r.contrast_se);
    if (!r.index.empty()) {
        field("index", r.index);
        field("index_se", r.index_se);
    }
    field("background", r.background);
    field("background_se", r.background_se);
    field("offset", r.offset);
    field("offset_se", r.offset_se);
    field("sigma", r.sigma);
    field("passes", r.passes);
    field("pixels_ignored", r.pixels_ignored);
    field("message", r.message);
}

// What a fitted row must show to be reported as a particle.
struct RowRules {
    double half_rows = 0, half_cols = 0;  // its centre in the searched field: |x| <= half_rows,
                                          // |y| <= half_cols (pixels)
    double least_z = 0, most_z = 0;       // its depth within the scanned volume's reach
    double least_r = 0;                   // the radius floor
    bool contrast_free = false;           // contrasts fitted: each must be significant
    double threshold = 0;                 // the detection threshold, for that significance
    double pix = 0;                       // the pixel pitch (metres)
};

// Which rows of a fit are particles (1) and which are not (0); held rows
// stay. A row is no particle when it left the volume (the centre off the
// searched field, the depth beyond the volume's reach), when the data do not
// determine it (a standard error that is not finite, or a radius below the
// floor: a row that only absorbs the misfit of a neighbour's pattern shrinks
// towards r = 0), when its fitted contrast is indistinguishable from none
// (with free contrasts, unless a row left the volume: the information
// matrix was then singular and no contrast error means anything), or when
// its sphere would overlap a stronger row's (drop_overlaps).
std::vector<char> kept_rows(const FitResult& fit, const std::vector<char>& held,
                            const std::vector<double>& score, const RowRules& rules);

// Two opaque particles cannot overlap: among the rows kept (keep[k] != 0) of
// an n-by-4 table p [x y z r] (x, y in pixels of pitch pix) with standard
// errors se, a row whose sphere would overlap a stronger row's (a higher
// score), within three standard errors of their depths, describes the
// same particle (a split of its pattern) and is no longer kept.
void drop_overlaps(const std::vector<double>& p, const std::vector<double>& se,
                   const std::vector<double>& score, double pix, std::vector<char>& keep);

}  // namespace partiscope
