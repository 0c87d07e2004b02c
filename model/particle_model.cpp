// The model forms used by the modules: the reference evaluation rearranged
// for speed with the same values (see particle_model.h for the tolerance).
//
// - The pixel factor sinc(dx) sinc(dy) is a product of a row term and a
//   column term: each is computed once per row or column, exactly as the
//   reference computes it per node.
// - The Fresnel phase pi c (dx^2 + dy^2) is split the same way:
//   e^(i phi) = e^(i pi c dx^2) e^(i pi c dy^2), so a node needs no sine or
//   cosine for it, only a complex product.
// - J1(u)/u is taken column by column over arrays, its asymptotic branch's
//   sines and cosines on vector units; u itself is formed exactly as in the
//   reference.
// - Columns are split over the cores.
#include <cmath>
#include <algorithm>
#include <cstdint>
#include <vector>

#include "model/particle_jacobian.h"
#include "model/particle_model.h"
#include "model/reference_model.h"
#include "numerics/j0.h"
#include "numerics/bessel.h"
#include "numerics/error.h"
#include "numerics/parallel.h"
#include "numerics/vecmath.h"
#include "numerics/constants.h"

namespace partiscope {

void check_depth_radius(double z, double r) {
    if (z < 0.0) throw Error("Error: Z should be positive");
    if (r < 0.0) throw Error("Error: R should be positive");
}

double pixel_aperture(double w, double pix, double d, double c) {
    if (d == 0.0) return 1.0;
    const double t = w * kPi * pix * d * c;
    return std::sin(t) / t;
}

namespace {

// Row (or column) terms of one axis: offsets from the particle, the pixel
// factor along the axis and the sine and cosine of that axis' phase term.
struct Axis {
    std::vector<double> d, s, sinp, cosp;
};

// Terms of the offsets first, first + 1, ... (count of them), in pixels.
Axis axis_terms(std::int64_t first, std::size_t n, double pix, double centre, double c,
                bool pixel_factor, double width) {
    Axis t;
    t.d.resize(n);
    t.s.resize(n);
    t.sinp.resize(n);
    t.cosp.resize(n);
    std::vector<double> phase(n);
    for (std::size_t k = 0; k < n; ++k) {
        const double d = static_cast<double>(first + static_cast<std::int64_t>(k)) * pix - centre;
        t.d[k] = d;
        t.s[k] = pixel_factor ? pixel_aperture(width, pix, d, c) : 1.0;
        phase[k] = kPi * d * d * c;
    }
    sincos_array(phase.data(), t.sinp.data(), t.cosp.data(), n);
    return t;
}

// What each form does with the particle's terms at a node.
struct Form {
    double x = 0, y = 0;
    double threshold = kCylThresholdCoarse;
    Quotient quotient = Quotient::double_precision;
    bool pixel_factor = false;
    double width = 1.0;
};

// Visits the nodes of the row offsets X and the columns [first, last) of
// the column offsets Y, column by column on this thread: emit(i, J, PA,
// sin(phi), cos(phi)) for the node at index i = row + column * rows.
template <class Emit>
void particle_node_columns(const ModelParams& p, const Form& f, double c, const Axis& X,
                           const Axis& Y, std::size_t rows, std::size_t first, std::size_t last,
                           Emit& emit) {
    const std::size_t nr = X.d.size();
    std::vector<float> u(nr), J(nr);
    std::vector<double> scratch(besscylone_scratch(nr));
    for (std::size_t col = first; col < last; ++col) {
        const double dy = Y.d[col];
        for (std::size_t b = 0; b < nr; ++b) {
            const double dx = X.d[b];
            const double rho = std::sqrt(dx * dx + dy * dy);
            u[b] = static_cast<float>((rho + rho) * kPi * p.r * c);
        }
        besscylone_array(u.data(), J.data(), nr, f.threshold, f.quotient, scratch.data());
        const double sy = Y.s[col], ys = Y.sinp[col], yc = Y.cosp[col];
        const std::size_t base = col * rows;
        for (std::size_t b = 0; b < nr; ++b) {
            const double A = static_cast<double>(J[b]) * kPi * p.r * p.r * c;
            const double P = X.s[b] * sy;
            const double sinphi = X.sinp[b] * yc + X.cosp[b] * ys;
            const double cosphi = X.cosp[b] * yc - X.sinp[b] * ys;
            emit(base + b, J[b], P * A, sinphi, cosphi);
        }
    }
}

// The same over all columns, split over the cores.
template <class Emit>
void particle_nodes(const ModelParams& p, const Form& f, double c, const Axis& X, const Axis& Y,
                    std::size_t rows, Emit emit) {
    parallel_for(Y.d.size(), [&](std::size_t first, std::size_t last) {
        particle_node_columns(p, f, c, X, Y, rows, first, last, emit);
    });
}

// The model's grid: offsets -h .. h-1 along the rows, -g .. g-1 along the
// columns, into an array of trunc(M) rows.
template <class Emit>
void particle_columns(const ModelParams& p, const Form& f, Emit emit) {
    const double c = 1.0 / p.lambda / p.z;
    const std::int64_t h = static_cast<std::int64_t>(std::floor(p.M * 0.5));
    const std::int64_t g = static_cast<std::int64_t>(std::floor(p.N * 0.5));
    if (h <= 0 || g <= 0) return;
    const Axis X = axis_terms(-h, static_cast<std::size_t>(2 * h), p.pix, f.x, c, f.pixel_factor, f.width);
    const Axis Y = axis_terms(-g, static_cast<std::size_t>(2 * g), p.pix, f.y, c, f.pixel_factor, f.width);
    particle_nodes(p, f, c, X, Y, static_cast<std::size_t>(p.M), emit);
}

}  // namespace

void model_grid(const ModelParams& p, bool complex_model, const GridOutputs& out) {
    // An odd size's last row or column is no node of the model: it holds 0,
    // whatever the caller's arrays held.
    const std::size_t rows = static_cast<std::size_t>(p.M), cols = static_cast<std::size_t>(p.N);
    const std::size_t node_rows = 2 * static_cast<std::size_t>(std::floor(p.M * 0.5));
    const std::size_t node_cols = 2 * static_cast<std::size_t>(std::floor(p.N * 0.5));
    for (double* a : {out.real_p, out.complex_re, out.complex_im, out.jinc}) {
        if (!a) continue;
        for (std::size_t j = 0; j < cols; ++j) {
            for (std::size_t i = j < node_cols ? node_rows : 0; i < rows; ++i) a[i + j * rows] = 0.0;
        }
    }
    if (!(p.r > 0.0)) {
        // The bare kernel is a rare, cheap special case: the reference serves.
        reference::model_grid(p, complex_model, out);
        return;
    }
    Form f;
    f.x = p.x;
    f.y = p.y;
    f.quotient = Quotient::single_precision;
    f.pixel_factor = p.K != 0.0;
    f.width = p.K;
    if (complex_model) {
        particle_columns(p, f, [&](std::size_t i, float J, double PA, double s, double c) {
            out.jinc[i] = J;
            out.complex_re[i] = PA * s;
            out.complex_im[i] = -PA * c;
        });
    } else {
        particle_columns(p, f, [&](std::size_t i, float J, double PA, double s, double) {
            out.jinc[i] = J;
            out.real_p[i] = s * PA;
        });
    }
}

void detection_template(double* out, const ModelParams& p) {
    Form f;
    f.pixel_factor = p.K != 0.0;
    particle_columns(p, f, [&](std::size_t i, float, double PA, double s, double) {
        out[i] = s * PA;
    });
}

void detection_template_quadrant(double* out, std::size_t rows, std::size_t cols, const ModelParams& p) {
    Form f;
    f.pixel_factor = p.K != 0.0;
    const double c = 1.0 / p.lambda / p.z;
    const Axis X = axis_terms(0, rows, p.pix, 0.0, c, f.pixel_factor, f.width);
    const Axis Y = axis_terms(0, cols, p.pix, 0.0, c, f.pixel_factor, f.width);
    particle_nodes(p, f, c, X, Y, rows, [&](std::size_t i, float, double PA, double s, double) {
        out[i] = s * PA;
    });
}

namespace {

// The accumulating form: the complex model of one particle, pixel factor of
// width K only when K > 0.
Form field_form(const ModelParams& p) {
    Form f;
    f.x = p.x;
    f.y = p.y;
    f.threshold = kCylThresholdFine;
    f.pixel_factor = p.K > 0.0;
    f.width = p.K;
    return f;
}

void require_positive_radius(const ModelParams& p) {
    if (!(p.r > 0.0)) throw Error("Error: one of values of R is not positive - please recheck the inputs");
}

}  // namespace

void add_particle_field(double* field_re, double* field_im, const ModelParams& p) {
    require_positive_radius(p);
    const Form f = field_form(p);
    particle_columns(p, f, [&](std::size_t i, float, double PA, double s, double c) {
        field_re[i] += PA * s;
        field_im[i] += -PA * c;
    });
}

// The plate is cut into tiles of a few columns, small enough to stay in the
// cache while every particle is added to them in turn; the cores take the
// tiles one at a time as they finish. The particles' row and column terms are computed once,
// beforehand. Every pixel receives its particles in the same order as from
// add_particle_field called particle after particle, so the sums are the same bit
// for bit.
void model_field(double* field_re, double* field_im, const ModelParams* particles,
                 std::size_t count, double M, double N, const double* amplitudes) {
    for (std::size_t k = 0; k < count; ++k) require_positive_radius(particles[k]);
    const std::size_t rows = static_cast<std::size_t>(M), cols = static_cast<std::size_t>(N);
    const std::int64_t h = static_cast<std::int64_t>(std::floor(M * 0.5));
    const std::int64_t g = static_cast<std::int64_t>(std::floor(N * 0.5));
    const bool nodes = h > 0 && g > 0;
    std::vector<Form> forms(count);
    std::vector<Axis> X(count), Y(count);
    if (nodes) {
        parallel_for(count, [&](std::size_t first, std::size_t last) {
            for (std::size_t k = first; k < last; ++k) {
                const ModelParams& p = particles[k];
                forms[k] = field_form(p);
                const double c = 1.0 / p.lambda / p.z;
                X[k] = axis_terms(-h, static_cast<std::size_t>(2 * h), p.pix, p.x, c,
                                  forms[k].pixel_factor, forms[k].width);
                Y[k] = axis_terms(-g, static_cast<std::size_t>(2 * g), p.pix, p.y, c,
                                  forms[k].pixel_factor, forms[k].width);
            }
        });
    }
    constexpr std::size_t kTileColumns = 8;
    const std::size_t model_cols = nodes ? static_cast<std::size_t>(2 * g) : 0;
    parallel_items((cols + kTileColumns - 1) / kTileColumns, [&](std::size_t tile) {
        double a = 1.0;  // times 1 is exact: without amplitudes, synthplate's sum bit for bit
        auto add = [&](std::size_t i, float, double PA, double s, double cphi) {
            field_re[i] += a * PA * s;
            field_im[i] += -(a * PA) * cphi;
        };
        const std::size_t c0 = tile * kTileColumns, c1 = std::min(cols, c0 + kTileColumns);
        for (std::size_t i = c0 * rows; i < c1 * rows; ++i) field_re[i] = field_im[i] = 0.0;
        const std::size_t m1 = std::min(c1, model_cols);
        for (std::size_t k = 0; k < count && c0 < m1; ++k) {
            const ModelParams& p = particles[k];
            a = amplitudes ? amplitudes[k] : 1.0;
            particle_node_columns(p, forms[k], 1.0 / p.lambda / p.z, X[k], Y[k], rows, c0, m1, add);
        }
    });
}

// Row or column terms of a window for the Jacobian: the model's own (the
// offsets, the pixel factor along the axis, the phase's sine and cosine)
// and the pixel factor's slope dS/dd along the offset d.
struct JacobianAxis {
    Axis t;
    std::vector<double> slope;
};

JacobianAxis jacobian_axis(std::int64_t first, std::size_t n, double pix, double centre, double c,
                           bool pixel_factor, double width) {
    JacobianAxis a{axis_terms(first, n, pix, centre, c, pixel_factor, width),
                   std::vector<double>(n, 0.0)};
    if (!pixel_factor) return a;
    for (std::size_t k = 0; k < n; ++k) {
        const double d = a.t.d[k];
        if (d == 0.0) continue;
        // S = sin(t)/t with t proportional to d: dS/dd = (cos t - S)/d,
        // from its series where the difference cancels.
        const double t = width * kPi * pix * d * c;
        a.slope[k] = std::fabs(t) < 1e-2 ? -(t / d) * (t / 3.0) * (1.0 - t * t / 10.0)
                                         : (std::cos(t) - a.t.s[k]) / d;
    }
    return a;
}

struct JacobianAxes {
    NodeWindow w;
    double c = 0;
    Form f;
    JacobianConstants k{};
    JacobianAxis X, Y;
};

void JacobianAxesDeleter::operator()(JacobianAxes* a) const { delete a; }

JacobianAxesPtr jacobian_axes(const ModelParams& p, const NodeWindow& w) {
    JacobianAxesPtr a(new JacobianAxes);
    a->w = w;
    a->c = 1.0 / p.lambda / p.z;
    a->f = field_form(p);
    a->k = jacobian_constants(p.z, p.r, p.lambda);
    const std::int64_t h = static_cast<std::int64_t>(std::floor(p.M * 0.5));
    const std::int64_t g = static_cast<std::int64_t>(std::floor(p.N * 0.5));
    a->X = jacobian_axis(static_cast<std::int64_t>(w.row0) - h, w.rows, p.pix, p.x, a->c,
                         a->f.pixel_factor, a->f.width);
    a->Y = jacobian_axis(static_cast<std::int64_t>(w.col0) - g, w.cols, p.pix, p.y, a->c,
                         a->f.pixel_factor, a->f.width);
    return a;
}

namespace {

// What the derivatives of one column share: the particle's constants, the
// column's offset dy and its axis terms.
struct JacobianRow {
    JacobianConstants k;
    double dy, c, z;
    double sy, ys, yc, sy_slope;
};

// The derivatives of the nodes of one column, each array its own (the
// restrict-qualified parameters let the loop run on vector units).
PARTISCOPE_VECTOR_CLONES void jacobian_nodes(
    std::size_t nr, const JacobianRow row, const double* __restrict xs,
    const double* __restrict xsin, const double* __restrict xcos, const double* __restrict xd,
    const double* __restrict xslope, const double* __restrict J, const double* __restrict J0,
    double* __restrict r0, double* __restrict i0, double* __restrict r1, double* __restrict i1,
    double* __restrict r2, double* __restrict i2, double* __restrict r3, double* __restrict i3) {
    const double dy = row.dy, sy = row.sy, ys = row.ys, yc = row.yc, sy_slope = row.sy_slope;
    for (std::size_t b = 0; b < nr; ++b) {
        const double P = xs[b] * sy;
        const double sinphi = xsin[b] * yc + xcos[b] * ys;
        const double cosphi = xcos[b] * yc - xsin[b] * ys;
        const double dx = xd[b];
        const double phi = kPi * (dx * dx + dy * dy) * row.c;
        const double u = row.k.k * std::sqrt(dx * dx + dy * dy);
        const NodeJacobian n = node_jacobian(row.k, dx, dy, u, J[b], J0[b], phi, sinphi, cosphi);
        const double sx = xs[b], sx_slope = xslope[b];
        const double Px = -sx_slope * sy, Py = -sy_slope * sx;
        const double Pz = -(dx * sx_slope * sy + dy * sy_slope * sx) / row.z;
        r0[b] = P * n.d[0].re + Px * n.s.re;
        i0[b] = P * n.d[0].im + Px * n.s.im;
        r1[b] = P * n.d[1].re + Py * n.s.re;
        i1[b] = P * n.d[1].im + Py * n.s.im;
        r2[b] = P * n.d[2].re + Pz * n.s.re;
        i2[b] = P * n.d[2].im + Pz * n.s.im;
        r3[b] = P * n.d[3].re;
        i3[b] = P * n.d[3].im;
    }
}

}  // namespace

// The values as particle_node_columns forms them; the derivatives from the
// shared node Jacobian and, for s = P s0 with P = Sx Sy, the pixel factor's
// own: dP/dx = -Sx' Sy and dP/dy = -Sx Sy' (the offsets fall as the particle
// moves), dP/dz = -(dx Sx' Sy + dy Sx Sy')/z (through c), with S' = dS/dd.
PARTISCOPE_VECTOR_CLONES void model_jacobian_column(const ModelParams& p, const JacobianAxes& a,
                                                    std::size_t col, const JacobianColumn& out,
                                                    JacobianScratch& w) {
    const std::size_t nr = a.w.rows;
    const Axis& X = a.X.t;
    const Axis& Y = a.Y.t;
    const double c = a.c;
    w.u.resize(nr);
    w.J.resize(nr);
    w.ud.resize(nr);
    w.J0.resize(nr);
    w.bessel.resize(besscylone_scratch(nr));
    float* u = w.u.data();
    float* J = w.J.data();
    double* ud = w.ud.data();
    double* J0 = w.J0.data();
    const double dy = Y.d[col];
    for (std::size_t b = 0; b < nr; ++b) {
        const double dx = X.d[b];
        const double rho = std::sqrt(dx * dx + dy * dy);
        ud[b] = (rho + rho) * kPi * p.r * c;
        u[b] = static_cast<float>(ud[b]);
    }
    besscylone_array(u, J, nr, a.f.threshold, a.f.quotient, w.bessel.data());
    const double sy = Y.s[col], ys = Y.sinp[col], yc = Y.cosp[col], sy_slope = a.Y.slope[col];
    const double* xs = X.s.data();
    const double* xsin = X.sinp.data();
    const double* xcos = X.cosp.data();
    if (out.re) {
        for (std::size_t b = 0; b < nr; ++b) {
            const double A = static_cast<double>(J[b]) * kPi * p.r * p.r * c;
            const double P = xs[b] * sy;
            const double sinphi = xsin[b] * yc + xcos[b] * ys;
            const double cosphi = xcos[b] * yc - xsin[b] * ys;
            out.re[b] = P * A * sinphi;
            out.im[b] = -P * A * cosphi;
        }
    }
    if (!out.d_re[0]) return;
    j0_array(ud, J0, nr);
    // J widened in place of u, no longer needed: the loop below then runs on
    // doubles alone.
    for (std::size_t b = 0; b < nr; ++b) ud[b] = static_cast<double>(J[b]);
    JacobianRow row{a.k, dy, c, p.z, sy, ys, yc, sy_slope};
    jacobian_nodes(nr, row, xs, xsin, xcos, X.d.data(), a.X.slope.data(), ud, J0, out.d_re[0],
                   out.d_im[0], out.d_re[1], out.d_im[1], out.d_re[2], out.d_im[2], out.d_re[3],
                   out.d_im[3]);
}

}  // namespace partiscope
