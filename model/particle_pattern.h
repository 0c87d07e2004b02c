// The one interface through which a fit takes a particle's model: the
// particle's complex term s over a window of nodes, column by column, with
// its derivatives along x, y, z and r. The fit's normal matrix, its standard
// errors and the field of held particles all come from it, so a new kind of
// particle plugs in by giving its pattern here.
#pragma once

#include <complex>
#include <cstddef>
#include <memory>
#include <optional>
#include <vector>

#include "model/particle_model.h"

namespace partiscope {

// The particle's term s: 'toolbox' the six modules' far-field term (half an
// opaque disc's, without the phase across the disc: right for Fresnel
// numbers r^2/(lambda z) well below 0.01); 'disc' the exact diffraction of
// an opaque disc (contrast 1), at any Fresnel number.
enum class ParticleKind { toolbox, disc };

// The pixel-integration width: K as given, else the particle's default: 1
// (each pixel's area) for 'disc', since recorded holograms come from pixels
// with area; 0 (point samples) for 'toolbox', as its modules compute.
inline double pixel_width(ParticleKind particle, const std::optional<double>& K) {
    return K ? *K : (particle == ParticleKind::disc ? 1.0 : 0.0);
}

// Working arrays of one thread's columns, kept from column to column.
struct PatternScratch {
    JacobianScratch toolbox;
    std::vector<double> rho, R0, phase, sin_phase, cos_phase;
    std::vector<std::complex<double>> values;
};

// One particle's pattern over one window, made once per evaluation of the
// fit and shared by the threads that take its columns.
class WindowPattern {
public:
    virtual ~WindowPattern() = default;
    // Column col of the window (0-based): s at each of its w.rows nodes and,
    // where out.d_re[0] is set, ds/dx, ds/dy, ds/dz and ds/dr (metres).
    virtual void column(std::size_t col, const JacobianColumn& out,
                        PatternScratch& scratch) const = 0;
};

// The pattern of the particle of p (x, y, z, r, pix, lambda, M, N and the
// pixel width K) over window w.
std::unique_ptr<WindowPattern> window_pattern(ParticleKind kind, const ModelParams& p,
                                              const NodeWindow& w);

// The farthest distance (metres) from the particle of p to a node of the
// window: the reach its pattern must have there.
double farthest_node(const ModelParams& p, const NodeWindow& w);

// The largest radius whose pattern a kind computes at depth z out to
// distance reach from the particle's axis (metres; infinite where there is
// no bound). A fit keeps its particles within.
double largest_radius(ParticleKind kind, double lambda, double z, double reach);

// The summed term sum_k a_k s_k of particles (x, y, z, r in metres) of one
// kind over a whole M-by-N grid, written into re and im; amplitude empty:
// all 1.
void particle_field(ParticleKind kind, const std::vector<ModelParams>& particles,
                    const std::vector<double>& amplitude, std::size_t M, std::size_t N,
                    double* re, double* im);

}  // namespace partiscope
