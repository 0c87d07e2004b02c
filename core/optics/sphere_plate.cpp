#include "core/optics/sphere_plate.h"

#include <cmath>
#include <complex>
#include <vector>

#include "core/optics/plate_noise.h"
#include "model/sphere_pattern.h"
#include "numerics/error.h"
#include "numerics/parallel.h"
#include "numerics/units.h"

namespace partiscope {

namespace {

ModelParams sphere_params(const SpherePlateInput& in, const SpherePlateOptions& o, std::size_t k) {
    ModelParams p;
    p.x = in.particles[k] * in.pix;
    p.y = in.particles[k + in.n] * in.pix;
    p.z = in.particles[k + 2 * in.n];
    p.r = in.particles[k + 3 * in.n];
    p.index = in.particles[k + 4 * in.n];
    p.medium = o.medium_index;
    p.lambda = in.lambda;
    return p;
}

}  // namespace

void check_sphere_plate(const SpherePlateInput& in, const SpherePlateOptions& o) {
    check_setup_lengths(in.lambda, in.pix);
    if (in.n > 0 && !in.particles) throw Error("Error: the spheres' table is missing");
    if (in.n > 10000) throw Error("Error: at most 10000 spheres");
    if (!std::isfinite(o.polarization)) throw Error("Error: Polarization must be a finite angle");
    if (!(std::fabs(o.contrast) <= 1e3))
        throw Error("Error: Contrast must be a number from -1000 to 1000");
    if (!(o.I0 > 0.0) || !std::isfinite(o.I0)) throw Error("Error: I0 must be a positive number");
    if (!(o.sigma >= 0.0) || !(o.photons >= 0.0) || !std::isfinite(o.sigma) ||
        !std::isfinite(o.photons))
        throw Error("Error: the noise must be a non-negative finite number");
    if (o.sigma > 0.0 && o.photons > 0.0) throw Error("Error: give one noise: Sigma or Photons");
    if (o.subpixels < 1 || o.subpixels > 16) throw Error("Error: Subpixels must be from 1 to 16");
    if (static_cast<double>(in.M) * static_cast<double>(in.N) > 1e9)
        throw Error("Error: at most 1e9 pixels");
    for (std::size_t k = 0; k < in.n; ++k) {
        for (int q = 0; q < 5; ++q) {
            if (!std::isfinite(in.particles[k + q * in.n]))
                throw Error("Error: the spheres' table must hold finite values");
        }
        sphere_optics(sphere_params(in, o, k), false);  // its optics' own checks
    }
}

void sphere_plate(const SpherePlateInput& in, const SpherePlateOptions& o, std::mt19937_64& rng,
                  double* hologram, double* noise) {
    check_sphere_plate(in, o);
    const std::size_t M = in.M, N = in.N;
    std::vector<SphereOptics> optics;
    std::vector<ModelParams> spheres;
    for (std::size_t k = 0; k < in.n; ++k) {
        spheres.push_back(sphere_params(in, o, k));
        optics.push_back(sphere_optics(spheres.back(), false));
    }
    const double h = std::floor(static_cast<double>(M) * 0.5), g = std::floor(static_cast<double>(N) * 0.5);
    const int S = o.subpixels;
    parallel_for(N, [&](std::size_t first, std::size_t last) {
        for (std::size_t j = first; j < last; ++j) {
            for (std::size_t i = 0; i < M; ++i) {
                double sum = 0.0;
                for (int si = 0; si < S; ++si) {
                    for (int sj = 0; sj < S; ++sj) {
                        const double X = (static_cast<double>(i) - h + (si + 0.5) / S - 0.5) * in.pix;
                        const double Y = (static_cast<double>(j) - g + (sj + 0.5) / S - 0.5) * in.pix;
                        std::complex<double> par = 0.0, perp = 0.0, axial = 0.0;
                        for (std::size_t k = 0; k < in.n; ++k) {
                            const SphereField e = sphere_field_at(optics[k], X - spheres[k].x, Y - spheres[k].y,
                                                                  spheres[k].z, o.polarization);
                            par += e.par;
                            perp += e.perp;
                            axial += e.axial;
                        }
                        sum += std::norm(1.0 + o.contrast * par) + std::norm(o.contrast * perp) +
                               std::norm(o.contrast * axial);
                    }
                }
                hologram[i + j * M] = o.I0 * sum / (S * S);
            }
        }
    });
    add_plate_noise(o.sigma, o.photons, o.I0, M * N, rng, hologram, noise);
}

}  // namespace partiscope
