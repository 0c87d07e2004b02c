#include "model/particle_pattern.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/disc_pattern.h"

namespace partiscope {

namespace {

// The toolbox's term: the row and column terms are made once for the window
// and each column combines them (the fast model's own layout).
class ToolboxWindow final : public WindowPattern {
public:
    ToolboxWindow(const ModelParams& p, const NodeWindow& w) : p_(p), axes_(jacobian_axes(p, w)) {}

    void column(std::size_t col, const JacobianColumn& out, PatternScratch& scratch) const override {
        model_jacobian_column(p_, *axes_, col, out, scratch.toolbox);
    }

private:
    ModelParams p_;
    JacobianAxesPtr axes_;
};

}  // namespace

std::unique_ptr<WindowPattern> window_pattern(ParticleKind kind, const ModelParams& p,
                                              const NodeWindow& w) {
    if (kind == ParticleKind::disc) return disc_window_pattern(p, w);
    return std::make_unique<ToolboxWindow>(p, w);
}

double largest_radius(ParticleKind kind, double lambda, double z, double reach) {
    if (kind != ParticleKind::disc) return std::numeric_limits<double>::infinity();
    // The disc's table bounds its oscillations over the reach and its
    // Fresnel number; a thousandth below both, so that rounding never
    // crosses them.
    return 0.999 * std::min(kMostOscillations * lambda * z / reach,
                            std::sqrt(kMostFresnelNumber * lambda * z));
}

void particle_field(ParticleKind kind, const std::vector<ModelParams>& particles,
                    const std::vector<double>& amplitude, std::size_t M, std::size_t N,
                    double* re, double* im) {
    if (kind == ParticleKind::toolbox) {
        // The toolbox's own summation, bit for bit its modules' fields.
        model_field(re, im, particles.data(), particles.size(), static_cast<double>(M),
                    static_cast<double>(N), amplitude.data());
        return;
    }
    std::fill(re, re + M * N, 0.0);
    std::fill(im, im + M * N, 0.0);
    NodeWindow all;
    all.rows = M;
    all.cols = N;
    std::vector<double> col_re(M), col_im(M);
    JacobianColumn out;
    out.re = col_re.data();
    out.im = col_im.data();
    PatternScratch scratch;
    for (std::size_t k = 0; k < particles.size(); ++k) {
        const std::unique_ptr<WindowPattern> pattern = window_pattern(kind, particles[k], all);
        const double a = amplitude.empty() ? 1.0 : amplitude[k];
        for (std::size_t j = 0; j < N; ++j) {
            pattern->column(j, out, scratch);
            for (std::size_t i = 0; i < M; ++i) {
                re[i + j * M] += a * col_re[i];
                im[i + j * M] += a * col_im[i];
            }
        }
    }
}

}  // namespace partiscope
