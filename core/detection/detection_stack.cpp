#include "detection_stack.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <numeric>
#include <string>

#include "model/particle_model.h"
#include "core/detection/fftw_buffers.h"
#include "numerics/parallel.h"
#include "numerics/units.h"

namespace partiscope {
namespace {

using Complex = std::complex<double>;

// The better of two scores at a position: a number beats NaN, a larger one
// a smaller, and between equal ones the lower pair: the same winner in
// whatever order the pairs finish.
void keep_best(double q, std::int32_t pair, double& best, std::int32_t& best_pair) {
    if (q > best || (std::isnan(best) && !std::isnan(q)) || (q == best && pair < best_pair)) {
        best = q;
        best_pair = pair;
    }
}

// The working arrays of one thread: the three circular sums of a pair
// (half spectra transformed back in place) and the real spectra of its
// template and the template's square, on the quadrant of non-negative
// frequencies (the template is even in both offsets, so its spectrum is
// real and even).
struct Lane {
    fftw::HalfSpectrum cw, cwd, cwm2;
    fftw::RealBuffer k1, k2;
};

// One stack scan: the data's spectra, each thread's lane, the plans, and the
// pairs run side by side (one a lane) or, for a single pair, with each of
// its steps spread over the threads.
class Stack {
public:
    Stack(const StackInput& in, const StackMaps& out, unsigned planner_flags);
    std::vector<DetectionResult> run();

private:
    void weigh_data();
    template <class Steps>
    void template_spectra(Lane& L, std::size_t pair, Steps&& steps);
    template <class Steps>
    void correlate(Lane& L, Steps&& steps);
    void score(Lane& L, std::size_t pair, bool inner);
    void run_pair(Lane& L, std::size_t pair, bool inner);

    const StackInput& in_;
    const StackMaps& out_;
    const unsigned planner_flags_;
    const std::size_t M_, N_, n_, hM_, hN_, qr_, qc_, pairs_;
    const FieldOfView& v_;
    const std::size_t nx_, ny_;
    // The template's spectrum on an even grid is the 2-D cosine transform
    // (DCT-I) of its quadrant: a quarter of the points of a real transform
    // of the grid. Odd sizes take the real transform of the whole template.
    const bool cosine_;
    // Pairs run side by side, one a thread; a single pair (detectscan's
    // map) runs its transforms side by side instead, in place in the data's
    // spectra, which it alone needs.
    const std::size_t lanes_;
    const bool alone_;
    fftw::HalfSpectrum fw_, fwd_;
    std::vector<Lane> lane_;
    fftw::Plan forward_, backward_, dct_;
    double S_ = 0.0;
    std::vector<DetectionResult> winners_;
    std::mutex merge_;
};

Stack::Stack(const StackInput& in, const StackMaps& out, unsigned planner_flags)
    : in_(in), out_(out), planner_flags_(planner_flags), M_(in.M), N_(in.N), n_(in.M * in.N),
      hM_(in.M / 2), hN_(in.N / 2), qr_(in.M / 2 + 1), qc_(in.N / 2 + 1), pairs_(in.nz * in.nr),
      v_(in.fov), nx_(in.fov.rows()), ny_(in.fov.cols()),
      cosine_(in.M % 2 == 0 && in.N % 2 == 0 && in.M >= 2 && in.N >= 2),
      lanes_(std::min<std::size_t>(thread_count(), in.nz * in.nr)), alone_(in.nz * in.nr == 1),
      fw_(in.M, in.N), fwd_(in.M, in.N), winners_(in.nz * in.nr) {
    lane_.reserve(lanes_);
    for (std::size_t l = 0; l < lanes_; ++l) {
        lane_.push_back(Lane{alone_ ? fftw::HalfSpectrum(1, 1) : fftw::HalfSpectrum(M_, N_),
                             alone_ ? fftw::HalfSpectrum(1, 1) : fftw::HalfSpectrum(M_, N_),
                             fftw::HalfSpectrum(M_, N_), fftw::real_buffer(qr_ * qc_),
                             fftw::real_buffer(qr_ * qc_)});
    }
    // Plans are made before anything is written into their arrays (planning
    // overwrites them) and on this thread (FFTW plans on one thread only;
    // executing plans on other arrays is safe from any thread).
    forward_ = fftw::make_plan(planner_flags_, [&] {
        return fftw_plan_dft_r2c_2d(static_cast<int>(N_), static_cast<int>(M_), fw_.real(),
                                    fw_.spectrum(), planner_flags_);
    });
    backward_ = fftw::make_plan(planner_flags_, [&] {
        return fftw_plan_dft_c2r_2d(static_cast<int>(N_), static_cast<int>(M_),
                                    lane_[0].cwm2.spectrum(), lane_[0].cwm2.real(), planner_flags_);
    });
    if (cosine_)
        dct_ = fftw::make_plan(planner_flags_, [&] {
            return fftw_plan_r2r_2d(static_cast<int>(qc_), static_cast<int>(qr_), lane_[0].k1.get(),
                                    lane_[0].k1.get(), FFTW_REDFT00, FFTW_REDFT00, planner_flags_);
        });
}

// The data's half: w and w d, filled column by column; the total weight is
// summed per column and the columns' sums added in order.
void Stack::weigh_data() {
    std::vector<double> column_weight(N_, 0.0);
    parallel_for(N_, [&](std::size_t first, std::size_t last) {
        for (std::size_t j = first; j < last; ++j) {
            const double* dj = in_.hol + j * M_;
            double* W = fw_.real() + j * fw_.stride;
            double* WD = fwd_.real() + j * fwd_.stride;
            double S = 0.0;
            for (std::size_t i = 0; i < M_; ++i) {
                const double wi = in_.w ? in_.w[i + j * M_] : 1.0;
                W[i] = wi;
                WD[i] = weighted_data(wi, dj[i]);
                S += wi;
            }
            column_weight[j] = S;
        }
    });
    S_ = std::accumulate(column_weight.begin(), column_weight.end(), 0.0);
    fftw::HalfSpectrum* const data[2] = {&fw_, &fwd_};
    parallel_for(2, [&](std::size_t first, std::size_t last) {
        for (std::size_t t = first; t < last; ++t)
            fftw_execute_dft_r2c(forward_.get(), data[t]->real(), data[t]->spectrum());
    });
}

// The real spectra of a pair's template and of its square, into the lane's
// k1 and k2.
template <class Steps>
void Stack::template_spectra(Lane& L, std::size_t pair, Steps&& steps) {
    ModelParams p;
    p.z = in_.depths[pair % in_.nz];
    p.r = in_.radii[pair / in_.nz];
    p.pix = in_.pix;
    p.lambda = in_.lambda;
    p.K = in_.K;
    double* k1 = L.k1.get();
    double* k2 = L.k2.get();
    detection_template_quadrant(k1, qr_, qc_, p);
    for (std::size_t k = 0; k < qr_ * qc_; ++k) k2[k] = k1[k] * k1[k];
    if (cosine_) {
        double* const kernels[2] = {k1, k2};
        steps(2, [&](std::size_t first, std::size_t last) {
            for (std::size_t t = first; t < last; ++t) fftw_execute_r2r(dct_.get(), kernels[t], kernels[t]);
        });
        return;
    }
    // The whole template, centred on the grid's corner, through the real
    // transform; its spectrum's imaginary part is rounding.
    fftw::HalfSpectrum& g = L.cwm2;
    for (double* k : {k1, k2}) {
        for (std::size_t j = 0; j < N_; ++j) {
            const std::size_t oj = j <= hN_ ? j : N_ - j;
            for (std::size_t i = 0; i < M_; ++i)
                g.real()[i + j * g.stride] = k[(i <= hM_ ? i : M_ - i) + oj * qr_];
        }
        fftw_execute_dft_r2c(forward_.get(), g.real(), g.spectrum());
        for (std::size_t j = 0; j < qc_; ++j)
            for (std::size_t i = 0; i < qr_; ++i) k[i + j * qr_] = g.values()[i + j * qr_].real();
    }
}

// Correlations as products of spectra: the weights with the template, the
// weighted data with the template, the weights with the template's square.
// Alone, the first two overwrite the data's spectra.
template <class Steps>
void Stack::correlate(Lane& L, Steps&& steps) {
    fftw::HalfSpectrum& cw = alone_ ? fw_ : L.cw;
    fftw::HalfSpectrum& cwd = alone_ ? fwd_ : L.cwd;
    const double* k1 = L.k1.get();
    const double* k2 = L.k2.get();
    steps(N_, [&](std::size_t first, std::size_t last) {
        for (std::size_t j = first; j < last; ++j) {
            const std::size_t kj = (j <= hN_ ? j : N_ - j) * qr_;
            const Complex* Fw = fw_.values() + j * qr_;
            const Complex* Fwd = fwd_.values() + j * qr_;
            Complex* Cw = cw.values() + j * qr_;
            Complex* Cwd = cwd.values() + j * qr_;
            Complex* Cwm2 = L.cwm2.values() + j * qr_;
            for (std::size_t i = 0; i < qr_; ++i) {
                const Complex w = Fw[i];
                Cwm2[i] = w * k2[kj + i];
                Cw[i] = w * k1[kj + i];
                Cwd[i] = Fwd[i] * k1[kj + i];
            }
        }
    });
    fftw::HalfSpectrum* const sums[3] = {&cw, &cwd, &L.cwm2};
    steps(3, [&](std::size_t first, std::size_t last) {
        for (std::size_t t = first; t < last; ++t)
            fftw_execute_dft_c2r(backward_.get(), sums[t]->spectrum(), sums[t]->real());
    });
}

// Score: the template centred on the grid's corner makes the sums at pixel
// (i, j) those of the template centred on that pixel. `inner` spreads the
// columns over the threads; otherwise the lane's thread merges its scores
// under the lock.
void Stack::score(Lane& L, std::size_t pair, bool inner) {
    const fftw::HalfSpectrum& cw = alone_ ? fw_ : L.cw;
    const fftw::HalfSpectrum& cwd = alone_ ? fwd_ : L.cwd;
    const double nd = static_cast<double>(n_);
    const std::int32_t id = static_cast<std::int32_t>(pair);
    std::vector<DetectionResult> column_best(inner ? ny_ : 1);
    const auto score_columns = [&](std::size_t first, std::size_t last) {
        for (std::size_t bcol = first; bcol < last; ++bcol) {
            const std::size_t col = v_.y0 - 1 + bcol;
            const double* Cw = cw.real() + col * cw.stride;
            const double* Cwd = cwd.real() + col * cwd.stride;
            const double* Cwm2 = L.cwm2.real() + col * L.cwm2.stride;
            const double* wp = in_.w_prim ? in_.w_prim + col * M_ : nullptr;
            DetectionResult& b = column_best[inner ? bcol : 0];
            for (std::size_t a = 0; a < nx_; ++a) {
                const std::size_t row = v_.x0 - 1 + a;
                const double e = Cw[row], f = Cwd[row], g = Cwm2[row];
                const double q = ((S_ * f / nd) * f / nd) / ((S_ * g / nd) - (e * (e / nd)) / nd) *
                                 (wp ? wp[row] : 1.0);
                const std::size_t t = a + bcol * nx_;
                if (q > b.maxim) {
                    b.maxim = q;
                    b.best = t;
                }
                if (out_.pair)
                    keep_best(q, id, out_.best[t], out_.pair[t]);
                else
                    out_.best[t] = q;
            }
        }
    };
    if (inner) {
        parallel_for(ny_, score_columns);
    } else {
        const std::lock_guard<std::mutex> hold(merge_);
        score_columns(0, ny_);
    }
    // The first largest score in scan order wins.
    DetectionResult winner;
    for (const DetectionResult& b : column_best) {
        if (b.maxim > winner.maxim) winner = b;
    }
    winners_[pair] = winner;
}

// One pair: its template's spectra, the three sums, the scores.
void Stack::run_pair(Lane& L, std::size_t pair, bool inner) {
    const auto steps = [inner](std::size_t count, auto&& work) {
        if (inner)
            parallel_for(count, work);
        else
            work(std::size_t{0}, count);
    };
    template_spectra(L, pair, steps);
    correlate(L, steps);
    score(L, pair, inner);
}

std::vector<DetectionResult> Stack::run() {
    weigh_data();
    if (lanes_ == 1) {
        for (std::size_t pair = 0; pair < pairs_; ++pair) run_pair(lane_[0], pair, true);
    } else {
        std::atomic<std::size_t> next{0};
        parallel_for(lanes_, [&](std::size_t first, std::size_t last) {
            for (std::size_t l = first; l < last; ++l)
                for (std::size_t pair = next++; pair < pairs_; pair = next++)
                    run_pair(lane_[l], pair, false);
        });
    }
    return winners_;
}

}  // namespace

std::vector<DetectionResult> detection_stack(const StackInput& in, const StackMaps& out,
                                             unsigned planner_flags) {
    {
        DetectionInput d;
        d.hol = in.hol;
        d.M = in.M;
        d.N = in.N;
        d.w = in.w;
        check_masked_data(d, in.weights_name);
    }
    const std::size_t nx = in.fov.rows(), ny = in.fov.cols();
    if (out.pair) {
        std::fill(out.best, out.best + nx * ny, std::numeric_limits<double>::quiet_NaN());
        std::fill(out.pair, out.pair + nx * ny, std::int32_t{-1});
    }
    if (in.nz * in.nr == 0) return {};
    return Stack(in, out, planner_flags).run();
}

double noise_sigma(const double* hol, const double* w, std::size_t M, std::size_t N) {
    std::vector<double> d;
    d.reserve(M > 1 ? (M - 1) * N : 0);
    for (std::size_t j = 0; j < N; ++j) {
        for (std::size_t i = 0; i + 1 < M; ++i) {
            const std::size_t k = i + j * M;
            const double w1 = w ? w[k] : 1.0, w2 = w ? w[k + 1] : 1.0;
            if (!(w1 > 0.0) || !(w2 > 0.0)) continue;
            const double diff = hol[k + 1] - hol[k];
            if (!std::isfinite(diff)) continue;
            // Var(d2 - d1) = sigma^2 (1/w1 + 1/w2).
            d.push_back(std::fabs(diff) / std::sqrt(1.0 / w1 + 1.0 / w2));
        }
    }
    if (d.size() < 2) return 0.0;
    const auto mid = d.begin() + static_cast<std::ptrdiff_t>(d.size() / 2);
    std::nth_element(d.begin(), mid, d.end());
    // The median of |N(0, sigma^2)| is 0.6745 sigma.
    return *mid / 0.6744897501960817;
}

std::vector<Candidate> stack_candidates(const StackInput& in, const StackMaps& maps, double sigma,
                                        const CandidateOptions& o) {
    const FieldOfView& v = in.fov;
    const std::size_t nx = v.rows(), ny = v.cols();
    const double floor_q = o.threshold * o.threshold * sigma * sigma;
    std::vector<Candidate> peaks;
    for (std::size_t b = 0; b < ny; ++b) {
        for (std::size_t a = 0; a < nx; ++a) {
            const std::size_t t = a + b * nx;
            const double q = maps.best[t];
            if (!(q >= floor_q) || !(q > 0.0)) continue;
            bool peak = true;
            for (int db = -1; db <= 1 && peak; ++db) {
                for (int da = -1; da <= 1 && peak; ++da) {
                    if (da == 0 && db == 0) continue;
                    const std::ptrdiff_t aa = static_cast<std::ptrdiff_t>(a) + da,
                                         bb = static_cast<std::ptrdiff_t>(b) + db;
                    if (aa < 0 || bb < 0 || aa >= static_cast<std::ptrdiff_t>(nx) ||
                        bb >= static_cast<std::ptrdiff_t>(ny))
                        continue;
                    const double nq = maps.best[static_cast<std::size_t>(aa) +
                                                static_cast<std::size_t>(bb) * nx];
                    // A plateau keeps its first pixel in scan order.
                    const bool earlier = db < 0 || (db == 0 && da < 0);
                    if (nq > q || (earlier && nq == q)) peak = false;
                }
            }
            if (!peak) continue;
            Candidate c;
            c.row = v.x0 - 1 + a;
            c.col = v.y0 - 1 + b;
            c.pair = maps.pair ? maps.pair[t] : 0;
            c.score = sigma > 0.0 ? std::sqrt(q) / sigma : std::numeric_limits<double>::infinity();
            peaks.push_back(c);
        }
    }
    std::stable_sort(peaks.begin(), peaks.end(),
                     [](const Candidate& x, const Candidate& y) { return x.score > y.score; });
    std::vector<Candidate> kept;
    const double sep2 = o.min_separation * o.min_separation;
    for (const Candidate& c : peaks) {
        if (kept.size() >= o.max_count) break;
        bool clear = true;
        for (const Candidate& k : kept) {
            const double dr = static_cast<double>(c.row) - static_cast<double>(k.row);
            const double dc = static_cast<double>(c.col) - static_cast<double>(k.col);
            if (dr * dr + dc * dc < sep2) {
                clear = false;
                break;
            }
        }
        if (clear) kept.push_back(c);
    }
    return kept;
}

}  // namespace partiscope

namespace partiscope {
namespace {

void check_grid(const double* v, std::size_t count, const char* name) {
    const std::string n = name;
    if (count == 0) throw Error("Error: " + n + " must not be empty");
    for (std::size_t k = 0; k < count; ++k) {
        if (!(v[k] > 0.0) || !std::isfinite(v[k]))
            throw Error("Error: " + n + " must be positive finite lengths (metres)");
        if (k > 0 && !(v[k] > v[k - 1])) throw Error("Error: " + n + " must be increasing");
    }
}

}  // namespace

void check_stack_input(const StackInput& in, const StackOptions& o) {
    if (in.M < 4 || in.N < 4) throw Error("Error: hol must be at least 4 by 4 pixels");
    // FFTW's sizes and our pair index are 32-bit.
    if (in.M * in.N > 2147483647u) throw Error("Error: hol must have fewer than 2^31 elements");
    check_setup_lengths(in.lambda, in.pix);
    check_grid(in.depths, in.nz, "depths");
    check_grid(in.radii, in.nr, "radii");
    if (in.nz * in.nr > 100000) throw Error("Error: depths and radii may make at most 100000 pairs");
    if (!(o.threshold >= 0.0) || !std::isfinite(o.threshold))
        throw Error("Error: Threshold must be a non-negative finite number");
    if (!(o.min_separation >= 0.0) || !std::isfinite(o.min_separation))
        throw Error("Error: MinSeparation must be a non-negative finite number of pixels");
    if (o.sigma && (!(*o.sigma > 0.0) || !std::isfinite(*o.sigma)))
        throw Error("Error: Sigma must be a positive finite number");
    kStackMaxCountRange.of(static_cast<double>(o.max_count));
    if (in.w) {
        for (std::size_t k = 0; k < in.M * in.N; ++k) {
            if (in.w[k] < 0.0) throw Error("Error: Weights must be finite and non-negative");
        }
    }
}

StackDetection detect_stack(const StackInput& in, const StackOptions& o, const StackMaps& maps,
                            unsigned planner_flags) {
    check_stack_input(in, o);
    StackDetection r;
    detection_stack(in, maps, planner_flags);
    r.sigma = o.sigma ? *o.sigma : noise_sigma(in.hol, in.w, in.M, in.N);
    r.candidates = stack_candidates(in, maps, r.sigma, o);
    const std::size_t n = r.candidates.size();
    r.table.resize(5 * n);
    const double h = static_cast<double>(in.M / 2), g = static_cast<double>(in.N / 2);
    for (std::size_t k = 0; k < n; ++k) {
        const Candidate& c = r.candidates[k];
        const std::size_t pair = static_cast<std::size_t>(c.pair);
        r.table[k] = static_cast<double>(c.row) - h;
        r.table[k + n] = static_cast<double>(c.col) - g;
        r.table[k + 2 * n] = in.depths[pair % in.nz];
        r.table[k + 3 * n] = in.radii[pair / in.nz];
        r.table[k + 4 * n] = c.score;
    }
    return r;
}

}  // namespace partiscope
