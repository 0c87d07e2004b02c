#include "ring_fit.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include "model/particle_jacobian.h"
#include "model/particle_model.h"
#include "numerics/bessel.h"
#include "numerics/error.h"
#include "numerics/j0.h"
#include "numerics/parallel.h"
#include "numerics/units.h"
#include "numerics/vecmath.h"
#include "numerics/constants.h"
#include "numerics/dense.h"


namespace partiscope {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The data's slope along one parameter from the model's: scale Re(conj(F)
// ds) (F null: scale d(Re s)). add: onto v, for the components that do
// not interfere with the illumination.
PARTISCOPE_VECTOR_CLONES void data_slope(std::size_t n, double scale, const double* __restrict Fr,
                                         const double* __restrict Fi, const double* __restrict dre,
                                         const double* __restrict dim, double* __restrict v,
                                         bool add = false) {
    if (add) {
        for (std::size_t i = 0; i < n; ++i) v[i] += scale * (Fr[i] * dre[i] + Fi[i] * dim[i]);
    } else if (Fr) {
        for (std::size_t i = 0; i < n; ++i) v[i] = scale * (Fr[i] * dre[i] + Fi[i] * dim[i]);
    } else {
        for (std::size_t i = 0; i < n; ++i) v[i] = scale * dre[i];
    }
}

// ---- the parameters ---------------------------------------------------------

// Every parameter of the model; x and y in pixels from the grid origin, as
// in the tables.
struct Params {
    std::vector<double> x, y, z, r, a, n;  // n: a sphere's index
    double b = 0, c = 0;
};

// The parameters of a particle, in the order of the layout.
constexpr int kParticleParams = 6;

// Where each fitted parameter sits in the solution vector (-1: held).
struct Layout {
    std::vector<std::array<int, kParticleParams>> particle;  // x, y, z, r, a, n of each
    int b = -1, c = -1;
    std::size_t size = 0;
};

Layout layout_of(std::size_t n, const FitOptions& o) {
    Layout l;
    l.particle.resize(n);
    int next = 0;
    const bool has_index = particle_has_index(o.particle);
    for (std::size_t k = 0; k < n; ++k) {
        const bool held = o.held && o.held[k];
        for (int q = 0; q < 4; ++q) l.particle[k][q] = o.free[q] && !held ? next++ : -1;
        l.particle[k][4] = o.contrast_free && !held ? next++ : -1;
        l.particle[k][5] = has_index && o.free[4] && !held ? next++ : -1;
    }
    if (!o.background_fixed) l.b = next++;
    if (!o.offset_fixed) l.c = next++;
    l.size = static_cast<std::size_t>(next);
    return l;
}

Params stepped(const Params& p, const Layout& l, const std::vector<double>& delta) {
    Params t = p;
    for (std::size_t k = 0; k < l.particle.size(); ++k) {
        std::vector<double>* field[kParticleParams] = {&t.x, &t.y, &t.z, &t.r, &t.a, &t.n};
        for (int q = 0; q < kParticleParams; ++q) {
            if (l.particle[k][q] >= 0)
                (*field[q])[k] += delta[static_cast<std::size_t>(l.particle[k][q])];
        }
    }
    if (l.b >= 0) t.b += delta[static_cast<std::size_t>(l.b)];
    if (l.c >= 0) t.c += delta[static_cast<std::size_t>(l.c)];
    return t;
}

// The largest radius whose pattern can be computed for a particle at (x, y)
// (pixels from the grid origin) and depth z over the whole sensor, the
// widest window it may get.
double largest_radius_on(const FitInput& in, const FitOptions& o, double x, double y, double z) {
    ModelParams p;
    p.x = x * in.pix;
    p.y = y * in.pix;
    p.pix = in.pix;
    p.M = static_cast<double>(in.M);
    p.N = static_cast<double>(in.N);
    NodeWindow sensor;
    sensor.rows = in.M;
    sensor.cols = in.N;
    return largest_radius(o.particle, in.lambda, z, farthest_node(p, sensor));
}

// Within the volume where the particles' patterns can be computed.
// A sphere's radius may grow at most this many times its start: a fit that
// wanders that far has lost its bead, and its series and table would grow
// with the radius at every refused trial.
constexpr double kMostSphereGrowth = 4.0;

bool physical(const Params& p, const FitInput& in, const FitOptions& o) {
    for (std::size_t k = 0; k < p.z.size(); ++k) {
        if (particle_has_index(o.particle) && !(p.r[k] <= kMostSphereGrowth * in.p0[k + 3 * in.n]))
            return false;
        // A centre beyond a sensor's size from the grid centre leaves too
        // little of its pattern to measure (as a start there is refused),
        // and a pattern's table grows with its distance from the sensor.
        if (!(std::fabs(p.x[k]) <= static_cast<double>(in.M)) ||
            !(std::fabs(p.y[k]) <= static_cast<double>(in.N)))
            return false;
        if (!(p.z[k] > 0.0) || !(p.r[k] > 0.0) || !std::isfinite(p.x[k]) ||
            !std::isfinite(p.y[k]) || !std::isfinite(p.z[k]) || !std::isfinite(p.r[k]) ||
            !std::isfinite(p.a[k]) ||
            (particle_has_index(o.particle) &&
             !(p.n[k] > 0.0 && p.n[k] <= largest_index(o.particle, o.medium_index))) ||
            !(p.r[k] <= largest_radius_on(in, o, p.x[k], p.y[k], p.z[k])))
            return false;
    }
    return std::isfinite(p.b) && std::isfinite(p.c);
}

// ---- the sums over the pixels ------------------------------------------------

// start: the sums that set b and c; cost: chi^2; jacobian: chi^2, J^T W r
// and J^T W J without the terms between particles that are not `coupled`.
enum class Pass { start, cost, jacobian };

// What one pass over the pixels yields. start: the sums of the linear fit of
// b and c with the particles' model at its start (f = |F|^2 or 1 - 2 sum a m
// at b = 1, c = 0); cost: chi^2; jacobian: chi^2, J^T W J and J^T W r.
struct Sums {
    double chi2 = 0;
    double swff = 0, swf = 0, sw = 0, swfd = 0, swd = 0, swdd = 0;
    std::vector<double> N, g;

    void add(const Sums& o) {
        chi2 += o.chi2;
        swff += o.swff;
        swf += o.swf;
        sw += o.sw;
        swfd += o.swfd;
        swdd += o.swdd;
        swd += o.swd;
        for (std::size_t i = 0; i < N.size(); ++i) N[i] += o.N[i];
        for (std::size_t i = 0; i < g.size(); ++i) g[i] += o.g[i];
    }
};

// Particle k's model on the sensor: x and y to metres, as synthplate
// takes its table.
ModelParams model_params_of(const FitInput& in, const FitOptions& o, const Params& p,
                            std::size_t k) {
    ModelParams m;
    m.x = p.x[k] * in.pix;
    m.y = p.y[k] * in.pix;
    m.z = p.z[k];
    m.r = p.r[k];
    m.pix = in.pix;
    m.lambda = in.lambda;
    m.M = static_cast<double>(in.M);
    m.N = static_cast<double>(in.N);
    m.K = pixel_width(o.particle, o.K);
    m.index = p.n[k];
    m.medium = o.medium_index;
    m.polarization = o.polarization;
    return m;
}

struct ColumnWork;

class Problem {
   public:
    // data: the hologram with 0 where the weight is 0 (whatever it held).
    // coupled: n-by-n, whether the steps take the terms between two
    // particles into account.
    // held: the summed complex field a s of the held particles over the
    // sensor (re, im), or null; their windows are empty.
    Problem(const FitInput& in, const FitOptions& o, const double* data,
            const std::vector<NodeWindow>& windows, const Layout& layout,
            const std::vector<char>& coupled, const ParticleField* held = nullptr)
        : in_(in), o_(o), data_(data), windows_(windows), layout_(layout), coupled_(coupled),
          held_(held) {}

    Sums pass(const Params& p, Pass what) const;

   private:
    void pass_block(std::size_t j0, std::size_t j1, const Params& p, Pass what,
                    const std::vector<std::unique_ptr<WindowPattern>>& patterns, Sums& s) const;
    void particle_columns(std::size_t j, bool jacobian,
                          const std::vector<std::unique_ptr<WindowPattern>>& patterns,
                          ColumnWork& c) const;
    void column_field(std::size_t j, const Params& p, ColumnWork& c) const;
    void add_normal_terms(std::size_t j, const Params& p, ColumnWork& c, Sums& s) const;

    ModelParams model_params(const Params& p, std::size_t k) const {
        return model_params_of(in_, o_, p, k);
    }

    const FitInput& in_;
    const FitOptions& o_;
    const double* data_;
    const std::vector<NodeWindow>& windows_;
    const Layout& layout_;
    const std::vector<char>& coupled_;
    const ParticleField* held_;
};

// The work of one block of columns of a pass: per particle its column of
// values and derivatives, then the data's derivatives along its free
// parameters (rows of its window); the column's field and residual; and
// the sums.
struct ColumnWork {
    // components: of each pattern, 1 or 3; per component the values and the
    // derivatives along the particle's five parameters of shape and place.
    ColumnWork(const FitInput& in, const std::vector<NodeWindow>& windows, bool jacobian,
               std::size_t components)
        : model(windows.size()), slope(windows.size()), Fre(in.M), Fim(in.M), f(in.M), res(in.M),
          wres(in.M), ones(in.M, 1.0), components(components) {
        for (std::size_t c = 1; c < components; ++c) {
            Gre[c - 1].resize(in.M);
            Gim[c - 1].resize(in.M);
        }
        for (std::size_t k = 0; k < windows.size(); ++k) {
            const std::size_t S = row_stride(windows[k].rows);
            model[k].resize(S * (jacobian ? kStride : 2) * components);
            if (jacobian) slope[k].resize(S * kParticleParams);
        }
    }
    // The distance between a window's arrays of one column: its rows padded
    // to an odd number of cache lines. A window of 1024 rows would put
    // its 36 arrays (a sphere's) 8 KiB apart, all in one set of the level-1
    // cache, and every store of a pixel's derivatives would evict another.
    static std::size_t row_stride(std::size_t rows) {
        const std::size_t lines = (rows + 7) / 8;
        return 8 * (lines | 1);
    }
    // Rows of one component's block: values (re, im), then five derivatives.
    static constexpr std::size_t kStride = 12;
    struct Entry {
        int index;
        std::size_t lo, hi;    // the rows it spans
        const double* v;       // values, indexed by row
        std::size_t particle;  // n for b and c
    };
    std::vector<std::vector<double>> model, slope;
    std::vector<double> Fre, Fim, f, res, wres, ones;
    std::vector<double> Gre[2], Gim[2];  // the non-interfering components' sums
    std::size_t components;
    std::vector<Entry> entries;
    std::vector<std::size_t> in_column;
    PatternScratch scratch;
};

// The particles' columns of column j: values, and derivatives where a
// Jacobian is wanted and the particle moves. A held particle enters with
// its values alone.
void Problem::particle_columns(std::size_t j, bool jacobian,
                               const std::vector<std::unique_ptr<WindowPattern>>& patterns,
                               ColumnWork& c) const {
    c.in_column.clear();
    for (std::size_t k = 0; k < windows_.size(); ++k) {
        const NodeWindow& w = windows_[k];
        if (w.rows == 0 || j < w.col0 || j >= w.col0 + w.cols) continue;
        c.in_column.push_back(k);
        const std::size_t S = ColumnWork::row_stride(w.rows);
        const std::size_t block = (jacobian ? ColumnWork::kStride : 2) * S;
        JacobianColumn out[3];
        const std::array<int, kParticleParams>& idx = layout_.particle[k];
        const bool moves = idx[0] >= 0 || idx[1] >= 0 || idx[2] >= 0 || idx[3] >= 0 || idx[5] >= 0;
        for (std::size_t comp = 0; comp < c.components; ++comp) {
            double* B = c.model[k].data() + comp * block;
            out[comp].re = B;
            out[comp].im = B + S;
            if (!jacobian || !moves) continue;
            // Derivatives along x, y, z, r, and the index where it is fitted.
            for (int q = 0; q < 5; ++q) {
                if (q == 4 && idx[5] < 0) continue;
                out[comp].d_re[q] = B + (2 + 2 * q) * S;
                out[comp].d_im[q] = B + (3 + 2 * q) * S;
            }
        }
        patterns[k]->column(j - w.col0, out, c.scratch);
    }
}

// The field of column j: 1 - sum a s (intensity) or the sum a m (linear),
// from the held particles' field when there is one.
void Problem::column_field(std::size_t j, const Params& p, ColumnWork& c) const {
    const std::size_t M = in_.M;
    const bool intensity = o_.model == FitModel::intensity;
    if (held_) {
        const double* hr = held_->re[0].data() + j * M;
        const double* hi = held_->im[0].data() + j * M;
        for (std::size_t i = 0; i < M; ++i) {
            c.Fre[i] = intensity ? 1.0 - hr[i] : hr[i];
            c.Fim[i] = -hi[i];
        }
        for (std::size_t q = 1; q < c.components; ++q) {
            std::copy_n(held_->re[q].data() + j * M, M, c.Gre[q - 1].data());
            std::copy_n(held_->im[q].data() + j * M, M, c.Gim[q - 1].data());
        }
    } else {
        std::fill(c.Fre.begin(), c.Fre.end(), intensity ? 1.0 : 0.0);
        std::fill(c.Fim.begin(), c.Fim.end(), 0.0);
        for (std::size_t q = 1; q < c.components; ++q) {
            std::fill(c.Gre[q - 1].begin(), c.Gre[q - 1].end(), 0.0);
            std::fill(c.Gim[q - 1].begin(), c.Gim[q - 1].end(), 0.0);
        }
    }
    for (std::size_t k : c.in_column) {
        const NodeWindow& w = windows_[k];
        const double a = p.a[k];
        const std::size_t block = c.model[k].size() / c.components;
        const double* sre = c.model[k].data();
        const std::size_t S = ColumnWork::row_stride(w.rows);
        const double* sim = sre + S;
        double* Fr = c.Fre.data() + w.row0;
        double* Fi = c.Fim.data() + w.row0;
        if (intensity) {
            for (std::size_t i = 0; i < w.rows; ++i) {
                Fr[i] -= a * sre[i];
                Fi[i] -= a * sim[i];
            }
        } else {
            for (std::size_t i = 0; i < w.rows; ++i) Fr[i] += a * sre[i];
        }
        // The linear form keeps the first order only.
        for (std::size_t q = 1; intensity && q < c.components; ++q) {
            const double* tre = sre + q * block;
            const double* tim = tre + S;
            double* Gr = c.Gre[q - 1].data() + w.row0;
            double* Gi = c.Gim[q - 1].data() + w.row0;
            for (std::size_t i = 0; i < w.rows; ++i) {
                Gr[i] += a * tre[i];
                Gi[i] += a * tim[i];
            }
        }
    }
}

// The data's derivative along every free parameter that reaches column j,
// and their products into the normal matrix and the gradient: dh/db = f,
// dh/dc = 1, and for a particle's parameters -2 b a Re(conj(F) ds/dtheta)
// (intensity; + 2 b a Re(conj(G) dt/dtheta) for each further component) or
// -2 b a d(Re s)/dtheta (linear); x and y per pixel.
void Problem::add_normal_terms(std::size_t j, const Params& p, ColumnWork& c, Sums& s) const {
    const std::size_t n = windows_.size(), M = in_.M, P = layout_.size;
    const bool intensity = o_.model == FitModel::intensity;
    const double* wt = o_.weights ? o_.weights + j * M : c.ones.data();
    c.entries.clear();
    if (layout_.b >= 0) c.entries.push_back({layout_.b, 0, M, c.f.data(), n});
    if (layout_.c >= 0) c.entries.push_back({layout_.c, 0, M, c.ones.data(), n});
    for (std::size_t k : c.in_column) {
        const NodeWindow& w = windows_[k];
        const std::size_t R = w.rows, S = ColumnWork::row_stride(R);
        const std::size_t block = c.model[k].size() / c.components;
        const double* Fr = c.Fre.data() + w.row0;
        const double* Fi = c.Fim.data() + w.row0;
        const std::array<int, kParticleParams>& idx = layout_.particle[k];
        for (int q = 0; q < kParticleParams; ++q) {
            if (idx[q] < 0) continue;
            // Contrast: the derivative of s along a is s itself; the index's
            // is the pattern's fifth.
            const std::size_t slot = q < 4 ? static_cast<std::size_t>(2 + 2 * q) : q == 4 ? 0 : 10;
            const double scale = -2.0 * p.b * (q != 4 ? p.a[k] : 1.0) * (q < 2 ? in_.pix : 1.0);
            double* v = c.slope[k].data() + static_cast<std::size_t>(q) * S;
            const double* B = c.model[k].data();
            data_slope(R, scale, intensity ? Fr : nullptr, Fi, B + slot * S, B + (slot + 1) * S, v);
            for (std::size_t comp = 1; intensity && comp < c.components; ++comp) {
                const double* T = B + comp * block;
                data_slope(R, -scale, c.Gre[comp - 1].data() + w.row0, c.Gim[comp - 1].data() + w.row0,
                           T + slot * S, T + (slot + 1) * S, v, true);
            }
            c.entries.push_back({idx[q], w.row0, w.row0 + R, v - w.row0, k});
        }
    }
    for (std::size_t e = 0; e < c.entries.size(); ++e) {
        const ColumnWork::Entry& u = c.entries[e];
        s.g[static_cast<std::size_t>(u.index)] += dot2(u.v, c.wres.data(), u.lo, u.hi);
        for (std::size_t e2 = e; e2 < c.entries.size(); ++e2) {
            const ColumnWork::Entry& v = c.entries[e2];
            if (u.particle < n && v.particle < n && u.particle != v.particle &&
                !coupled_[u.particle * n + v.particle])
                continue;
            const std::size_t lo = std::max(u.lo, v.lo), hi = std::min(u.hi, v.hi);
            const double dot = lo >= hi     ? 0.0
                               : o_.weights ? dot3(u.v, wt, v.v, lo, hi)
                                            : dot2(u.v, v.v, lo, hi);
            s.N[static_cast<std::size_t>(u.index) * P + static_cast<std::size_t>(v.index)] += dot;
            if (u.index != v.index)
                s.N[static_cast<std::size_t>(v.index) * P + static_cast<std::size_t>(u.index)] += dot;
        }
    }
}

// The sums of one block of columns [j0, j1).
void Problem::pass_block(std::size_t j0, std::size_t j1, const Params& p, Pass what,
                         const std::vector<std::unique_ptr<WindowPattern>>& patterns, Sums& s) const {
    const std::size_t M = in_.M, P = layout_.size;
    const bool jacobian = what == Pass::jacobian;
    const bool intensity = o_.model == FitModel::intensity;
    if (jacobian) {
        s.N.assign(P * P, 0.0);
        s.g.assign(P, 0.0);
    }
    ColumnWork c(in_, windows_, jacobian, components_of(o_.particle));
    for (std::size_t j = j0; j < j1; ++j) {
        particle_columns(j, jacobian, patterns, c);
        column_field(j, p, c);
        const double* d = data_ + j * M;
        const double* wt = o_.weights ? o_.weights + j * M : c.ones.data();
        for (std::size_t i = 0; i < M; ++i) {
            c.f[i] = intensity ? c.Fre[i] * c.Fre[i] + c.Fim[i] * c.Fim[i] : 1.0 - 2.0 * c.Fre[i];
            for (std::size_t q = 1; intensity && q < c.components; ++q)
                c.f[i] += c.Gre[q - 1][i] * c.Gre[q - 1][i] + c.Gim[q - 1][i] * c.Gim[q - 1][i];
            c.res[i] = d[i] - (p.b * c.f[i] + p.c);
            c.wres[i] = wt[i] * c.res[i];
        }
        const double chi2 = dot2(c.wres.data(), c.res.data(), 0, M);
        if (what == Pass::start) {
            for (std::size_t i = 0; i < M; ++i) {
                s.swff += wt[i] * c.f[i] * c.f[i];
                s.swf += wt[i] * c.f[i];
                s.sw += wt[i];
                s.swfd += wt[i] * c.f[i] * d[i];
                s.swdd += wt[i] * d[i] * d[i];
                s.swd += wt[i] * d[i];
            }
            continue;
        }
        s.chi2 += chi2;
        if (jacobian) add_normal_terms(j, p, c, s);
    }
}

// Columns are taken in fixed blocks and the blocks' sums added in order: the
// result does not depend on the thread count. Within a column every sum is
// a dot product over the rows two parameters share, in vector loops.
Sums Problem::pass(const Params& p, Pass what) const {
    const std::size_t n = windows_.size(), N = in_.N, P = layout_.size;
    std::vector<std::unique_ptr<WindowPattern>> patterns(n);
    for (std::size_t k = 0; k < n; ++k) {
        if (windows_[k].rows == 0 || windows_[k].cols == 0) continue;
        patterns[k] = window_pattern(o_.particle, model_params(p, k), windows_[k], what == Pass::jacobian);
    }
    constexpr std::size_t kBlockColumns = 32;
    const std::size_t blocks = (N + kBlockColumns - 1) / kBlockColumns;
    std::vector<Sums> partial(blocks);
    parallel_items(blocks, [&](std::size_t block) {
        const std::size_t j0 = block * kBlockColumns, j1 = std::min(N, j0 + kBlockColumns);
        pass_block(j0, j1, p, what, patterns, partial[block]);
    });
    Sums total;
    if (what == Pass::jacobian) {
        total.N.assign(P * P, 0.0);
        total.g.assign(P, 0.0);
    }
    for (const Sums& t : partial) total.add(t);
    return total;
}

// ---- checks -------------------------------------------------------------------

}  // namespace

void validate(const FitOptions& o) {
    if (!o.contrast_free && (!std::isfinite(o.contrast) || o.contrast == 0.0))
        throw Error("Error: Contrast must be a finite non-zero number or 'free'");
    if (o.background_fixed && !std::isfinite(o.background))
        throw Error("Error: Background must be a finite number");
    if (o.offset_fixed && !std::isfinite(o.offset))
        throw Error("Error: Offset must be a finite number");
    if (o.sigma && (!(*o.sigma > 0.0) || !std::isfinite(*o.sigma)))
        throw Error("Error: Sigma must be a positive finite number");
    if (o.K && std::isnan(*o.K)) throw Error("Error: K must be a number");
    kMaxIterRange.of(o.max_iter);
    if (!(o.tolerance > 0.0) || !std::isfinite(o.tolerance))
        throw Error("Error: Tolerance must be a positive finite number");
    validate_optics(o.particle, o.medium_index, o.index, o.polarization, pixel_width(o.particle, o.K));
}

void set_free(FitOptions& o, const std::vector<bool>& free) {
    if (free.size() != 4 && free.size() != 5)
        throw Error("Error: Free must have four elements (x, y, z, r) or five (x, y, z, r, index), "
                    "true where fitted");
    for (std::size_t q = 0; q < free.size(); ++q) o.free[q] = free[q];
}

namespace {

void check(const FitInput& in, const FitOptions& o, std::size_t& pixels_used) {
    if (in.M == 0 || in.N == 0) throw Error("Error: hol must not be empty");
    check_setup_lengths(in.lambda, in.pix);
    if (in.n == 0) throw Error("Error: p0 must be an n-by-4 table [x y z r] with at least one row");
    for (std::size_t k = 0; k < 4 * in.n; ++k) {
        if (!std::isfinite(in.p0[k])) throw Error("Error: p0 must hold finite values");
    }
    for (std::size_t k = 0; k < in.n; ++k) {
        if (!(in.p0[k + 2 * in.n] > 0.0) || !(in.p0[k + 3 * in.n] > 0.0))
            throw Error("Error: p0 must have z > 0 and r > 0 in every row");
        // A centre farther out than a sensor's size leaves too little of the
        // pattern on the sensor to measure.
        if (std::fabs(in.p0[k]) > static_cast<double>(in.M) ||
            std::fabs(in.p0[k + in.n]) > static_cast<double>(in.N))
            throw Error("Error: p0's x and y must lie within one sensor size of the grid centre");
    }
    validate(o);
    for (std::size_t k = 0; o.contrast_start && k < in.n; ++k) {
        if (!std::isfinite(o.contrast_start[k])) throw Error("Error: start contrasts must be finite");
    }
    for (std::size_t k = 0; o.index_start && k < in.n; ++k) {
        if (!(o.index_start[k] > 0.0) || !std::isfinite(o.index_start[k]))
            throw Error("Error: Index must be a positive finite number");
    }
    const std::size_t n = in.M * in.N;
    std::size_t bad_data = 0;
    pixels_used = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const double w = o.weights ? o.weights[k] : 1.0;
        if (!(w >= 0.0) || !std::isfinite(w))
            throw Error("Error: Weights must be finite and non-negative");
        if (w == 0.0) continue;
        ++pixels_used;
        if (!std::isfinite(in.hol[k])) ++bad_data;
    }
    if (pixels_used == 0) throw Error("Error: Weights must not all be zero");
    if (bad_data > 0)
        throw Error("Error: hol has " + std::to_string(bad_data) +
                    " non-finite pixels with non-zero weight; give them weight 0 in Weights");
}

// The window of nodes around a particle: its half-width, clipped to the
// model's grid (the toolbox's leaves out the last row and column of odd
// sizes; the physical models cover every pixel, since the data there hold
// the pattern too).
NodeWindow window_around(double row, double col, double half, std::size_t M, std::size_t N,
                         ParticleKind kind) {
    const bool every = model_covers_every_pixel(kind);
    const double rows = every ? static_cast<double>(M) : 2.0 * std::floor(static_cast<double>(M) * 0.5);
    const double cols = every ? static_cast<double>(N) : 2.0 * std::floor(static_cast<double>(N) * 0.5);
    const double r0 = std::max(0.0, std::floor(row - half)),
                 r1 = std::min(rows, std::ceil(row + half) + 1.0);
    const double c0 = std::max(0.0, std::floor(col - half)),
                 c1 = std::min(cols, std::ceil(col + half) + 1.0);
    NodeWindow w;
    if (r1 <= r0 || c1 <= c0) return w;
    w.row0 = static_cast<std::size_t>(r0);
    w.rows = static_cast<std::size_t>(r1 - r0);
    w.col0 = static_cast<std::size_t>(c0);
    w.cols = static_cast<std::size_t>(c1 - c0);
    return w;
}

}  // namespace

// ---- where a pattern informs the fit -------------------------------------------

namespace {

constexpr double kRingStep = 0.5;  // pixels

// The information of the parameters (x, y, z, r, a, index) of particle p
// from the ring at each radius kRingStep (k + 1/2) pixels, out to reach:
// the pattern's radial slopes, weighted by the part of the ring on the
// sensor (the upper triangle of the 6-by-6 matrix, row by row).
using RingInformation = std::array<double, 21>;
std::vector<RingInformation> ring_information(ParticleKind kind, const ModelParams& p,
                                              std::size_t M, std::size_t N, double reach) {
    const double h = std::floor(static_cast<double>(M) * 0.5),
                 g = std::floor(static_cast<double>(N) * 0.5);
    const double x = p.x / p.pix, y = p.y / p.pix;
    constexpr int kAngles = 32;
    const std::size_t steps = static_cast<std::size_t>(reach / kRingStep) + 1;
    const std::vector<RadialSlopes> slopes = radial_slopes(kind, p, kRingStep * p.pix, steps);
    std::vector<RingInformation> ring(steps);
    double cos_t[kAngles], sin_t[kAngles];
    for (int t = 0; t < kAngles; ++t) {
        const double th = 2 * kPi * (t + 0.5) / kAngles;
        cos_t[t] = std::cos(th);
        sin_t[t] = std::sin(th);
    }
    for (std::size_t s = 0; s < steps; ++s) {
        const double rho_px = (static_cast<double>(s) + 0.5) * kRingStep;
        const RadialSlopes& q = slopes[s];
        double s0 = 0, sc = 0, ss = 0, scc = 0, sss = 0, scs = 0;
        for (int t = 0; t < kAngles; ++t) {
            const double ct = cos_t[t], st = sin_t[t];
            const double px = x + rho_px * ct, py = y + rho_px * st;
            if (px < -h || px > h - 1 || py < -g || py > g - 1) continue;
            s0 += 1;
            sc += ct;
            ss += st;
            scc += ct * ct;
            sss += st * st;
            scs += ct * st;
        }
        const double area = 2 * kPi * rho_px * kRingStep / kAngles;  // pixels per angle
        // Derivatives along x and y: -cos and -sin of the direction times drho.
        const double d[6] = {0, 0, q.dz, q.dr, q.m, q.dn}, drho = q.drho;
        RingInformation& f = ring[s];
        int e = 0;
        for (int a = 0; a < 6; ++a) {
            for (int b = a; b < 6; ++b, ++e) {
                double v;
                if (a == 0 && b == 0)
                    v = drho * drho * scc;
                else if (a == 0 && b == 1)
                    v = drho * drho * scs;
                else if (a == 1 && b == 1)
                    v = drho * drho * sss;
                else if (a == 0)
                    v = -drho * d[b] * sc;
                else if (a == 1)
                    v = -drho * d[b] * ss;
                else
                    v = d[a] * d[b] * s0;
                f[e] = v * area;
            }
        }
    }
    return ring;
}

// The standard errors of the parameters `which` (of x, y, z, r, a, index)
// from the information f; infinite where it is singular.
std::vector<double> ring_errors(const std::vector<int>& which, const RingInformation& f) {
    const std::size_t n = which.size();
    std::vector<double> a(n * n);
    for (std::size_t i = 0; i < n; ++i) {
        for (std::size_t j = 0; j < n; ++j) {
            const int p = std::min(which[i], which[j]), q = std::max(which[i], which[j]);
            a[i * n + j] = f[static_cast<std::size_t>(p * 6 - p * (p - 1) / 2 + (q - p))];
        }
    }
    const std::vector<double> inv = spd_inverse(a, n);
    std::vector<double> se(n, std::numeric_limits<double>::infinity());
    for (std::size_t i = 0; i < n && !inv.empty(); ++i) se[i] = std::sqrt(inv[i * n + i]);
    return se;
}

}  // namespace

double pattern_half_width(ParticleKind kind, const ModelParams& p, std::size_t M, std::size_t N,
                          const bool free[5], bool contrast_free) {
    const double h = std::floor(static_cast<double>(M) * 0.5),
                 g = std::floor(static_cast<double>(N) * 0.5);
    const double x = p.x / p.pix, y = p.y / p.pix;
    const double far_x = std::max(std::fabs(-h - x), std::fabs(h - 1 - x));
    const double far_y = std::max(std::fabs(-g - y), std::fabs(g - 1 - y));
    const double reach = std::sqrt(far_x * far_x + far_y * far_y);  // pixels
    std::vector<int> which;
    for (int q = 0; q < 4; ++q) {
        if (free[q]) which.push_back(q);
    }
    if (contrast_free) which.push_back(4);
    if (particle_has_index(kind) && free[4]) which.push_back(5);
    if (which.empty() || reach < 2.0) return reach;

    const std::vector<RingInformation> ring = ring_information(kind, p, M, N, reach);
    const std::size_t steps = ring.size();
    const auto errors = [&](const RingInformation& f) { return ring_errors(which, f); };
    RingInformation total{};
    for (const auto& f : ring)
        for (std::size_t e = 0; e < total.size(); ++e) total[e] += f[e];
    const std::vector<double> full = errors(total);
    RingInformation sum{};
    for (std::size_t s = 0; s < steps; ++s) {
        for (std::size_t e = 0; e < sum.size(); ++e) sum[e] += ring[s][e];
        if (s % 8 != 7) continue;  // every 4 pixels
        const std::vector<double> se = errors(sum);
        bool close = true;
        for (std::size_t i = 0; i < se.size(); ++i) close = close && se[i] <= 1.005 * full[i];
        if (close) return (static_cast<double>(s) + 1.0) * kRingStep;
    }
    return reach;
}

// ---- the fit -------------------------------------------------------------------

namespace {

// One fit: the start, the windows of its stages, the held particles' field,
// and the Levenberg-Marquardt iterations that take the estimate from stage
// to stage; then the standard errors at the estimate.
class Fit {
public:
    Fit(const FitInput& in, const FitOptions& o)
        : in_(in), o_(o), n_(in.n), M_(in.M), N_(in.N), layout_(layout_of(in.n, o)),
          P_(layout_.size) {
        check(in, o, pixels_used_);
        start();
        plan_windows();
        sum_held();
        mask_data();
        couple();
        start_level();
    }

    FitResult run();
    // chi^2 with the particles at their starts and the level and offset
    // fitted to them (the start's linear fit).
    double level_chi2() const { return level_chi2_; }

private:
    void start();
    void plan_windows();
    std::vector<NodeWindow> windows_at(int stage) const;
    void sum_held();
    void mask_data();
    void couple();
    void start_level();
    Problem problem(const std::vector<NodeWindow>& windows) const {
        return Problem(in_, o_, data_, windows, layout_, coupled_, held_sum_);
    }
    double variance(double chi2) const;
    bool close_enough(const Sums& s, double tolerance) const;
    bool step(const Problem& problem, double& damping, Sums& cur, std::string& message);
    FitResult report(const Sums& cur, bool converged, std::string message) const;

    const FitInput& in_;
    const FitOptions& o_;
    const std::size_t n_, M_, N_;
    const Layout layout_;
    const std::size_t P_;
    std::size_t pixels_used_ = 0;
    Params p_;
    std::vector<double> full_half_, first_half_;
    int stages_ = 1;
    ParticleField held_field_;
    const ParticleField* held_sum_ = nullptr;
    std::vector<double> masked_;
    const double* data_ = nullptr;
    std::vector<char> coupled_;
    int iterations_ = 0;
    double level_chi2_ = 0.0;
};

// A particle's pattern must stay computable over the widest window it may
// get: a start beyond is brought within, a step beyond is refused like one
// to a negative depth.
void Fit::start() {
    for (std::size_t k = 0; k < n_; ++k) {
        const double z = in_.p0[k + 2 * n_];
        p_.x.push_back(in_.p0[k]);
        p_.y.push_back(in_.p0[k + n_]);
        p_.z.push_back(z);
        p_.r.push_back(std::min(in_.p0[k + 3 * n_],
                                0.99 * largest_radius_on(in_, o_, p_.x[k], p_.y[k], z)));
        p_.a.push_back(!o_.contrast_free ? o_.contrast
                       : o_.contrast_start ? o_.contrast_start[k]
                                           : 1.0);
        p_.n.push_back(o_.index_start ? o_.index_start[k] : o_.index);
    }
}

// Where each pattern informs the fit, with room for the particle to move.
void Fit::plan_windows() {
    full_half_.resize(n_);
    first_half_.resize(n_);
    double stages_needed = 1;
    for (std::size_t k = 0; k < n_; ++k) {
        full_half_[k] = o_.cut_patterns
                            ? pattern_half_width(o_.particle, model_params_of(in_, o_, p_, k), M_,
                                                 N_, o_.free, o_.contrast_free) +
                                  4.0
                            : 2.0 * static_cast<double>(std::max(M_, N_));
        // A start a percent off in depth puts the Fresnel phase pi rho^2/(lambda z)
        // off by a percent of itself: within 16 zones (rho^2 = 16 lambda z) that
        // stays near half a radian, and the fit's quadratic model holds (within
        // 16/5 zones for a sphere's start, 5% off). The fit starts there and
        // widens the windows four times (sixteen times the zones) a stage
        // until they are whole: each stage ends within about a standard
        // error, far inside the next one's reach.
        // A held particle, or one already at an optimum, needs its whole
        // window from the start.
        const bool whole = o_.settled || (o_.held && o_.held[k]);
        first_half_[k] = whole ? full_half_[k]
                               : std::min(full_half_[k],
                                          std::max(24.0, std::sqrt(16.0 * in_.lambda * p_.z[k] * start_zones(o_.particle)) / in_.pix));
        // A stage whose window would reach half the whole one goes straight
        // to the whole one.
        stages_needed = std::max(
            stages_needed, 1.0 + std::ceil(0.5 * std::log2(0.5 * full_half_[k] / first_half_[k])));
    }
    stages_ = static_cast<int>(stages_needed);
}

std::vector<NodeWindow> Fit::windows_at(int stage) const {
    const double h = std::floor(static_cast<double>(M_) * 0.5),
                 g = std::floor(static_cast<double>(N_) * 0.5);
    std::vector<NodeWindow> w(n_);
    for (std::size_t k = 0; k < n_; ++k) {
        const double half = stage + 1 >= stages_
                                ? full_half_[k]
                                : std::min(full_half_[k], first_half_[k] * std::ldexp(1.0, 2 * stage));
        // A held particle is in the held field, not in a window.
        if (!(o_.held && o_.held[k])) w[k] = window_around(p_.x[k] + h, p_.y[k] + g, half, M_, N_, o_.particle);
    }
    return w;
}

// The held particles' field, summed once: they do not move.
void Fit::sum_held() {
    if (!o_.held) return;
    std::vector<ModelParams> held;
    std::vector<double> amplitude;
    for (std::size_t k = 0; k < n_; ++k) {
        if (!o_.held[k]) continue;
        held.push_back(model_params_of(in_, o_, p_, k));
        amplitude.push_back(p_.a[k]);
    }
    if (held.empty()) return;
    held_field_ = particle_field(o_.particle, held, amplitude, M_, N_);
    held_sum_ = &held_field_;
}

// Masked pixels enter as 0 at weight 0, whatever the hologram holds there;
// without weights the hologram is used as it is.
void Fit::mask_data() {
    if (o_.weights) {
        masked_.assign(in_.hol, in_.hol + M_ * N_);
        for (std::size_t i = 0; i < M_ * N_; ++i) {
            if (o_.weights[i] == 0.0) masked_[i] = 0.0;
        }
    }
    data_ = o_.weights ? masked_.data() : in_.hol;
}

// Particles are coupled, in the steps and in the standard errors, wherever
// their whole windows overlap: the normal matrix then holds every term the
// Jacobian has. Leaving out the terms of patterns that overlap only in their
// outer fringes looked harmless for a few particles, but with tens of
// overlapping ones the steps no longer follow Gauss-Newton and the fit
// crawls (50 iterations instead of 9 for 20 particles on 1024^2).
void Fit::couple() {
    coupled_.assign(n_ * n_, 0);
    for (std::size_t k = 0; k < n_; ++k) {
        for (std::size_t l = 0; l < n_; ++l) {
            const double reach = full_half_[k] + full_half_[l];
            coupled_[k * n_ + l] =
                std::fabs(p_.x[k] - p_.x[l]) <= reach && std::fabs(p_.y[k] - p_.y[l]) <= reach;
        }
    }
}

// The background and offset that fit best with the particles at their
// start: a linear fit.
void Fit::start_level() {
    p_.b = o_.background_fixed ? o_.background : 1.0;
    p_.c = o_.offset_fixed ? o_.offset : 0.0;
    const Sums s = problem(windows_at(0)).pass(p_, Pass::start);
    if (!o_.background_fixed && !o_.offset_fixed) {
        const double det = s.swff * s.sw - s.swf * s.swf;
        if (det != 0.0) {
            p_.b = (s.swfd * s.sw - s.swf * s.swd) / det;
            p_.c = (s.swff * s.swd - s.swf * s.swfd) / det;
        } else {
            p_.c = s.swd / s.sw;
        }
    } else if (!o_.background_fixed) {
        p_.b = s.swff != 0.0 ? (s.swfd - p_.c * s.swf) / s.swff : 1.0;
    } else if (!o_.offset_fixed) {
        p_.c = (s.swd - p_.b * s.swf) / s.sw;
    }
    const double b = p_.b, c = p_.c;
    level_chi2_ = s.swdd - 2 * b * s.swfd - 2 * c * s.swd + b * b * s.swff + 2 * b * c * s.swf +
                  c * c * s.sw;
}

double Fit::variance(double chi2) const {
    const double dof = static_cast<double>(pixels_used_) - static_cast<double>(P_);
    return o_.sigma ? *o_.sigma * *o_.sigma : (dof > 0 ? chi2 / dof : kNaN);
}

// Converged when the full Gauss-Newton step from here, g^T N^-1 g in units
// of sigma^2, would move the parameters by less than `tolerance` standard
// errors.
bool Fit::close_enough(const Sums& s, double tolerance) const {
    if (s.chi2 == 0.0) return true;
    const std::vector<double> inv = spd_inverse(s.N, P_);
    const double s2 = variance(s.chi2);
    if (inv.empty() || !std::isfinite(s2)) return false;
    double step = 0.0;
    for (std::size_t i = 0; i < P_; ++i)
        for (std::size_t j = 0; j < P_; ++j) step += s.g[i] * inv[i * P_ + j] * s.g[j];
    return step <= tolerance * tolerance * s2;
}

// One Levenberg-Marquardt step, (N + damping diag N) delta = J^T W r, made
// shorter until it lowers chi^2 and keeps z and r positive. A step with a
// short enough damping is taken at once, so the trial point's sums are those
// of the next iteration; after a refused step only chi^2 is wanted. Returns
// false, with the message, when the estimate is at its minimum.
bool Fit::step(const Problem& problem, double& damping, Sums& cur, std::string& message) {
    bool accepted = false;
    Params trial;
    Sums next;
    for (int attempt = 0; attempt < 30 && !accepted; ++attempt, damping *= 10.0) {
        std::vector<double> A = cur.N;
        for (std::size_t j = 0; j < P_; ++j) A[j * P_ + j] += damping * std::max(cur.N[j * P_ + j], 1e-300);
        if (!cholesky(A, P_)) continue;
        trial = stepped(p_, layout_, cholesky_solve(A, P_, cur.g));
        if (!physical(trial, in_, o_)) continue;
        next = problem.pass(trial, attempt == 0 ? Pass::jacobian : Pass::cost);
        accepted = next.chi2 < cur.chi2;
    }
    if (!accepted) {
        // No step, however short, lowers chi^2: the estimate is at its
        // minimum to the rounding of the model.
        message = "converged: no step lowers the residual further";
        return false;
    }
    ++iterations_;
    damping = std::max(damping / 100.0, 1e-12);
    p_ = trial;
    // A step that lowers chi^2 by less than its rounding: the estimate is at
    // the minimum (noiseless data end here).
    const bool floor = cur.chi2 - next.chi2 <= 1e-12 * cur.chi2;
    cur = next.N.empty() ? problem.pass(p_, Pass::jacobian) : std::move(next);
    if (floor) {
        message = "converged: the residual no longer falls beyond its rounding";
        return false;
    }
    return true;
}

FitResult Fit::run() {
    const std::string kClose =
        "converged: a further step would move no parameter by more than Tolerance times its "
        "standard error";
    bool converged = P_ == 0;
    std::string message = P_ == 0 ? "nothing to fit: every parameter is held" : "";
    Sums cur;
    int stage = 0;
    for (; stage < stages_; ++stage) {
        const bool last = stage + 1 == stages_;
        const std::vector<NodeWindow> windows = windows_at(stage);
        const Problem stage_problem = problem(windows);
        cur = stage_problem.pass(p_, Pass::jacobian);
        if (P_ == 0) break;
        // Earlier stages only bring the estimate within the next one's reach.
        const double tolerance = last ? o_.tolerance : std::max(o_.tolerance, 1.0);
        // Damping starts light: the start is near enough for Gauss-Newton
        // steps, and a heavy start would hold back the steps along the
        // correlated directions (depth against radius) for many iterations.
        double damping = 1e-7;
        bool done = false;
        while (!done && iterations_ < o_.max_iter) {
            if (close_enough(cur, tolerance)) {
                done = true;
                message = kClose;
                break;
            }
            done = !step(stage_problem, damping, cur, message);
        }
        if (!done && close_enough(cur, tolerance)) {
            done = true;
            message = kClose;
        }
        if (!done) break;
        converged = last;
    }
    if (!converged) message = "not converged: MaxIter iterations reached";
    // The standard errors are those of the whole windows, wherever the
    // iterations stopped (MaxIter 0 asks for them at the start).
    if (P_ > 0 && stage + 1 < stages_) cur = problem(windows_at(stages_ - 1)).pass(p_, Pass::jacobian);
    return report(cur, converged, message);
}

// Standard errors: sigma^2 (J^T W J)^-1 at the estimate.
FitResult Fit::report(const Sums& cur, bool converged, std::string message) const {
    FitResult result;
    result.pixels_ignored = M_ * N_ - pixels_used_;
    const double s2 = variance(cur.chi2);
    const std::vector<double> inv = P_ > 0 ? spd_inverse(cur.N, P_) : std::vector<double>();
    const auto se_of = [&](int j) {
        if (j < 0) return 0.0;
        if (inv.empty()) return kNaN;
        return std::sqrt(s2 * inv[static_cast<std::size_t>(j) * P_ + static_cast<std::size_t>(j)]);
    };
    const std::size_t n = n_, P = P_;
    const Params& p = p_;
    const Layout& layout = layout_;
    std::size_t undetermined = 0;
    result.p.resize(4 * n);
    result.se.resize(4 * n);
    for (std::size_t k = 0; k < n; ++k) {
        const std::array<int, kParticleParams>& idx = layout.particle[k];
        result.p[k] = p.x[k];
        result.p[k + n] = p.y[k];
        result.p[k + 2 * n] = p.z[k];
        result.p[k + 3 * n] = p.r[k];
        result.se[k] = se_of(idx[0]);
        result.se[k + n] = se_of(idx[1]);
        result.se[k + 2 * n] = se_of(idx[2]);
        result.se[k + 3 * n] = se_of(idx[3]);
        result.contrast.push_back(p.a[k]);
        result.contrast_se.push_back(se_of(idx[4]));
        if (particle_has_index(o_.particle)) {
            result.index.push_back(p.n[k]);
            result.index_se.push_back(se_of(idx[5]));
        }
        // A parameter without a finite standard error is not measured, so
        // its particle is not a converged measurement, whatever the steps did.
        bool measured = true;
        for (int j : idx) measured = measured && std::isfinite(se_of(j));
        if (!measured) ++undetermined;
        result.converged.push_back(converged && measured);
        double corr = kNaN;
        if (idx[2] >= 0 && idx[3] >= 0 && !inv.empty()) {
            const std::size_t zi = static_cast<std::size_t>(idx[2]),
                              ri = static_cast<std::size_t>(idx[3]);
            corr = inv[zi * P + ri] / std::sqrt(inv[zi * P + zi] * inv[ri * P + ri]);
        }
        result.zr_correlation.push_back(corr);
    }
    result.background = p.b;
    result.background_se = se_of(layout.b);
    result.offset = p.c;
    result.offset_se = se_of(layout.c);
    result.sigma = std::sqrt(s2);
    result.chi2 = cur.chi2;
    result.iterations = iterations_;
    if (undetermined > 0)
        message = "not converged: " + std::to_string(undetermined) + " of " + std::to_string(n) +
                  " particles without a finite standard error" +
                  (inv.empty() ? " (the information matrix is singular: some parameter is not "
                                 "determined by the data)"
                               : "") +
                  "; the iterations: " + message;
    result.message = message;
    return result;
}


}  // namespace

double held_chi2(const FitInput& in, const FitOptions& o) {
    FitOptions held = o;
    for (bool& f : held.free) f = false;
    held.cut_patterns = false;
    held.settled = true;  // whole windows: every start is compared over the same pixels
    held.max_iter = 0;
    return Fit(in, held).level_chi2();
}

namespace {

// A sphere's hologram is nearly unchanged along the valley where its radius
// and index trade off at a constant optical path (n_p - n_m) a: the fit can
// settle in a neighbouring minimum a few percent along it (1 start in 60,
// 5% off in radius and 0.02 in index, in the sphere benchmark), where the
// residual is plainly more than the noise. Steps along the valley from there.
constexpr double kValleySteps[] = {-0.04, 0.04, -0.08, 0.08};

// Whether a fit's residual is more than the noise given can explain: chi^2
// beyond its mean by `deviations` of its standard deviations and, with
// `variance_ratio`, the residual's variance beyond that many times the
// noise's (a gross misfit, whatever a model's small error on real data).
bool beyond_noise(const FitResult& r, const FitInput& in, const FitOptions& o, double deviations,
                  double variance_ratio = 0.0) {
    if (!o.sigma) return false;
    const double dof = static_cast<double>(in.M * in.N - r.pixels_ignored) -
                       static_cast<double>(kParticleParams * in.n + 2);
    const double chi2 = r.chi2 / (*o.sigma * *o.sigma);
    return dof > 0 && chi2 > dof + deviations * std::sqrt(2.0 * dof) && chi2 > variance_ratio * dof;
}

}  // namespace

FitResult ring_fit(const FitInput& in, const FitOptions& o) {
    FitResult best = Fit(in, o).run();
    const bool valley = particle_has_index(o.particle) && o.free[3] && o.free[4] && o.max_iter > 0;
    // Only a fit that ended at a minimum has a valley to step along; one
    // that ran out of iterations is lost, not beside the truth.
    const bool at_minimum =
        std::find(best.converged.begin(), best.converged.end(), false) == best.converged.end();
    for (double step : kValleySteps) {
        if (!valley || !at_minimum || !beyond_noise(best, in, o, 5.0)) break;
        std::vector<double> p0 = best.p, index = best.index;
        for (std::size_t k = 0; k < in.n; ++k) {
            if (o.held && o.held[k]) continue;
            p0[k + 3 * in.n] *= 1.0 + step;
            index[k] = o.medium_index + (index[k] - o.medium_index) / (1.0 + step);
        }
        FitInput moved = in;
        moved.p0 = p0.data();
        FitOptions from = o;
        from.index_start = index.data();
        try {
            FitResult r = Fit(moved, from).run();
            if (r.chi2 < best.chi2) best = std::move(r);
        } catch (const Error&) {
            // A step off the valley's end (a radius beyond its depth, a
            // start out of range): no restart there.
        }
    }
    // A minimum the noise cannot explain is not the data's: its values are
    // no measurement (1 bead in 240 of the benchmark, started at the far
    // corner of its start box).
    if (valley && beyond_noise(best, in, o, 5.0, 2.0)) {
        best.converged.assign(in.n, false);
        best.message = "not converged: the residual is far beyond the noise given (Sigma) at the "
                       "estimate reached; start nearer the truth. The iterations: " + best.message;
    }
    return best;
}

}  // namespace partiscope
