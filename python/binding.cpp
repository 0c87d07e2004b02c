// The core on NumPy arrays: argument conversion, the interpreter's lock
// released while the core computes, the core's errors as Python exceptions.
// No numerics here; the package's Python layer names the results.
#include <fftw3.h>
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <complex>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "model/particle_model.h"
#include "core/detection/detection_map.h"
#include "core/detection/detection_stack.h"
#include "core/optics/disc_plate.h"
#include "core/optics/sphere_plate.h"
#include "core/find/find_particles.h"
#include "core/bound/precision_bound.h"
#include "core/optics/free_space.h"
#include "core/fit/ring_fit.h"
#include "core/synthesis/plate_synthesis.h"
#include "numerics/cylinder.h"
#include "numerics/parallel.h"
#include "numerics/sizes.h"
#include "numerics/vecmath.h"

namespace py = pybind11;
using namespace partiscope;

namespace {

// Any real array in, as column-major float64 (x, the first axis, fastest):
// a copy only when the layout or the type does not fit already.
using Grid = py::array_t<double, py::array::f_style | py::array::forcecast>;

Grid grid(std::size_t M, std::size_t N) {
    return Grid({static_cast<py::ssize_t>(M), static_cast<py::ssize_t>(N)});
}

std::size_t rows(const Grid& a) { return a.ndim() >= 1 ? static_cast<std::size_t>(a.shape(0)) : 1; }
std::size_t cols(const Grid& a) { return a.ndim() >= 2 ? static_cast<std::size_t>(a.shape(1)) : 1; }

// A hologram-like argument: two axes, not empty.
void require_matrix(const Grid& a, const char* name) {
    if (a.ndim() != 2 || a.size() == 0)
        throw py::type_error(std::string(name) + " must be a non-empty 2-D array");
}

void require_shape(const Grid& a, std::size_t M, std::size_t N, const char* name) {
    if (a.ndim() != 2 || rows(a) != M || cols(a) != N)
        throw Error(std::string("Error: ") + name + " must be the size of hol");
}


// An optional per-pixel array (weights): null when not given, else its
// values, which must be the hologram's size; `keep` holds the converted copy.
const double* optional_grid(const py::object& a, std::size_t M, std::size_t N, const char* name,
                            Grid& keep) {
    if (a.is_none()) return nullptr;
    keep = a.cast<Grid>();
    require_shape(keep, M, N, name);
    return keep.data();
}

// The recorded hologram and the scan's grid of the modules that take them.
void hologram_input(Hologram& h, const Grid& hol, double lambda, double pix) {
    require_matrix(hol, "hol");
    h.hol = hol.data();
    h.M = rows(hol);
    h.N = cols(hol);
    h.lambda = lambda;
    h.pix = pix;
}

void scan_input(ScanInput& s, const Grid& hol, double lambda, double pix, const Grid& depths,
                const Grid& radii) {
    hologram_input(s, hol, lambda, pix);
    s.depths = depths.data();
    s.nz = static_cast<std::size_t>(depths.size());
    s.radii = radii.data();
    s.nr = static_cast<std::size_t>(radii.size());
}

// ringform's and precbound's particle on its sensor, sizeH checked as the
// modules check it.
void on_sensor(ParticleOnSensor& p, double x, double y, double z, double r, double pix,
               double lambda, std::pair<double, double> size) {
    check_sizes(size.first, size.second,
                "Error: sizeH must hold two non-negative finite sizes within the array limits");
    p.x = x;
    p.y = y;
    p.z = z;
    p.r = r;
    p.pix = pix;
    p.lambda = lambda;
    p.M = size.first;
    p.N = size.second;
}

py::tuple ringform(double x, double y, double z, double r, double pix, double lambda,
                   std::pair<double, double> size, double flag, double K, const ComputeContext& context) {
    check_depth_radius(z, r);
    ModelParams p;
    on_sensor(p, x, y, z, r, pix, lambda, size);
    p.K = K;
    const std::size_t M = static_cast<std::size_t>(p.M), N = static_cast<std::size_t>(p.N);
    const bool complex_model = !(flag > -1.0 && flag < 1.0);
    Grid real = grid(complex_model ? 0 : M, complex_model ? 0 : N);
    Grid re = grid(complex_model ? M : 0, complex_model ? N : 0), im = grid(re.shape(0), re.shape(1));
    Grid jinc = grid(r > 0.0 ? M : 0, r > 0.0 ? N : 0);
    GridOutputs out;
    out.real_p = complex_model ? nullptr : real.mutable_data();
    out.complex_re = complex_model ? re.mutable_data() : nullptr;
    out.complex_im = complex_model ? im.mutable_data() : nullptr;
    out.jinc = r > 0.0 ? jinc.mutable_data() : nullptr;
    {
        py::gil_scoped_release unlocked;
        const UseContext use(context);
        model_grid(p, complex_model, out);
    }
    return py::make_tuple(real, re, im, jinc, complex_model);
}

py::tuple detectscan(const Grid& hol, double lambda, double pix, const Grid& w, double r, double z,
                     const Grid& w_prim, std::pair<double, double> fov_x,
                     std::pair<double, double> fov_y, double K, const ComputeContext& context) {
    require_matrix(hol, "hol");
    check_depth_radius(z, r);
    DetectionInput in;
    in.M = rows(hol);
    in.N = cols(hol);
    if (in.M * in.N > 2147483647u) throw Error("Error: hol must have fewer than 2^31 elements");
    require_shape(w, in.M, in.N, "w");
    require_shape(w_prim, in.M, in.N, "w_prim");
    in.hol = hol.data();
    in.w = w.data();
    in.w_prim = w_prim.data();
    in.lambda = lambda;
    in.pix = pix;
    in.r = r;
    in.z = z;
    in.K = K;
    const double x[2] = {fov_x.first, fov_x.second}, y[2] = {fov_y.first, fov_y.second};
    in.fov = field_of_view(x, y, in.M, in.N);
    const unsigned planner = planner_flags(context);
    Grid q0 = grid(in.fov.rows(), in.fov.cols());
    DetectionResult best;
    {
        py::gil_scoped_release unlocked;
        const UseContext use(context);
        best = detection_map(in, q0.mutable_data(), planner);
    }
    const std::size_t nx = in.fov.rows();
    return py::make_tuple(best.best % nx + 1, best.best / nx + 1, best.maxim, q0);
}

py::tuple synthplate(double count, double lambda, double pix, double sX, double sY, double I0, double SNR,
                     std::pair<double, double> rangeZ, std::pair<double, double> rangeR,
                     int random_coordinates, py::object coordinates, int meanh, double K,
                     py::object seed, const ComputeContext& context) {
    const int n = particle_count(count);
    check_sizes(sX, sY, "Error: sX and sY must be non-negative finite sizes within the array limits");
    SynthParams p;
    p.n = n;
    p.lambda = lambda;
    p.pix = pix;
    p.sX = static_cast<std::size_t>(sX);
    p.sY = static_cast<std::size_t>(sY);
    p.I0 = I0;
    p.SNR = SNR;
    p.rangeZ[0] = rangeZ.first;
    p.rangeZ[1] = rangeZ.second;
    p.rangeR[0] = rangeR.first;
    p.rangeR[1] = rangeR.second;
    p.random_coordinates = random_coordinates;
    p.meanh = meanh;
    p.K = K;
    Grid table;
    if (random_coordinates != 1) {
        if (coordinates.is_none()) throw Error("Error: coordinates must be an n-by-4 table [x y z r]");
        table = coordinates.cast<Grid>();
        p.coordinates = table.data();
        p.coordinate_rows = coordinate_table_rows(n, rows(table), cols(table));
    }
    const std::uint32_t s = seed.is_none() ? next_call_seed() : seed.cast<std::uint32_t>();
    Grid hologram = grid(p.sX, p.sY), noise = grid(p.sX, p.sY),
         particles = grid(static_cast<std::size_t>(n), 4);
    double mean = 0.0;
    {
        py::gil_scoped_release unlocked;
        const UseContext use(context);
        synthesize_plate(p, s, {hologram.mutable_data(), particles.mutable_data(), &mean,
                                noise.mutable_data()});
    }
    return py::make_tuple(hologram, particles, mean, noise);
}

py::tuple precbound(double x, double y, double z, double r, double pix, double lambda,
                    std::pair<double, double> size, double sigm, double n, double A,
                    const ComputeContext& context) {
    BoundParams p;
    on_sensor(p, x, y, z, r, pix, lambda, size);
    p.sigm = sigm;
    p.n = n;
    p.A = A;
    Bounds b;
    {
        py::gil_scoped_release unlocked;
        const UseContext use(context);
        b = precision_bounds(p);
    }
    return py::make_tuple(b.deltax, b.deltay, b.deltaz, b.deltar);
}

template <void (*Elements)(const double*, double*, std::size_t)>
py::array_t<double> elementwise(py::array_t<double, py::array::forcecast> X, const ComputeContext& context) {
    py::array_t<double, py::array::f_style> in(X);  // the values in any order, once
    py::array_t<double, py::array::f_style> out(std::vector<py::ssize_t>(in.shape(), in.shape() + in.ndim()));
    {
        py::gil_scoped_release unlocked;
        const UseContext use(context);
        Elements(in.data(), out.mutable_data(), static_cast<std::size_t>(in.size()));
    }
    return out;
}

// The fit's options from keyword values (None: the default).
FitModel model_of(const std::string& m) {
    if (m == "intensity") return FitModel::intensity;
    if (m == "linear") return FitModel::linear;
    throw Error("Error: Model must be 'intensity' or 'linear'");
}

ParticleKind particle_of(const std::string& m) { return particle_named(m); }

// A sphere's optics: (MediumIndex or None, Index: one start index or one
// per particle, Polarization).
struct Optics {
    double medium_index = 0.0, index = 1.5, polarization = 0.0;
    std::vector<double> starts;
    const double* index_start() const { return starts.empty() ? nullptr : starts.data(); }
};
Optics optics_of(const py::tuple& t, std::size_t n) {
    Optics o;
    if (!t[0].is_none()) o.medium_index = t[0].cast<double>();
    const Grid index = t[1].cast<Grid>();
    const char* kIndex = "Error: Index must be a positive number, or one per particle";
    if (index.size() == 1) {
        o.index = index.data()[0];
    } else if (static_cast<std::size_t>(index.size()) == n && n > 0) {
        o.starts.assign(index.data(), index.data() + n);
    } else {
        throw Error(kIndex);
    }
    o.polarization = t[2].cast<double>();
    return o;
}

void contrast_of(const py::object& c, bool& free, double& value) {
    if (py::isinstance<py::str>(c)) {
        if (c.cast<std::string>() != "free")
            throw Error("Error: Contrast must be a finite non-zero number or 'free'");
        free = true;
    } else {
        free = false;
        value = c.cast<double>();
    }
}

py::array_t<bool> flags(const std::vector<bool>& v) {
    py::array_t<bool> a(static_cast<py::ssize_t>(v.size()));
    bool* out = a.mutable_data();
    for (std::size_t k = 0; k < v.size(); ++k) out[k] = v[k];
    return a;
}

// A report's field as a Python value: numbers as numbers, per-particle
// vectors as arrays, text as str.
py::object field_value(double v) { return py::float_(v); }
py::object field_value(int v) { return py::int_(v); }
py::object field_value(std::size_t v) { return py::int_(v); }
py::object field_value(const std::vector<double>& v) {
    return py::array_t<double>(static_cast<py::ssize_t>(v.size()), v.data());
}
py::object field_value(const std::vector<bool>& v) { return flags(v); }
py::object field_value(const std::string& v) { return py::str(v); }

// The dict of the fields a core's table lists (info_fields).
template <class Result>
py::dict info_dict(const Result& r) {
    py::dict d;
    info_fields(r, [&](const char* name, const auto& v) { d[name] = field_value(v); });
    return d;
}

Grid table(const std::vector<double>& v, std::size_t n) {
    Grid t = grid(n, n > 0 ? v.size() / n : 4);
    if (!v.empty()) std::memcpy(t.mutable_data(), v.data(), v.size() * sizeof(double));
    return t;
}

py::tuple ringfit(const Grid& hol, double lambda, double pix, const Grid& p0, const std::string& model,
                  const std::string& particle, const py::object& contrast, py::object background, py::object offset,
                  py::object weights, std::vector<bool> free, std::optional<double> sigma, std::optional<double> K,
                  double max_iter, double tolerance, const py::tuple& optics, const ComputeContext& context) {
    FitInput in;
    hologram_input(in, hol, lambda, pix);
    if (p0.ndim() != 2 || cols(p0) != 4 || rows(p0) == 0)
        throw Error("Error: p0 must be an n-by-4 table [x y z r] with at least one row");
    in.p0 = p0.data();
    in.n = rows(p0);
    if (in.n > 200) throw Error("Error: p0 may hold at most 200 particles; fit larger sets in groups");
    FitOptions o;
    o.model = model_of(model);
    o.particle = particle_of(particle);
    contrast_of(contrast, o.contrast_free, o.contrast);
    if (!background.is_none()) {
        o.background_fixed = true;
        o.background = background.cast<double>();
    }
    if (!offset.is_none()) {
        o.offset_fixed = true;
        o.offset = offset.cast<double>();
    }
    Grid w;
    o.weights = optional_grid(weights, in.M, in.N, "Weights", w);
    set_free(o, free);
    const Optics sphere = optics_of(optics, in.n);
    o.medium_index = sphere.medium_index;
    o.index = sphere.index;
    o.index_start = sphere.index_start();
    o.polarization = sphere.polarization;
    o.sigma = sigma;
    o.K = K;
    o.max_iter = kMaxIterRange.of(max_iter);
    o.tolerance = tolerance;
    FitResult r;
    {
        py::gil_scoped_release unlocked;
        const UseContext use(context);
        r = ring_fit(in, o);
    }
    return py::make_tuple(table(r.p, in.n), table(r.se, in.n), info_dict(r));
}

py::tuple detectstack(const Grid& hol, double lambda, double pix, const Grid& depths,
                      const Grid& radii, py::object weights, py::object position_weights,
                      py::object fov_x, py::object fov_y, double K, double threshold,
                      double min_separation, double max_count, std::optional<double> sigma, const ComputeContext& context) {
    StackInput in;
    scan_input(in, hol, lambda, pix, depths, radii);
    in.K = K;
    Grid w, wp;
    in.w = optional_grid(weights, in.M, in.N, "Weights", w);
    in.w_prim = optional_grid(position_weights, in.M, in.N, "PositionWeights", wp);
    const auto range = [](const py::object& r, double last) {
        return r.is_none() ? std::pair<double, double>{1.0, last} : r.cast<std::pair<double, double>>();
    };
    const auto fx = range(fov_x, static_cast<double>(in.M)), fy = range(fov_y, static_cast<double>(in.N));
    const double x[2] = {fx.first, fx.second}, y[2] = {fy.first, fy.second};
    in.fov = field_of_view(x, y, in.M, in.N);
    StackOptions o;
    o.threshold = threshold;
    o.min_separation = min_separation;
    o.max_count = static_cast<std::size_t>(kStackMaxCountRange.of(max_count));
    o.sigma = sigma;
    const unsigned planner = planner_flags(context);
    const std::size_t nx = in.fov.rows(), ny = in.fov.cols();
    Grid best = grid(nx, ny), zidx = grid(nx, ny), ridx = grid(nx, ny);
    std::vector<std::int32_t> pair(nx * ny);
    StackDetection d;
    {
        py::gil_scoped_release unlocked;
        const UseContext use(context);
        d = detect_stack(in, o, {best.mutable_data(), pair.data()}, planner);
    }
    double* zi = zidx.mutable_data();
    double* ri = ridx.mutable_data();
    for (std::size_t t = 0; t < nx * ny; ++t) {
        const std::int32_t p = pair[t];
        zi[t] = p < 0 ? NAN : static_cast<double>(static_cast<std::size_t>(p) % in.nz + 1);
        ri[t] = p < 0 ? NAN : static_cast<double>(static_cast<std::size_t>(p) / in.nz + 1);
    }
    Grid cand = grid(d.candidates.size(), 5);
    if (!d.table.empty()) std::memcpy(cand.mutable_data(), d.table.data(), d.table.size() * sizeof(double));
    return py::make_tuple(cand, best, zidx, ridx);
}

py::tuple findparticles(const Grid& hol, double lambda, double pix, const Grid& depths,
                        const Grid& radii, const std::string& model, const std::string& particle,
                        const py::object& contrast,
                        py::object weights, std::optional<double> K, double threshold,
                        double min_separation, double max_count, std::optional<double> sigma, double max_passes,
                        double max_iter, double tolerance, const py::tuple& optics,
                        std::optional<double> margin, const ComputeContext& context) {
    FindInput in;
    scan_input(in, hol, lambda, pix, depths, radii);
    FindOptions o;
    o.model = model_of(model);
    o.particle = particle_of(particle);
    contrast_of(contrast, o.contrast_free, o.contrast);
    Grid w;
    o.weights = optional_grid(weights, in.M, in.N, "Weights", w);
    o.K = K;
    o.threshold = threshold;
    o.min_separation = min_separation;
    o.max_count = static_cast<std::size_t>(kMaxCountRange.of(max_count));
    o.sigma = sigma;
    o.max_passes = kMaxPassesRange.of(max_passes);
    o.max_iter = kMaxIterRange.of(max_iter);
    o.tolerance = tolerance;
    const Optics sphere = optics_of(optics, 1);
    o.medium_index = sphere.medium_index;
    o.index = sphere.index;
    o.polarization = sphere.polarization;
    o.margin = margin;
    const unsigned planner = planner_flags(context);
    FindResult r;
    {
        py::gil_scoped_release unlocked;
        const UseContext use(context);
        r = find_particles(in, o, planner);
    }
    py::dict d = info_dict(r);
    Grid p = grid(r.n, 4), se = grid(r.n, 4);
    if (r.n > 0) {
        std::memcpy(p.mutable_data(), r.p.data(), r.p.size() * sizeof(double));
        std::memcpy(se.mutable_data(), r.se.data(), r.se.size() * sizeof(double));
    }
    return py::make_tuple(p, se, d);
}

using ComplexGrid =
    py::array_t<std::complex<double>, py::array::f_style | py::array::forcecast>;

ComplexGrid propagate(const ComplexGrid& field, double lambda, double pix, double z,
                      const ComputeContext& context) {
    if (field.ndim() != 2) throw py::type_error("field must be a 2-D array");
    const std::size_t M = static_cast<std::size_t>(field.shape(0)),
                      N = static_cast<std::size_t>(field.shape(1));
    std::vector<double> re(M * N), im(M * N), out_re(M * N), out_im(M * N);
    for (std::size_t k = 0; k < M * N; ++k) {
        re[k] = field.data()[k].real();
        im[k] = field.data()[k].imag();
    }
    {
        py::gil_scoped_release unlocked;
        const UseContext use(context);
        propagate_field(re.data(), im.data(), M, N, lambda, pix, z, out_re.data(), out_im.data());
    }
    ComplexGrid out({static_cast<py::ssize_t>(M), static_cast<py::ssize_t>(N)});
    for (std::size_t k = 0; k < M * N; ++k) out.mutable_data()[k] = {out_re[k], out_im[k]};
    return out;
}

py::tuple discplate(double count, double lambda, double pix, double sX, double sY, double I0,
                    double SNR, std::pair<double, double> rangeZ, std::pair<double, double> rangeR,
                    py::object coordinates, py::object seed, double sigma, double photons,
                    const std::string& pixels, int oversampling, const ComputeContext& context) {
    check_sizes(sX, sY, "Error: sX and sY must be non-negative finite sizes within the array limits");
    DiscPlateInput in;
    in.n = disc_count(count);
    in.lambda = lambda;
    in.pix = pix;
    in.M = static_cast<std::size_t>(sX);
    in.N = static_cast<std::size_t>(sY);
    DiscPlateOptions o;
    o.I0 = I0;
    o.snr = SNR;
    o.sigma = sigma;
    o.photons = photons;
    if (pixels != "area" && pixels != "point") throw Error("Error: Pixels must be 'area' or 'point'");
    o.area_pixels = pixels == "area";
    o.oversampling = oversampling;
    std::mt19937_64 rng(seed.is_none() ? std::random_device()() : seed.cast<std::uint64_t>());
    Grid particles = grid(in.n, 4), hologram = grid(in.M, in.N), noise = grid(in.M, in.N);
    if (!coordinates.is_none()) {
        const Grid table = coordinates.cast<Grid>();
        if (table.ndim() != 2 || rows(table) != in.n || cols(table) != 4)
            throw Error("Error: Coordinates must be an n-by-4 table [x y z r] (n rows)");
        std::memcpy(particles.mutable_data(), table.data(), 4 * in.n * sizeof(double));
    } else {
        const double z[2] = {rangeZ.first, rangeZ.second}, r[2] = {rangeR.first, rangeR.second};
        draw_discs(in.n, in.M, in.N, z, r, rng, particles.mutable_data());
    }
    in.particles = particles.data();
    {
        py::gil_scoped_release unlocked;
        const UseContext use(context);
        disc_plate(in, o, rng, hologram.mutable_data(), noise.mutable_data());
    }
    return py::make_tuple(hologram, particles, noise);
}

py::tuple sphereplate(const Grid& particles, double sX, double sY, double lambda, double pix,
                      const SpherePlateOptions& o, py::object seed, const ComputeContext& context) {
    check_sizes(sX, sY, "Error: sX and sY must be non-negative finite sizes within the array limits");
    if (particles.ndim() != 2 || cols(particles) != 5)
        throw Error("Error: spheres must be an n-by-5 table [x y z a n_p]");
    SpherePlateInput in;
    in.particles = particles.data();
    in.n = rows(particles);
    in.lambda = lambda;
    in.pix = pix;
    in.M = static_cast<std::size_t>(sX);
    in.N = static_cast<std::size_t>(sY);
    check_sphere_plate(in, o);
    std::mt19937_64 rng(seed.is_none() ? std::random_device()() : seed.cast<std::uint64_t>());
    Grid hologram = grid(in.M, in.N), noise = grid(in.M, in.N);
    {
        py::gil_scoped_release unlocked;
        const UseContext use(context);
        sphere_plate(in, o, rng, hologram.mutable_data(), noise.mutable_data());
    }
    return py::make_tuple(hologram, noise);
}

}  // namespace

PYBIND11_MODULE(_partiscope, m) {
    m.doc() = "The compiled core of partiscope; use the functions of the partiscope package.";
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const Error& e) {
            PyErr_SetString(PyExc_ValueError, e.what());
        }
    });
    // How the calls compute, made by the package from its keywords (and
    // their defaults from the environment): the core never reads it.
    py::class_<ComputeContext>(m, "Context")
        .def(py::init([](unsigned threads, const std::string& planner, bool reproducible) {
            ComputeContext c;
            c.threads = threads;
            c.planner = planner_named(
                planner, "Error: planner must be 'estimate', 'measure', 'patient' or 'exhaustive'");
            c.reproducible = reproducible;
            return c;
        }));
    m.def("ringform", &ringform);
    m.def("detectscan", &detectscan);
    m.def("synthplate", &synthplate);
    m.def("precbound", &precbound);
    m.def("cylzero", &elementwise<cylzero_elements>);
    m.def("cylone", &elementwise<cylone_elements>);
    m.def("ringfit", &ringfit);
    m.def("detectstack", &detectstack);
    m.def("findparticles", &findparticles);
    m.def("propagate", &propagate);
    m.def("discplate", &discplate);
    py::class_<SpherePlateOptions>(m, "SpherePlateOptions")
        .def(py::init([](double medium_index, double polarization, double contrast, double I0,
                         double sigma, double photons, int subpixels) {
            return SpherePlateOptions{medium_index, polarization, contrast, I0, sigma, photons, subpixels};
        }));
    m.def("sphereplate", &sphereplate);
    m.attr("version") = PARTISCOPE_VERSION;
}
