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
#include <string>
#include <vector>

#include "model/particle_model.h"

namespace partiscope {

// The particle's term s: 'toolbox' the six modules' far-field term (half an
// opaque disc's, without the phase across the disc: right for Fresnel
// numbers r^2/(lambda z) well below 0.01); 'disc' the exact diffraction of
// an opaque disc (contrast 1), at any Fresnel number; 'sphere' the
// Lorenz-Mie field of a homogeneous sphere of fitted index (contrast 1: the
// field itself), whose pattern has two more components that do not
// interfere with the illumination (the field across the polarization and
// along the axis).
enum class ParticleKind { toolbox, disc, sphere };

// The pixel-integration width: K as given, else the particle's default: 1
// (each pixel's area) for 'disc', since recorded holograms come from pixels
// with area; 0 (point samples) for 'toolbox', as its modules compute, and
// for 'sphere', whose pixels are those of a microscope's image plane, far
// finer than its fringes.
inline double pixel_width(ParticleKind particle, const std::optional<double>& K) {
    return K ? *K : (particle == ParticleKind::disc ? 1.0 : 0.0);
}

// The kind of a name as the hosts take it ('disc', 'toolbox', 'sphere';
// lower case), else Error.
ParticleKind particle_named(const std::string& name);

// The components of a kind's pattern (see WindowPattern::components).
inline std::size_t components_of(ParticleKind particle) {
    return particle == ParticleKind::sphere ? 3 : 1;
}
// Whether a kind's pattern is computed at every pixel: the toolbox's grid
// leaves out the last row (column) of an odd number of rows (columns).
inline bool model_covers_every_pixel(ParticleKind particle) {
    return particle != ParticleKind::toolbox;
}
// The share of the first 16 Fresnel zones a fit starts in: 1 where starts
// come a percent off in depth (the detection's fine scan), 1/5 for a
// sphere's, whose starts come 5% off.
inline double start_zones(ParticleKind particle) {
    return particle == ParticleKind::sphere ? 0.2 : 1.0;
}
// The largest index a kind's pattern is computed for in a medium of index
// medium_index (a fit keeps its particles within; infinite where there is
// no index).
double largest_index(ParticleKind particle, double medium_index);
// Whether a kind has a refractive index to fit.
inline bool particle_has_index(ParticleKind particle) { return particle == ParticleKind::sphere; }

// The rules of a kind's optics, in the words every host shows (Error): a
// sphere needs its medium's index, a positive start index, a finite
// polarization angle and point samples (K 0).
void validate_optics(ParticleKind particle, double medium_index, double index,
                     double polarization, double K);

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
    // The pattern's components: 1, the term s, or 3 (a sphere), s and the two
    // components t1, t2 whose intensity adds to the hologram's.
    virtual std::size_t components() const { return 1; }
    // Column col of the window (0-based), into out[0 .. components() - 1]:
    // each component at the window's w.rows nodes and, where out[c].d_re[q]
    // is set, its derivative along x, y, z, r (metres) or the index (q = 4,
    // a sphere's only; wanted from every component alike).
    virtual void column(std::size_t col, const JacobianColumn* out,
                        PatternScratch& scratch) const = 0;
};

// The pattern of the particle of p (x, y, z, r, pix, lambda, M, N and the
// pixel width K) over window w. derivatives: whether its columns will be
// asked for derivatives (a pattern made without may skip what only they
// need, and must then be asked for values alone).
std::unique_ptr<WindowPattern> window_pattern(ParticleKind kind, const ModelParams& p,
                                              const NodeWindow& w, bool derivatives = true);

// The farthest distance (metres) from the particle of p to a node of the
// window: the reach its pattern must have there.
double farthest_node(const ModelParams& p, const NodeWindow& w);

// The largest radius whose pattern a kind computes at depth z out to
// distance reach from the particle's axis (metres; infinite where there is
// no bound). A fit keeps its particles within.
double largest_radius(ParticleKind kind, double lambda, double z, double reach);

// The real part m of a pattern's term and its slopes along the distance rho
// from the axis, z, r and the index, at one distance: what the fit's windows
// are sized from.
struct RadialSlopes {
    double m = 0, drho = 0, dz = 0, dr = 0, dn = 0;
};
// At distances (s + 1/2) step, s = 0 .. count - 1, from the axis of p:
// along the angle where a sphere's pattern is its angular mean (45 degrees
// from the polarization); 'disc' and 'toolbox' windows are sized from the
// toolbox's far-field term alike.
std::vector<RadialSlopes> radial_slopes(ParticleKind kind, const ModelParams& p, double step,
                                        std::size_t count);

// The summed components sum_k a_k s_k (and sum_k a_k t_k of the two others,
// for spheres) of particles of one kind over a whole M-by-N grid.
struct ParticleField {
    std::size_t components = 1;
    std::vector<double> re[3], im[3];  // M*N each, the first `components`
    // The hologram at pixel i with level b and offset c: b (|1 - s|^2 + |t1|^2
    // + |t2|^2) + c.
    double intensity(std::size_t i, double b, double c) const;
};
// amplitude empty: all 1.
ParticleField particle_field(ParticleKind kind, const std::vector<ModelParams>& particles,
                             const std::vector<double>& amplitude, std::size_t M, std::size_t N);

}  // namespace partiscope
