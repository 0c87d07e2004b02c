// Free-space propagation of sampled scalar fields by the angular spectrum:
// the exact solution of the Helmholtz equation for a field given on a plane
// (no paraxial or far-field approximation), evaluated with FFTs on a grid
// padded so that the circular convolution does not wrap around, and
// band-limited so that the sampled transfer function does not alias.
//
// Fields are relative to the illuminating plane wave: the carrier e^(ikz)
// is divided out, so a uniform field stays uniform and the phase of a
// hologram's term is that of the toolbox's models.
#pragma once

#include <complex>
#include <cstddef>

namespace partiscope {

// The spatial frequency of index k of an n-point transform with step df:
// the upper half of the indices are the negative frequencies.
double frequency(std::size_t k, std::size_t n, double df);

// The transfer function of free space over a distance z (either sign) for
// a field sampled on a periodic grid of physical size extent_x by
// extent_y: H = exp(i 2 pi z (sqrt(1/lambda^2 - f^2) - 1/lambda)).
// Evanescent waves are dropped (backward, they would grow without bound),
// and so is every frequency beyond the band limit along each axis,
// |f| > 1/(lambda sqrt((2 z / extent)^2 + 1)), where H's phase changes by
// more than pi from one frequency sample to the next.
class Transfer {
public:
    Transfer(double lambda, double z, double extent_x, double extent_y);
    std::complex<double> operator()(double fx, double fy) const;
    double fx_limit() const { return fx_limit_; }
    double fy_limit() const { return fy_limit_; }

private:
    double z_, inv_lambda_, fx_limit_, fy_limit_;
};

// Propagates an M-by-N field (column-major; im null for a real field)
// sampled at pitch pix, zero outside the array, over z, writing the
// M-by-N field there into out_re/out_im. The field is padded to twice its
// size in each direction. z = 0 returns the field as it is. Lengths in
// metres; lambda and pix in their physical ranges (else Error).
void propagate_field(const double* re, const double* im, std::size_t M, std::size_t N,
                     double lambda, double pix, double z, double* out_re, double* out_im);

}  // namespace partiscope
