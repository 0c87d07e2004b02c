#include "model/particle_pattern.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "model/disc_pattern.h"
#include "model/sphere_pattern.h"
#include "numerics/constants.h"
#include "model/particle_jacobian.h"
#include "numerics/bessel.h"
#include "numerics/error.h"
#include "numerics/j0.h"
#include "numerics/parallel.h"

namespace partiscope {

namespace {

// The toolbox's term: the row and column terms are made once for the window
// and each column combines them (the fast model's own layout).
class ToolboxWindow final : public WindowPattern {
public:
    ToolboxWindow(const ModelParams& p, const NodeWindow& w) : p_(p), axes_(jacobian_axes(p, w)) {}

    void column(std::size_t col, const JacobianColumn* out, PatternScratch& scratch) const override {
        model_jacobian_column(p_, *axes_, col, out[0], scratch.toolbox);
    }

private:
    ModelParams p_;
    JacobianAxesPtr axes_;
};

}  // namespace

std::unique_ptr<WindowPattern> window_pattern(ParticleKind kind, const ModelParams& p,
                                              const NodeWindow& w, bool derivatives) {
    if (kind == ParticleKind::disc) return disc_window_pattern(p, w);
    if (kind == ParticleKind::sphere) return sphere_window_pattern(p, w, derivatives);
    return std::make_unique<ToolboxWindow>(p, w);
}

double largest_radius(ParticleKind kind, double lambda, double z, double reach) {
    // A sphere lies wholly above the focal plane, and its series stays
    // within the size parameter its terms are bounded for.
    if (kind == ParticleKind::sphere)
        return std::min(0.999 * z, 0.999 * kMostSizeParameter * lambda / (2.0 * kPi));
    if (kind != ParticleKind::disc) return std::numeric_limits<double>::infinity();
    // The disc's table bounds its oscillations over the reach and its
    // Fresnel number; a thousandth below both, so that rounding never
    // crosses them.
    return 0.999 * std::min(kMostOscillations * lambda * z / reach,
                            std::sqrt(kMostFresnelNumber * lambda * z));
}

double largest_index(ParticleKind kind, double medium_index) {
    return kind == ParticleKind::sphere ? 0.999 * kMostRelativeIndex * medium_index
                                        : std::numeric_limits<double>::infinity();
}

ParticleKind particle_named(const std::string& name) {
    if (name == "disc") return ParticleKind::disc;
    if (name == "toolbox") return ParticleKind::toolbox;
    if (name == "sphere") return ParticleKind::sphere;
    throw Error("Error: Particle must be 'disc', 'toolbox' or 'sphere'");
}

void validate_optics(ParticleKind particle, double medium_index, double index,
                     double polarization, double K) {
    if (particle != ParticleKind::sphere) return;
    if (!(medium_index > 0.0) || !std::isfinite(medium_index))
        throw Error("Error: 'sphere' needs MediumIndex, the refractive index of the medium (a "
                    "positive number)");
    if (!(index > 0.0) || !std::isfinite(index))
        throw Error("Error: Index must be a positive finite number");
    if (!std::isfinite(polarization)) throw Error("Error: Polarization must be a finite angle");
    if (K != 0.0)
        throw Error("Error: K must be 0 for 'sphere': its pattern is sampled at the pixels' centres");
}

std::vector<RadialSlopes> radial_slopes(ParticleKind kind, const ModelParams& p, double step,
                                        std::size_t count) {
    std::vector<RadialSlopes> out(count);
    if (kind == ParticleKind::sphere) {
        // A ray of nodes from the axis: a sensor of pitch `step` with the
        // particle half a node before a column's first node, and the
        // polarization turned so that the ray lies at 45 degrees to it.
        ModelParams ray = p;
        ray.pix = step;
        ray.M = 2.0 * static_cast<double>(count + 1);
        ray.N = 2.0;
        ray.x = -0.5 * step;
        ray.y = 0.0;
        ray.polarization = -0.25 * kPi;
        NodeWindow w;
        w.row0 = count + 1;
        w.rows = count;
        w.col0 = 1;
        w.cols = 1;
        std::vector<double> v(3 * 12 * count);
        JacobianColumn col[3];
        for (std::size_t c = 0; c < 3; ++c) {
            double* B = v.data() + 12 * c * count;
            col[c].re = B;
            col[c].im = B + count;
            for (int q = 0; q < 5; ++q) {
                col[c].d_re[q] = B + (2 + 2 * q) * count;
                col[c].d_im[q] = B + (3 + 2 * q) * count;
            }
        }
        PatternScratch scratch;
        window_pattern(kind, ray, w)->column(0, col, scratch);
        for (std::size_t s = 0; s < count; ++s) {
            // Along the ray, moving the particle along x is moving the node back.
            out[s] = {v[s], -v[2 * count + s], v[6 * count + s], v[8 * count + s], v[10 * count + s]};
        }
        return out;
    }
    const JacobianConstants t = jacobian_constants(p.z, p.r, p.lambda);
    parallel_for(
        count,
        [&](std::size_t first, std::size_t last) {
            for (std::size_t s = first; s < last; ++s) {
                const double rho = (static_cast<double>(s) + 0.5) * step;
                const double u = t.k * rho;
                const double J = besscylone(static_cast<float>(u), kCylThresholdFine,
                                            Quotient::double_precision);
                double J0;
                j0_array(&u, &J0, 1);
                const double phi = kPi * t.c * rho * rho;
                // The node at distance rho along x: ds/dx there is -ds/drho.
                const NodeJacobian n =
                    node_jacobian(t, rho, 0.0, u, J, J0, phi, std::sin(phi), std::cos(phi));
                out[s] = {n.s.re, -n.d[0].re, n.d[2].re, n.d[3].re, 0.0};
            }
        },
        256);
    return out;
}

double ParticleField::intensity(std::size_t i, double b, double c) const {
    const double fr = 1.0 - re[0][i], fi = im[0][i];
    double f = fr * fr + fi * fi;
    for (std::size_t q = 1; q < components; ++q) f += re[q][i] * re[q][i] + im[q][i] * im[q][i];
    return b * f + c;
}

ParticleField particle_field(ParticleKind kind, const std::vector<ModelParams>& particles,
                             const std::vector<double>& amplitude, std::size_t M, std::size_t N) {
    ParticleField f;
    f.components = kind == ParticleKind::sphere ? 3 : 1;
    for (std::size_t q = 0; q < f.components; ++q) {
        f.re[q].assign(M * N, 0.0);
        f.im[q].assign(M * N, 0.0);
    }
    if (kind == ParticleKind::toolbox) {
        // The toolbox's own summation, bit for bit its modules' fields.
        model_field(f.re[0].data(), f.im[0].data(), particles.data(), particles.size(),
                    static_cast<double>(M), static_cast<double>(N), amplitude.data());
        return f;
    }
    NodeWindow all;
    all.rows = M;
    all.cols = N;
    std::vector<double> col(2 * 3 * M);
    JacobianColumn out[3];
    for (std::size_t q = 0; q < 3; ++q) {
        out[q].re = col.data() + 2 * q * M;
        out[q].im = out[q].re + M;
    }
    PatternScratch scratch;
    for (std::size_t k = 0; k < particles.size(); ++k) {
        const std::unique_ptr<WindowPattern> pattern = window_pattern(kind, particles[k], all, false);
        const double a = amplitude.empty() ? 1.0 : amplitude[k];
        for (std::size_t j = 0; j < N; ++j) {
            pattern->column(j, out, scratch);
            for (std::size_t q = 0; q < f.components; ++q) {
                for (std::size_t i = 0; i < M; ++i) {
                    f.re[q][i + j * M] += a * out[q].re[i];
                    f.im[q][i + j * M] += a * out[q].im[i];
                }
            }
        }
    }
    return f;
}

}  // namespace partiscope
