#include "find_particles.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <memory>

#include <fftw3.h>

#include "model/particle_model.h"
#include "numerics/dense.h"
#include "numerics/error.h"

namespace partiscope {
namespace {

constexpr double kTakenTogether = 0.5;
// At most this many new particles a scan: each joins a joint fit, whose
// cost grows with the square of its parameters.
constexpr std::size_t kMostAPass = 25;
// A genuine pattern summed directly around its centre scores about as well
// as in the map (better, at its refined depth); a ghost of the wrap-around
// scores a fraction.
constexpr double kGhost = 0.5;
// A fitted pattern leaves a residual of its model's error: a disc's at up
// to a few 1e-3 of its signal (pixel areas near the axis of a large Fresnel
// number), whose peak scores about 1.5% of the particle's own score on
// exact holograms at std 0.01. A peak within a fitted particle's central
// zones that scores under this fraction of it is taken for that misfit: as
// a row it splits the pattern in two and the joint fit between them loses
// the particle.
constexpr double kMisfit = 0.05;

// What one particle's start needs from the scan.
struct Start {
    double x, y, z, r, score;
    double a = 1.0;        // contrast
    bool settled = false;  // fitted in an earlier pass
    double n = 0.0;        // a sphere's index
    // Where the scan saw it: the map's peak and depth. A candidate beyond
    // the edge may start far from its peak, and a dropped one would
    // otherwise come back from the same peak pass after pass.
    double seen_x = std::numeric_limits<double>::quiet_NaN(), seen_y = seen_x, seen_z = seen_x;
};

// The criterion of the stack at one pixel, summed directly over a square
// window of half-width H around it (no wrap-around): the squared weighted
// inner product of residual and template over the template's weighted
// variance. quad is scratch for the template's (H + 1)^2 quadrant.
double window_score(const double* res, const double* w, std::size_t M,
                    std::size_t N, std::size_t row, std::size_t col, std::size_t H, double z,
                    double r, const FindInput& in, double K, std::vector<double>& quad) {
    ModelParams p;
    p.z = z;
    p.r = r;
    p.pix = in.pix;
    p.lambda = in.lambda;
    p.K = K;
    quad.resize((H + 1) * (H + 1));
    detection_template_quadrant(quad.data(), H + 1, H + 1, p);
    const std::size_t i0 = row > H ? row - H : 0, i1 = std::min(M - 1, row + H);
    const std::size_t j0 = col > H ? col - H : 0, j1 = std::min(N - 1, col + H);
    double sw = 0, swm = 0, swm2 = 0, swdm = 0;
    for (std::size_t j = j0; j <= j1; ++j) {
        const double* Q = quad.data() + (j > col ? j - col : col - j) * (H + 1);
        for (std::size_t i = i0; i <= i1; ++i) {
            const std::size_t k = i + j * M;
            const double m = Q[i > row ? i - row : row - i], wk = w[k];
            sw += wk;
            swm += wk * m;
            swm2 += wk * m * m;
            swdm += wk * res[k] * m;
        }
    }
    const double variance = swm2 - swm * swm / sw;
    return variance > 0.0 ? swdm * swdm / variance : 0.0;
}

// chi^2 of the first-order fit d = c + Re(alpha s) of one particle's term
// s over a crop (m-by-n, weights w), alpha complex and c fitted: the
// particle's scattering amplitude and phase drop out, and what is left is
// the depth its fringes' chirp tells.
double chirp_chi2(const std::vector<double>& d, const std::vector<double>& w, std::size_t m,
                  std::size_t n, ParticleKind kind, const ModelParams& p) {
    NodeWindow all;
    all.rows = m;
    all.cols = n;
    const std::unique_ptr<WindowPattern> pattern = window_pattern(kind, p, all);
    std::vector<double> col(6 * m);
    JacobianColumn out[3];
    for (std::size_t c = 0; c < 3; ++c) {
        out[c].re = col.data() + 2 * c * m;
        out[c].im = out[c].re + m;
    }
    PatternScratch scratch;
    std::vector<double> A(9, 0.0), b(3, 0.0);
    double dd = 0;
    for (std::size_t j = 0; j < n; ++j) {
        pattern->column(j, out, scratch);
        for (std::size_t i = 0; i < m; ++i) {
            const std::size_t k = i + j * m;
            const double f[3] = {1.0, out[0].re[i], out[0].im[i]};
            for (int r = 0; r < 3; ++r) {
                b[r] += w[k] * f[r] * d[k];
                for (int c = 0; c < 3; ++c) A[r * 3 + c] += w[k] * f[r] * f[c];
            }
            dd += w[k] * d[k] * d[k];
        }
    }
    const std::vector<double> rhs = b;
    if (!cholesky(A, 3)) return dd;
    const std::vector<double> beta = cholesky_solve(A, 3, rhs);
    return dd - (beta[0] * rhs[0] + beta[1] * rhs[1] + beta[2] * rhs[2]);
}

// The depths over [zlo, zhi] where the chirp of the particle of p (its
// radius and index held) fits a crop best: the two deepest minima of
// chirp_chi2 over 33 depths, as (chi^2, z). Two, because a near, large
// bead's scattering varies across the crop and can shift the deepest.
std::vector<std::pair<double, double>> chirp_minima(const std::vector<double>& d,
                                                    const std::vector<double>& w, std::size_t m,
                                                    std::size_t n, ParticleKind kind,
                                                    ModelParams p, double zlo, double zhi) {
    constexpr int kDepths = 33;
    const double a = p.r;
    std::vector<double> chirp(kDepths);
    for (int i = 0; i < kDepths; ++i) {
        p.z = zlo + (zhi - zlo) * i / (kDepths - 1);
        p.r = std::min(a, 0.99 * p.z);
        chirp[i] = chirp_chi2(d, w, m, n, kind, p);
    }
    std::vector<std::pair<double, double>> minima;
    for (int i = 0; i < kDepths; ++i) {
        if ((i > 0 && chirp[i - 1] < chirp[i]) || (i + 1 < kDepths && chirp[i + 1] < chirp[i])) continue;
        minima.push_back({chirp[i], zlo + (zhi - zlo) * i / (kDepths - 1)});
    }
    std::sort(minima.begin(), minima.end());
    if (minima.size() > 2) minima.resize(2);
    return minima;
}

// The best of `count` evenly spaced values of one parameter over [lo, hi]
// (the others held), then of as many between its two neighbours: a
// resolution of a few hundredths of the interval, inside the fit's reach.
template <class Score>
double scan(double lo, double hi, int count, Score score) {
    double best_v = lo, best_q = -std::numeric_limits<double>::infinity();
    for (int round = 0; round < 2; ++round) {
        const double step = (hi - lo) / (count - 1);
        for (int k = 0; k < count; ++k) {
            const double v = lo + step * k;
            const double q = score(v);
            if (q > best_q) {
                best_q = q;
                best_v = v;
            }
        }
        lo = best_v - step;
        hi = best_v + step;
    }
    return best_v;
}

// The neighbours of a grid value: the interval the scan's winner stands
// for (a tenth either side at the grid's ends or for a single value).
void bracket(const double* grid, std::size_t count, std::size_t k, double& lo, double& hi) {
    lo = k > 0 ? grid[k - 1] : grid[k] * 0.9;
    hi = k + 1 < count ? grid[k + 1] : grid[k] * 1.1;
    if (count == 1) {
        lo = grid[0] * 0.9;
        hi = grid[0] * 1.1;
    }
}

// The sub-pixel offset of a peak from its values at -1, 0, +1 (a parabola),
// within half a pixel.
double vertex(double minus, double centre, double plus) {
    const double curvature = minus - 2.0 * centre + plus;
    if (!(curvature < 0.0) || !std::isfinite(minus) || !std::isfinite(plus)) return 0.0;
    return std::clamp(0.5 * (minus - plus) / curvature, -0.5, 0.5);
}

// Row k of a fit of n rows as the model's particle on the whole sensor.
ModelParams row_params(const FindInput& in, const FindOptions& o, const FitResult& f, std::size_t n,
                       std::size_t k) {
    ModelParams p;
    p.x = f.p[k] * in.pix;
    p.y = f.p[k + n] * in.pix;
    p.z = f.p[k + 2 * n];
    p.r = f.p[k + 3 * n];
    p.pix = in.pix;
    p.lambda = in.lambda;
    p.M = static_cast<double>(in.M);
    p.N = static_cast<double>(in.N);
    p.K = pixel_width(o.particle, o.K);
    p.index = f.index.empty() ? 0.0 : f.index[k];
    p.medium = o.medium_index;
    p.polarization = o.polarization;
    return p;
}

// The fitted hologram over the whole sensor, without its noise.
void render(const FindInput& in, const FindOptions& o, const FitResult& f, std::size_t n,
            std::vector<double>& model) {
    const std::size_t M = in.M, N = in.N;
    std::vector<ModelParams> particles(n);
    for (std::size_t k = 0; k < n; ++k) particles[k] = row_params(in, o, f, n, k);
    const ParticleField field = particle_field(o.particle, particles, f.contrast, M, N);
    model.resize(M * N);
    for (std::size_t k = 0; k < M * N; ++k) {
        model[k] = o.model == FitModel::intensity
                       ? field.intensity(k, f.background, f.offset)
                       : f.offset + f.background * (1.0 - 2.0 * field.re[0][k]);
    }
}

}  // namespace

void drop_overlaps(const std::vector<double>& p, const std::vector<double>& se,
                   const std::vector<double>& score, double pix, std::vector<char>& keep) {
    const std::size_t n = score.size();
    for (std::size_t k = 0; k < n; ++k) {
        for (std::size_t j = 0; j < n && keep[k]; ++j) {
            const bool stronger = score[j] > score[k] || (score[j] == score[k] && j < k);
            if (j == k || !keep[j] || !stronger) continue;
            const double reach = p[j + 3 * n] + p[k + 3 * n];
            const double lateral = std::hypot(p[j] - p[k], p[j + n] - p[k + n]) * pix;
            const double depth_error = 3.0 * std::hypot(se[j + 2 * n], se[k + 2 * n]);
            keep[k] = !(lateral < reach && std::fabs(p[j + 2 * n] - p[k + 2 * n]) < reach + depth_error);
        }
    }
}

std::vector<char> kept_rows(const FitResult& fit, const std::vector<char>& held,
                            const std::vector<double>& score, const RowRules& rules) {
    const std::size_t n = score.size();
    const auto inside = [&](std::size_t k) {
        const double z = fit.p[k + 2 * n];
        return std::fabs(fit.p[k]) <= rules.half_rows && std::fabs(fit.p[k + n]) <= rules.half_cols &&
               z >= rules.least_z && z <= rules.most_z;
    };
    const auto measured = [&](std::size_t k) {
        bool finite = true;
        for (int q = 0; q < 4; ++q) finite = finite && std::isfinite(fit.se[k + q * n]);
        return finite && fit.p[k + 3 * n] >= rules.least_r;
    };
    bool strayed = false;
    for (std::size_t k = 0; k < n; ++k) strayed = strayed || (!held[k] && !inside(k));
    std::vector<char> keep(n);
    for (std::size_t k = 0; k < n; ++k) {
        keep[k] = held[k] || (inside(k) && measured(k));
        if (rules.contrast_free && keep[k] && !held[k] && !strayed)
            keep[k] = !(std::fabs(fit.contrast[k]) < 0.5 * rules.threshold * fit.contrast_se[k]);
    }
    drop_overlaps(fit.p, fit.se, score, rules.pix, keep);
    return keep;
}

std::size_t default_margin(ParticleKind particle, std::size_t M, std::size_t N) {
    return particle_has_index(particle) ? 0 : std::min(M, N) / 4;
}

std::size_t search_margin(const FindOptions& o, std::size_t M, std::size_t N) {
    if (!o.margin) return default_margin(o.particle, M, N);
    // Beyond half the smaller side a centre would lie more than a sensor's
    // size from the grid centre, where too little of its pattern is left.
    const double most = static_cast<double>(std::min(M, N) / 2), m = *o.margin;
    if (!(m >= 0.0 && m <= most && m == std::floor(m)))
        throw Error("Error: Margin must be a whole number of pixels from 0 to half the "
                    "hologram's smaller side (" + std::to_string(static_cast<long long>(most)) + ")");
    return static_cast<std::size_t>(m);
}

void validate(const FindOptions& o) {
    validate_optics(o.particle, o.medium_index, o.index, o.polarization, pixel_width(o.particle, o.K));
    // Noise alone scores like the magnitude of a normal variable at every
    // position: below 3 a search would take noise peaks by the hundred.
    if (!(o.threshold >= 3.0)) throw Error("Error: Threshold must be at least 3");
    kMaxCountRange.of(static_cast<double>(o.max_count));
    kMaxPassesRange.of(o.max_passes);
    if (o.sigma && (!(*o.sigma > 0.0) || !std::isfinite(*o.sigma)))
        throw Error("Error: Sigma must be a positive finite number");
    FitOptions fit;
    fit.contrast_free = o.contrast_free;
    fit.contrast = o.contrast;
    fit.K = o.K;
    fit.max_iter = o.max_iter;
    fit.tolerance = o.tolerance;
    validate(fit);
}

namespace {

// One search: the data and their weights, the residual scanned, and the
// particles found and dropped so far. Its steps are the search's rules, one
// function each.
class Search {
public:
    Search(const FindInput& in, const FindOptions& o, unsigned planner_flags)
        : in_(in), o_(o), planner_flags_(planner_flags), M_(in.M), N_(in.N),
          hM_(static_cast<double>(in.M / 2)), hN_(static_cast<double>(in.N / 2)),
          K_(pixel_width(o.particle, o.K)), margin_(search_margin(o, in.M, in.N)),
          Me_(in.M + 2 * margin_), Ne_(in.N + 2 * margin_) {
        stack_ = stack_input();
        stack_options_.threshold = o.threshold;
        stack_options_.min_separation = o.min_separation;
        stack_options_.sigma = o.sigma;
        StackInput check = stack_;
        check.hol = in.hol;
        check.w = o.weights;
        check.M = M_;
        check.N = N_;
        check_stack_input(check, stack_options_);
        // The searched field's size too (its transforms are 32-bit).
        check_stack_input(stack_, stack_options_);
        validate(o);
        mask_data();
    }

    FindResult run();

private:
    StackInput stack_input() const;
    void mask_data();
    void spread_residual();
    std::vector<Start> scan_residual(double sigma);
    bool known(double x, double y, double zc, double reach, double score) const;
    bool shadowed(const std::vector<Start>& fresh, double x, double y) const;
    Start fine_scan(const Candidate& c, double sigma, bool& ghost);
    void sphere_scan(const Candidate& c, double outside, Start& st) const;
    void cut_start(const Candidate& c, double outside, Start& st) const;
    bool seen_on_sensor(std::size_t k) const;
    std::vector<Start> fine_stack(const Candidate& c, double outside, const Start& scanned) const;
    // A searched field's pixel as a centre: pixels from the sensor's grid centre.
    double centre_x(std::size_t row) const { return static_cast<double>(row) - hM_ - static_cast<double>(margin_); }
    double centre_y(std::size_t col) const { return static_cast<double>(col) - hN_ - static_cast<double>(margin_); }
    // Whether a centre (pixels from the grid centre) lies in the searched
    // field: a crop's fit may leave it, chasing another pattern's fringes,
    // and the whole sensor's fit takes no start beyond it.
    bool in_field(double x, double y) const {
        const double margin = static_cast<double>(margin_);
        return std::fabs(x) <= hM_ + margin && std::fabs(y) <= hN_ + margin;
    }

    // The searched field's residual and weights over a square of half-width
    // half around a candidate (clipped to the field), as a hologram of its
    // own; a position (x, y) from the whole grid's centre is (x + dx, y + dy)
    // from the crop's.
    struct Crop {
        Crop(const Search& s, const Candidate& c, std::size_t half);
        Crop(const Crop&) = delete;
        Crop& operator=(const Crop&) = delete;
        std::vector<double> data, weight;
        FitInput in;
        double dx = 0.0, dy = 0.0;
    };
    FitOptions fit_options() const;
    FitResult fit_rows(const std::vector<Start>& rows, const std::vector<char>& held_flags,
                       bool hold, bool settled) const;
    std::size_t split_row(FitResult& without) const;
    void fit_found(bool hold);
    std::vector<char> held_rows(bool hold, bool& all_settled);
    void subtract();
    FindResult report();

    const FindInput& in_;
    const FindOptions& o_;
    const unsigned planner_flags_;
    const std::size_t M_, N_;
    const double hM_, hN_, K_;
    // The field searched: the sensor and a margin around it, whose pixels
    // hold no data (weight 0). Particles outside the sensor are found by
    // the part of their patterns that falls on it; the criterion's
    // normalisation counts only that part. Pixel (i, j) of the sensor is
    // (i + margin, j + margin) of the field, and both share their
    // coordinates from the grid centre.
    const std::size_t margin_, Me_, Ne_;
    std::vector<double> field_res_, field_w_;
    const double *scan_res_ = nullptr, *scan_w_ = nullptr;
    StackInput stack_;
    StackOptions stack_options_;
    std::vector<double> w_, data_, res_, best_, model_, quad_;
    std::vector<std::int32_t> pair_;
    double level_ = 0.0, sw_ = 0.0;
    std::vector<Start> found_, rejected_;
    FitResult fit_;
    bool fitted_ = false, held_any_ = false;
    FindResult result_;
};

StackInput Search::stack_input() const {
    // The scan reads the residual, set once the data are masked.
    StackInput s;
    static_cast<ScanInput&>(s) = in_;
    s.hol = nullptr;
    s.M = Me_;
    s.N = Ne_;
    s.K = K_;
    s.fov = {1, Me_, 1, Ne_};
    return s;
}

// Weights: the user's, with every non-finite pixel masked; the first
// residual is the data less its weighted mean (the criterion has no offset
// term of its own).
void Search::mask_data() {
    const std::size_t npix = M_ * N_;
    w_.resize(npix);
    data_.resize(npix);
    double swd = 0.0;
    for (std::size_t k = 0; k < npix; ++k) {
        const double wk = o_.weights ? o_.weights[k] : 1.0;
        if (!std::isfinite(wk)) throw Error("Error: Weights must be finite and non-negative");
        const bool usable = wk > 0.0 && std::isfinite(in_.hol[k]);
        w_[k] = usable ? wk : 0.0;
        data_[k] = usable ? in_.hol[k] : 0.0;
        if (!usable) ++result_.pixels_ignored;
        sw_ += w_[k];
        swd += w_[k] * data_[k];
    }
    if (!(sw_ > 0.0)) throw Error("Error: hol has no pixel with a finite value and non-zero weight");
    level_ = swd / sw_;
    res_.resize(npix);
    for (std::size_t k = 0; k < npix; ++k) res_[k] = w_[k] > 0.0 ? data_[k] - level_ : 0.0;
    best_.resize(Me_ * Ne_);
    pair_.resize(Me_ * Ne_);
    if (margin_ == 0) {
        scan_res_ = res_.data();
        scan_w_ = w_.data();
    } else {
        field_res_.assign(Me_ * Ne_, 0.0);
        field_w_.assign(Me_ * Ne_, 0.0);
        for (std::size_t j = 0; j < N_; ++j)
            std::copy_n(w_.data() + j * M_, M_, field_w_.data() + margin_ + (j + margin_) * Me_);
        scan_res_ = field_res_.data();
        scan_w_ = field_w_.data();
        spread_residual();
    }
    stack_.hol = scan_res_;
    stack_.w = scan_w_;
}

// The residual into the searched field (the margin stays 0).
void Search::spread_residual() {
    if (margin_ == 0) return;
    for (std::size_t j = 0; j < N_; ++j)
        std::copy_n(res_.data() + j * M_, M_, field_res_.data() + margin_ + (j + margin_) * Me_);
}

// A residual peak on a particle already fitted (or dropped), at its depth,
// is what its fit left, and so is a faint one among a fitted particle's
// central zones (kMisfit); a particle straight behind another one, at
// another depth, is new.
bool Search::known(double x, double y, double zc, double reach, double score) const {
    const double near = std::max(o_.min_separation, 2.0);
    for (const std::vector<Start>* list : {&found_, &rejected_}) {
        for (const Start& f : *list) {
            if ((std::hypot(f.x - x, f.y - y) < near && std::fabs(f.z - zc) <= reach) ||
                (std::hypot(f.seen_x - x, f.seen_y - y) < near && std::fabs(f.seen_z - zc) <= reach))
                return true;
        }
    }
    for (const Start& f : found_) {
        if (score < kMisfit * f.score &&
            std::hypot(f.x - x, f.y - y) < std::sqrt(4.0 * in_.lambda * f.z) / in_.pix)
            return true;
    }
    return false;
}

// Close to a stronger candidate of this scan, a peak may be a side lobe of
// its pattern: it waits for the next scan, on the residual with that
// pattern subtracted. Side lobes lie within the central Fresnel zones of the
// pattern that casts them (four here).
bool Search::shadowed(const std::vector<Start>& fresh, double x, double y) const {
    for (const Start& f : fresh) {
        if (std::hypot(f.x - x, f.y - y) < std::sqrt(4.0 * in_.lambda * f.z) / in_.pix) return true;
    }
    return false;
}

// A candidate brought within the fit's reach: its sub-pixel centre from the
// best map around the peak, then depth, radius and depth again by fine scans
// of the criterion there (the stack's grid is coarse). ghost: the pattern
// summed without wrap-around does not reach the threshold (the map is a
// circular correlation: a pattern near one edge also scores at the
// opposite one, where it has nothing to correlate with).
Start Search::fine_scan(const Candidate& c, double sigma, bool& ghost) {
    const double x = centre_x(c.row), y = centre_y(c.col);
    const std::size_t t = c.row + c.col * Me_;
    const std::size_t iz = static_cast<std::size_t>(c.pair) % in_.nz,
                      ir = static_cast<std::size_t>(c.pair) / in_.nz;
    double zlo, zhi, rlo, rhi;
    bracket(in_.depths, in_.nz, iz, zlo, zhi);
    bracket(in_.radii, in_.nr, ir, rlo, rhi);
    Start st{x, y, in_.depths[iz], in_.radii[ir], c.score};
    st.seen_x = x;
    st.seen_y = y;
    st.seen_z = in_.depths[iz];
    if (c.row > 0 && c.row + 1 < Me_) st.x += vertex(best_[t - 1], best_[t], best_[t + 1]);
    if (c.col > 0 && c.col + 1 < Ne_) st.y += vertex(best_[t - Me_], best_[t], best_[t + Me_]);
    // Beyond the searched field a window has nothing to sum.
    const std::size_t H = static_cast<std::size_t>(
        std::min(static_cast<double>(std::max(Me_, Ne_)),
                 std::max(24.0, std::sqrt(16.0 * in_.lambda * st.z) / in_.pix)));
    const auto by_z = [&](double z) {
        return window_score(scan_res_, scan_w_, Me_, Ne_, c.row, c.col, H, z, st.r, in_, K_, quad_);
    };
    const auto by_r = [&](double r) {
        return window_score(scan_res_, scan_w_, Me_, Ne_, c.row, c.col, H, st.z, r, in_, K_, quad_);
    };
    ghost = std::sqrt(by_z(st.z)) < std::max(o_.threshold, kGhost * c.score) * sigma;
    // How far the candidate lies inside the sensor's nearest edge (negative
    // outside it), in pixels.
    const auto inside = [&](std::size_t at, std::size_t size) {
        const double first = static_cast<double>(margin_), last = first + static_cast<double>(size) - 1.0;
        return std::min(static_cast<double>(at) - first, last - static_cast<double>(at));
    };
    const double gap = std::min(inside(c.row, M_), inside(c.col, N_));
    if (particle_has_index(o_.particle)) {
        if (!ghost) sphere_scan(c, std::max(0.0, -gap), st);
        return st;
    }
    // A pattern whose central zones the edge cuts shows part of its rings,
    // whose envelope tells the radius only loosely: the stack's radius may
    // be any of the grid's, and the whole range is scanned.
    const bool cut = gap < std::sqrt(4.0 * in_.lambda * st.z) / in_.pix;
    if (cut) {
        rlo = 0.9 * in_.radii[0];
        rhi = 1.1 * in_.radii[in_.nr - 1];
    }
    st.z = scan(zlo, zhi, 17, by_z);
    st.r = scan(rlo, rhi, cut ? 17 : 9, by_r);
    const double dz = (zhi - zlo) / 16;
    st.z = scan(st.z - dz, st.z + dz, 9, by_z);
    ghost = std::sqrt(by_z(st.z)) < std::max(o_.threshold, kGhost * c.score) * sigma;
    if (cut && !ghost) cut_start(c, std::max(0.0, -gap), st);
    return st;
}

Search::Crop::Crop(const Search& s, const Candidate& c, std::size_t half) {
    const std::size_t i0 = c.row > half ? c.row - half : 0, i1 = std::min(s.Me_, c.row + half + 1);
    const std::size_t j0 = c.col > half ? c.col - half : 0, j1 = std::min(s.Ne_, c.col + half + 1);
    const std::size_t m = i1 - i0, n = j1 - j0;
    data.resize(m * n);
    weight.resize(m * n);
    for (std::size_t j = 0; j < n; ++j) {
        std::copy_n(s.scan_res_ + i0 + (j0 + j) * s.Me_, m, data.data() + j * m);
        std::copy_n(s.scan_w_ + i0 + (j0 + j) * s.Me_, m, weight.data() + j * m);
    }
    in.hol = data.data();
    in.M = m;
    in.N = n;
    in.lambda = s.in_.lambda;
    in.pix = s.in_.pix;
    in.n = 1;
    // The crop's grid centre is its pixel (m/2, n/2).
    const double margin = static_cast<double>(s.margin_);
    dx = s.hM_ + margin - static_cast<double>(i0) - std::floor(0.5 * static_cast<double>(m));
    dy = s.hN_ + margin - static_cast<double>(j0) - std::floor(0.5 * static_cast<double>(n));
}

// The start of a particle whose central zones the sensor's edge cuts (its
// centre `outside` pixels beyond the edge, or inside near it). The
// criterion sees part of its rings, along which centre and depth trade off:
// the fine scans leave the depth a few percent off. The start is the best of
// the particle's own fits to the residual around it, over a band as wide as
// its 16 central zones beyond the edge: inside, from the scanned depth and
// 3% either side; outside, from the scanned values and from the criterion's
// best for each radius on a fine grid of depths (fine_stack), since there
// the visible fringes lie many zones out, where a percent of depth is a
// large phase, and the fit's basin is about a pixel and a percent wide,
// while the stack's coarse depths leave the candidate several pixels along
// the valley.
void Search::cut_start(const Candidate& c, double outside, Start& st) const {
    // A depth grid spanning hundreds of decades can send the scans below
    // zero; such a start has no Fresnel zone to crop and stays as scanned.
    if (!(st.z > 0.0)) return;
    const double reach = outside + std::sqrt(16.0 * in_.lambda * st.z) / in_.pix;
    const Crop crop(*this, c, static_cast<std::size_t>(std::min(reach, static_cast<double>(std::max(Me_, Ne_)))));
    if (std::none_of(crop.weight.begin(), crop.weight.end(), [](double w) { return w > 0.0; })) return;
    FitOptions fo = fit_options();
    fo.weights = crop.weight.data();
    FitInput fi = crop.in;
    double least = std::numeric_limits<double>::infinity();
    const Start scanned = st;
    std::vector<Start> starts;
    if (outside > 0.0) {
        starts = fine_stack(c, outside, scanned);
        starts.insert(starts.begin(), scanned);
    } else {
        for (const double f : {0.97, 1.0, 1.03}) {
            starts.push_back(scanned);
            starts.back().z *= f;
        }
    }
    for (const Start& from : starts) {
        double p0[4] = {from.x + crop.dx, from.y + crop.dy, from.z, from.r};
        fi.p0 = p0;
        const FitResult r = ring_fit(fi, fo);
        bool finite = true;
        for (const double e : r.se) finite = finite && std::isfinite(e);
        if (!finite || !(r.chi2 < least) || !in_field(r.p[0] - crop.dx, r.p[1] - crop.dy)) continue;
        least = r.chi2;
        st.x = r.p[0] - crop.dx;
        st.y = r.p[1] - crop.dy;
        st.z = r.p[2];
        st.r = r.p[3];
        st.a = r.contrast[0];
    }
}

// The smallest even length of at least n pixels with no prime factor
// beyond 7, whose transforms are fast.
std::size_t fast_length(std::size_t n) {
    for (std::size_t m = n + (n & 1);; m += 2) {
        std::size_t rest = m;
        for (const std::size_t f : {2, 3, 5, 7})
            while (rest % f == 0) rest /= f;
        if (rest == 1) return m;
    }
}

// Starts for a pattern beyond the edge from the criterion: for each radius
// of the grid, its best depth on a fine grid (2% apart, 10% either side of
// the scanned one) and its best position within kReach pixels of the
// candidate (along the edge a template's best position moves with its
// depth and radius). The field is taken as the fit's crop is (16 central
// zones beyond the edge), padded with zero weight to beyond twice that and
// the reach: the circular correlation then folds nothing onto the
// positions scored.
std::vector<Start> Search::fine_stack(const Candidate& c, double outside, const Start& scanned) const {
    constexpr int kDepths = 11;
    constexpr std::size_t kReach = 16;
    // At most about the searched field's size: the stack's memory.
    const double half = std::min(outside + std::sqrt(16.0 * in_.lambda * scanned.z) / in_.pix,
                                 0.5 * static_cast<double>(std::max(Me_, Ne_)));
    const std::size_t P = fast_length(2 * (static_cast<std::size_t>(half) + kReach) + 2), Q = P;
    std::vector<double> data(P * Q, 0.0), weight(P * Q, 0.0);
    const std::ptrdiff_t h = static_cast<std::ptrdiff_t>(half);
    for (std::ptrdiff_t dj = -h; dj <= h; ++dj) {
        const std::ptrdiff_t col = static_cast<std::ptrdiff_t>(c.col) + dj;
        if (col < 0 || col >= static_cast<std::ptrdiff_t>(Ne_)) continue;
        const std::size_t j = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(Q / 2) + dj);
        for (std::ptrdiff_t di = -h; di <= h; ++di) {
            const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(c.row) + di;
            if (row < 0 || row >= static_cast<std::ptrdiff_t>(Me_)) continue;
            const std::size_t i = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(P / 2) + di);
            const std::size_t k = static_cast<std::size_t>(row) + static_cast<std::size_t>(col) * Me_;
            data[i + j * P] = scan_res_[k];
            weight[i + j * P] = scan_w_[k];
        }
    }
    if (std::none_of(weight.begin(), weight.end(), [](double w) { return w > 0.0; })) return {};
    std::vector<double> depths(kDepths);
    for (int i = 0; i < kDepths; ++i) depths[i] = scanned.z * (0.9 + 0.02 * i);
    StackInput s;
    static_cast<ScanInput&>(s) = in_;
    s.hol = data.data();
    s.w = weight.data();
    s.M = P;
    s.N = Q;
    s.K = K_;
    s.depths = depths.data();
    s.nz = kDepths;
    s.fov = {P / 2 - kReach + 1, P / 2 + kReach + 1, Q / 2 - kReach + 1, Q / 2 + kReach + 1};
    const std::size_t m = s.fov.rows(), n = s.fov.cols();
    std::vector<double> best(m * n);
    std::vector<std::int32_t> pair(m * n);
    const std::vector<DetectionResult> winners = detection_stack(s, {best.data(), pair.data()}, FFTW_ESTIMATE);
    // Each radius's best depth and position: along the edge the radius
    // trades off with depth and centre too.
    std::vector<Start> starts;
    for (std::size_t ir = 0; ir < in_.nr; ++ir) {
        std::size_t top = ir * kDepths;
        for (std::size_t iz = 0; iz < kDepths; ++iz) {
            if (winners[iz + ir * kDepths].maxim > winners[top].maxim) top = iz + ir * kDepths;
        }
        if (!(winners[top].maxim > 0.0)) continue;
        const std::size_t t = winners[top].best, i = t % m, j = t / m;
        Start st = scanned;
        st.x = centre_x(c.row) + static_cast<double>(i) - kReach;
        st.y = centre_y(c.col) + static_cast<double>(j) - kReach;
        st.z = depths[top % kDepths];
        st.r = in_.radii[ir];
        starts.push_back(st);
    }
    return starts;
}

// A bead's start: the criterion's templates are a disc's, whose depth and
// radius say little of a bead's, so its depth, radius and index come from
// the sphere model's fit to a crop of the residual around the candidate
// (its level and offset fitted linearly): the depth over the scanned
// range, then radius and index together (they trade off along a valley of
// constant optical path), then each again finely; last, the sphere's fit to
// the crop, which the whole sensor's fit then only refines.
void Search::sphere_scan(const Candidate& c, double outside, Start& st) const {
    // The central fringes of a bead's pattern; for a bead beyond the edge,
    // as far again into the sensor (a crop of the margin alone holds no
    // pixel to fit).
    const Crop crop(*this, c, 64 + static_cast<std::size_t>(outside));
    const std::vector<double>& weight = crop.weight;
    // Every pixel of the crop masked: nothing to scan, the scanned start stays.
    if (std::none_of(weight.begin(), weight.end(), [](double w) { return w > 0.0; })) return;
    const std::size_t m = crop.in.M, n = crop.in.N;
    FitOptions fo = fit_options();
    fo.weights = weight.data();
    FitInput fi = crop.in;
    double p0[4] = {st.x + crop.dx, st.y + crop.dy, st.z, st.r};
    fi.p0 = p0;
    const auto fit_of = [&](double z, double a, double index) {
        p0[2] = z;
        p0[3] = std::min(a, 0.99 * z);
        fo.index = index;
        return -held_chi2(fi, fo);
    };
    const double zlo = in_.depths[0], zhi = in_.depths[in_.nz - 1];
    const double alo = in_.radii[0], ahi = in_.radii[in_.nr - 1];
    const double nlo = std::max(o_.index - 0.15, o_.medium_index + 0.01), nhi = o_.index + 0.15;
    // The chirp is scanned with a bead of the middle radius and index.
    ModelParams bead;
    bead.x = p0[0] * in_.pix;
    bead.y = p0[1] * in_.pix;
    bead.pix = in_.pix;
    bead.lambda = in_.lambda;
    bead.M = static_cast<double>(m);
    bead.N = static_cast<double>(n);
    bead.index = o_.index;
    bead.medium = o_.medium_index;
    bead.polarization = o_.polarization;
    bead.r = 0.5 * (alo + ahi);
    const std::vector<std::pair<double, double>> minima =
        chirp_minima(crop.data, weight, m, n, o_.particle, bead, zlo, zhi);
    // At each, radius and index on a grid: their valley is not along either
    // axis, and it holds several minima a fringe order apart. The crop is
    // fitted from the best few cells and the best fit of all kept.
    constexpr int kA = 7, kN = 5, kTried = 3, kCropIterations = 20;
    const double x0 = p0[0], y0 = p0[1], sx = st.x, sy = st.y;
    double least = std::numeric_limits<double>::infinity();
    // A crop fit from a cell near its bead converges within about 15
    // iterations; one still crawling after kCropIterations (along the
    // radius-index valley, or after a bead beyond the edge whose crop shows
    // a few outer fringes) has lost it, and its best point so far is all
    // the start needs.
    fo.max_iter = std::min(o_.max_iter, kCropIterations);
    for (const auto& minimum : minima) {
        const double z = minimum.second;
        std::vector<std::array<double, 3>> cells;  // -chi^2, a, index
        for (int i = 0; i < kA; ++i) {
            for (int k = 0; k < kN; ++k) {
                const double ai = alo + (ahi - alo) * i / (kA - 1), nk = nlo + (nhi - nlo) * k / (kN - 1);
                cells.push_back({fit_of(z, ai, nk), ai, nk});
            }
        }
        std::partial_sort(cells.begin(), cells.begin() + kTried, cells.end(),
                          [](const auto& u, const auto& v) { return u[0] > v[0]; });
        if (!std::isfinite(least)) {
            st.z = z;
            st.r = std::min(cells[0][1], 0.99 * z);
            st.n = cells[0][2];
        }
        for (int t = 0; t < kTried; ++t) {
            p0[0] = x0;
            p0[1] = y0;
            p0[2] = z;
            p0[3] = std::min(cells[t][1], 0.99 * z);
            fo.index = cells[t][2];
            // Other beads' fringes cross the crop: its fit ends at their
            // misfit, near enough for a start, whatever its residual.
            const FitResult r = ring_fit(fi, fo);
            if (!std::isfinite(r.se[2]) || !std::isfinite(r.index_se[0]) || !(r.chi2 < least) ||
                !in_field(sx + r.p[0] - x0, sy + r.p[1] - y0))
                continue;
            least = r.chi2;
            st.x = sx + r.p[0] - x0;
            st.y = sy + r.p[1] - y0;
            st.z = r.p[2];
            st.r = r.p[3];
            st.n = r.index[0];
        }
    }
}

// The new particles of one scan of the residual, each brought within the
// fit's reach.
std::vector<Start> Search::scan_residual(double sigma) {
    detection_stack(stack_, {best_.data(), pair_.data()}, planner_flags_);
    CandidateOptions co = stack_options_;
    co.max_count = o_.max_count - found_.size();
    std::vector<Candidate> cands = stack_candidates(stack_, {best_.data(), pair_.data()}, sigma, co);
    // A strong pattern scores well away from its centre too, against
    // templates of other depths (up to about 40% of its own score): only
    // candidates within half of the strongest are taken in one scan; the
    // rest come back, if they are particles, once the strong ones are
    // subtracted.
    while (!cands.empty() && (cands.back().score < kTakenTogether * cands.front().score ||
                              cands.size() > kMostAPass))
        cands.pop_back();
    // A template centred beyond the edge sees a sliver of its pattern, a
    // few broad fringes, and a sliver correlates with any strong pattern on
    // the sensor (on 160-pixel plates such slivers scored two thirds of the
    // particles that made them, and fitted with them drew the fit away).
    // Once a pass has taken a stronger candidate on the sensor, those
    // beyond the edge wait for the next scan, of the residual of what it
    // fits. A pattern beyond the edge that scores above everything on the
    // sensor is taken first, and its own slivers on the sensor are
    // shadowed by it.
    const auto beyond = [&](const Candidate& c) {
        return c.row < margin_ || c.row >= margin_ + M_ || c.col < margin_ || c.col >= margin_ + N_;
    };
    std::vector<Start> fresh;
    bool inner_taken = false;
    for (const Candidate& c : cands) {
        const bool outer = beyond(c);
        if (outer && inner_taken) continue;
        const double x = centre_x(c.row), y = centre_y(c.col);
        const std::size_t iz = static_cast<std::size_t>(c.pair) % in_.nz;
        double zlo, zhi;
        bracket(in_.depths, in_.nz, iz, zlo, zhi);
        const double zc = in_.depths[iz];
        if (known(x, y, zc, 1.5 * std::max(zc - zlo, zhi - zc), c.score) || shadowed(fresh, x, y))
            continue;
        bool ghost = false;
        const Start st = fine_scan(c, sigma, ghost);
        (ghost ? rejected_ : fresh).push_back(st);
        inner_taken = inner_taken || (!outer && !ghost);
    }
    return fresh;
}

// Which rows the next fit holds at their values: with hold, those fitted
// before, unless near a new particle (an overlap the earlier fit did not
// know of moves them).
std::vector<char> Search::held_rows(bool hold, bool& all_settled) {
    const std::size_t n = found_.size();
    std::vector<char> held(n);
    all_settled = true;
    for (std::size_t k = 0; k < n; ++k) {
        bool overlapped = false;
        for (const Start& f : found_) {
            overlapped = overlapped ||
                         (!f.settled && std::hypot(f.x - found_[k].x, f.y - found_[k].y) <
                                            std::sqrt(4.0 * in_.lambda * f.z) / in_.pix);
        }
        held[k] = hold && found_[k].settled && !overlapped;
        held_any_ = held_any_ || held[k];
        all_settled = all_settled && found_[k].settled;
    }
    return held;
}

// The fit of every particle found so far. hold: those fitted before are held
// at their values (the new ones are fitted among their patterns); otherwise
// all are fitted jointly from where they are. Rows that are no particle
// (kept_rows) are dropped and the rest refitted.
FitResult Search::fit_rows(const std::vector<Start>& rows, const std::vector<char>& held_flags,
                           bool hold, bool settled) const {
    const std::size_t n = rows.size();
    std::vector<double> p0(4 * n), a(n), index(n);
    for (std::size_t k = 0; k < n; ++k) {
        p0[k] = rows[k].x;
        p0[k + n] = rows[k].y;
        p0[k + 2 * n] = rows[k].z;
        p0[k + 3 * n] = rows[k].r;
        a[k] = rows[k].a;
        index[k] = rows[k].n;
    }
    std::unique_ptr<bool[]> held(new bool[n]);
    for (std::size_t k = 0; k < n; ++k) held[k] = held_flags[k] != 0;
    FitInput fi;
    fi.hol = data_.data();
    fi.M = M_;
    fi.N = N_;
    fi.lambda = in_.lambda;
    fi.pix = in_.pix;
    fi.p0 = p0.data();
    fi.n = n;
    FitOptions fo = fit_options();
    if (particle_has_index(o_.particle)) fo.index_start = index.data();
    // Pass by pass the fit only has to leave a clean residual for the next
    // scan: a standard error is close enough there, and the joint fit at the
    // end converges the rest.
    fo.tolerance = hold ? std::max(o_.tolerance, 1.0) : o_.tolerance;
    fo.held = held.get();
    fo.contrast_start = a.data();
    fo.settled = settled;
    return ring_fit(fi, fo);
}

// Whether row k of the fit is a detection by what the sensor holds of it: a
// row beyond the edge may be nothing but the misfit of another particle's
// cut pattern, and is kept only if its own pattern on the sensor reaches the
// threshold, sqrt(sum w (I - b)^2) / sigma with I its hologram alone and b
// the level (the criterion's score of a pattern that matches itself).
bool Search::seen_on_sensor(std::size_t k) const {
    const std::size_t n = found_.size();
    const double x = fit_.p[k], y = fit_.p[k + n];
    const bool inside = x >= -hM_ && x <= static_cast<double>(M_ - 1) - hM_ && y >= -hN_ &&
                        y <= static_cast<double>(N_ - 1) - hN_;
    if (inside || !(fit_.sigma > 0.0)) return true;
    const ParticleField field =
        particle_field(o_.particle, {row_params(in_, o_, fit_, n, k)}, {fit_.contrast[k]}, M_, N_);
    double sum = 0.0;
    for (std::size_t i = 0; i < M_ * N_; ++i) {
        const double d = o_.model == FitModel::intensity
                             ? field.intensity(i, fit_.background, 0.0) - fit_.background
                             : -2.0 * fit_.background * field.re[0][i];
        sum += w_[i] * d * d;
    }
    return std::sqrt(sum) >= o_.threshold * fit_.sigma;
}

// What every fit of the search shares.
FitOptions Search::fit_options() const {
    FitOptions fo;
    fo.model = o_.model;
    fo.particle = o_.particle;
    fo.contrast_free = o_.contrast_free;
    fo.contrast = o_.contrast;
    fo.weights = w_.data();
    fo.K = o_.K;
    fo.max_iter = o_.max_iter;
    fo.medium_index = o_.medium_index;
    fo.index = o_.index;
    fo.polarization = o_.polarization;
    return fo;
}

// A weaker row within the central Fresnel zones of a stronger one's pattern
// may be that particle's pattern split in two (the pair then describes a
// misfit of one pattern, often with the depths millimetres apart). It is a
// particle only if it lowers chi^2 by what a detection at the threshold
// would, threshold^2 sigma^2. The test is two fits alike but for that row:
// the stronger row and every row as close to the weaker one free, the rest
// held at the joint fit's values (far rows hardly share a pixel's misfit
// with the pair, and holding them makes each test a fit of a few patterns
// instead of all). Comparing with the joint fit itself would not do: where
// the test's fit finds a better optimum than the joint fit reached, a real
// particle would fail. Runs on the joint fit that ends a search (every row
// free). Returns the index of the first row that fails it (n when none
// does), with the fit without it.
std::size_t Search::split_row(FitResult& without) const {
    const std::size_t n = found_.size();
    const double s2 = fit_.sigma * fit_.sigma;
    const auto zone = [&](std::size_t j, std::size_t k) {
        return std::hypot(found_[j].x - found_[k].x, found_[j].y - found_[k].y) <
               std::sqrt(4.0 * in_.lambda * std::max(found_[j].z, found_[k].z)) / in_.pix;
    };
    for (std::size_t k = 0; k < n; ++k) {
        for (std::size_t j = 0; j < n; ++j) {
            const bool stronger = found_[j].score > found_[k].score ||
                                  (found_[j].score == found_[k].score && j < k);
            if (j == k || !stronger || !zone(j, k)) continue;
            std::vector<Start> rows;
            std::vector<char> held(n), held_without;
            for (std::size_t i = 0; i < n; ++i) {
                held[i] = i != k && i != j && !zone(i, k);
                if (i == k) continue;
                rows.push_back(found_[i]);
                held_without.push_back(held[i]);
            }
            // The fit with the row starts from the joint fit, so its chi^2
            // is at most the joint fit's: only a row the joint fit would
            // fail needs it.
            const double least = o_.threshold * o_.threshold * s2;
            without = fit_rows(rows, held_without, false, false);
            if (without.chi2 - fit_.chi2 < least &&
                without.chi2 - fit_rows(found_, held, false, false).chi2 < least)
                return k;
            break;
        }
    }
    return n;
}

// The fit of every particle found so far. hold: those fitted before are held
// at their values (the new ones are fitted among their patterns); otherwise
// all are fitted jointly from where they are. Rows that are no particle
// (kept_rows, split_row) are dropped and the rest refitted.
void Search::fit_found(bool hold) {
    bool all_settled = true;
    std::vector<char> held_flags = held_rows(hold, all_settled);
    fit_ = fit_rows(found_, held_flags, hold, !hold && all_settled);
    fitted_ = true;
    RowRules rules;
    rules.half_rows = hM_ + static_cast<double>(margin_);
    rules.half_cols = hN_ + static_cast<double>(margin_);
    rules.least_z = 0.5 * in_.depths[0];
    rules.most_z = 2.0 * in_.depths[in_.nz - 1];
    rules.least_r = 0.5 * in_.radii[0];
    rules.contrast_free = o_.contrast_free;
    rules.threshold = o_.threshold;
    rules.pix = in_.pix;
    for (;;) {
        const std::size_t n = found_.size();
        std::vector<double> scores(n);
        for (std::size_t k = 0; k < n; ++k) scores[k] = found_[k].score;
        std::vector<char> keep = kept_rows(fit_, held_flags, scores, rules);
        for (std::size_t k = 0; k < n; ++k) {
            if (keep[k] && !held_flags[k] && !seen_on_sensor(k)) keep[k] = 0;
        }
        std::vector<Start> kept;
        for (std::size_t k = 0; k < n; ++k) {
            if (keep[k]) {
                Start row = found_[k];
                row.x = fit_.p[k];
                row.y = fit_.p[k + n];
                row.z = fit_.p[k + 2 * n];
                row.r = fit_.p[k + 3 * n];
                row.a = fit_.contrast[k];
                row.settled = true;
                if (!fit_.index.empty()) row.n = fit_.index[k];
                kept.push_back(row);
            } else {
                rejected_.push_back(found_[k]);
            }
        }
        const bool changed = kept.size() != n;
        if (changed) {
            found_ = kept;
            if (found_.empty()) break;
            held_flags = held_rows(hold, all_settled);
            fit_ = fit_rows(found_, held_flags, hold, !hold && all_settled);
            continue;
        }
        // The test runs on the joint fit that ends a search, where every
        // row is free: a pass's fit only has to leave a residual for the
        // next scan. A row that fails it is dropped and the rest refitted
        // jointly from the test's fit (which held some of them).
        found_ = kept;
        FitResult without;
        const std::size_t split = hold ? n : split_row(without);
        if (split == n) break;
        rejected_.push_back(found_[split]);
        found_.erase(found_.begin() + static_cast<std::ptrdiff_t>(split));
        const std::size_t m = found_.size();
        for (std::size_t k = 0; k < m; ++k) {
            found_[k].x = without.p[k];
            found_[k].y = without.p[k + m];
            found_[k].z = without.p[k + 2 * m];
            found_[k].r = without.p[k + 3 * m];
            found_[k].a = without.contrast[k];
            if (!without.index.empty()) found_[k].n = without.index[k];
        }
        held_flags.assign(m, 0);
        fit_ = fit_rows(found_, held_flags, false, false);
    }
}

// The residual: the data less the fitted hologram, or less the level alone
// when no particle is left.
void Search::subtract() {
    const std::size_t npix = M_ * N_;
    if (found_.empty()) {
        fitted_ = false;
        for (std::size_t k = 0; k < npix; ++k) res_[k] = w_[k] > 0.0 ? data_[k] - level_ : 0.0;
    } else {
        render(in_, o_, fit_, found_.size(), model_);
        for (std::size_t k = 0; k < npix; ++k) res_[k] = w_[k] > 0.0 ? data_[k] - model_[k] : 0.0;
    }
    spread_residual();
}

FindResult Search::run() {
    result_.message = "no candidate reaches the threshold";
    for (int pass = 0; pass < o_.max_passes && found_.size() < o_.max_count; ++pass) {
        result_.passes = pass + 1;
        const double sigma = o_.sigma ? *o_.sigma : noise_sigma(res_.data(), w_.data(), M_, N_);
        result_.sigma = sigma;
        const std::vector<Start> fresh = scan_residual(sigma);
        if (fresh.empty()) {
            result_.message = found_.empty() ? "no candidate reaches the threshold"
                                             : "no further candidate reaches the threshold";
            break;
        }
        found_.insert(found_.end(), fresh.begin(), fresh.end());
        fit_found(true);
        subtract();
        if (found_.empty()) continue;
        result_.message = found_.size() >= o_.max_count ? "MaxCount particles found"
                                                        : "MaxPasses scans made";
    }
    // The particles fitted pass by pass among the earlier ones, held: now all
    // together, each from its optimum, for the joint estimate and its errors.
    if (fitted_ && held_any_ && !found_.empty()) fit_found(false);
    fitted_ = fitted_ && !found_.empty();
    return report();
}

FindResult Search::report() {
    const std::size_t n = fitted_ ? found_.size() : 0;
    result_.n = n;
    if (n == 0) {
        // Without a particle, the level alone: its offset is not separable.
        result_.background = level_;
        result_.background_se = result_.sigma / std::sqrt(sw_);
        return result_;
    }
    result_.p = fit_.p;
    result_.se = fit_.se;
    for (const Start& f : found_) result_.score.push_back(f.score);
    result_.contrast = fit_.contrast;
    result_.contrast_se = fit_.contrast_se;
    result_.index = fit_.index;
    result_.index_se = fit_.index_se;
    result_.converged = fit_.converged;
    result_.zr_correlation = fit_.zr_correlation;
    result_.background = fit_.background;
    result_.background_se = fit_.background_se;
    result_.offset = fit_.offset;
    result_.offset_se = fit_.offset_se;
    if (!fit_.message.empty() && fit_.converged.size() == n &&
        std::find(fit_.converged.begin(), fit_.converged.end(), false) != fit_.converged.end())
        result_.message += "; the last fit: " + fit_.message;
    return result_;
}


}  // namespace

FindResult find_particles(const FindInput& in, const FindOptions& o, unsigned planner_flags) {
    return Search(in, o, planner_flags).run();
}

}  // namespace partiscope
