% RINGFIT  Measure particles by a joint least-squares fit to a recorded hologram.
%
%   [p, se, info] = ringfit(hol, lambda, pix, p0)
%   [p, se, info] = ringfit(hol, lambda, pix, p0, Name, Value, ...)
%
%   Fits the positions, depths and radii of the particles in p0, together
%   with the hologram's background level b and offset c, by Levenberg-
%   Marquardt steps on the model's analytic derivatives, and returns the
%   estimates with their standard errors: the Cramer-Rao bound of the fitted
%   model at the estimate, sigma^2 (J'*W*J)^-1, nuisance parameters included.
%   Particles whose patterns overlap are fitted jointly.
%
%   Models of the data (s_k: the complex term of particle k, the field that
%   synthplate sums, ringform's complex model up to the last bit of its
%   Bessel factor; m_k = real(s_k)):
%     'intensity' (default)   hol = b * |1 - sum_k a_k s_k|.^2 + c
%                             the in-line hologram itself; with a = 1 exactly
%                             what synthplate renders (b its scale F, c minus
%                             the mean it removed)
%     'linear'                hol = c + b * (1 - 2 sum_k a_k m_k)
%                             the first-order form, the one precbound bounds
%
%   Arguments (lengths in metres):
%     hol      M-by-N recorded hologram, real doubles (rows along x). Any
%              level and offset: b and c are fitted. Divide a camera frame by
%              a background frame first (double(img) ./ double(bg)).
%     lambda   wavelength in the medium
%     pix      pixel pitch (at the object, for a magnified setup)
%     p0       n-by-4 start table [x y z r], one particle a row: x, y in
%              pixels from the grid centre, the pixel (floor(M/2)+1,
%              floor(N/2)+1), as in synthplate's table; z, r in metres, > 0.
%              The fit reaches the estimate from starts about a pixel, a
%              percent in depth and ten percent in radius away.
%
%   Options (names in any case):
%     'Model'       'intensity' (default) or 'linear'
%     'Particle'    the particle's field s:
%                   'disc' (default): the exact diffraction of an opaque disc
%                   (scalar, without the far-field approximation of the
%                   aperture: the Fresnel integral over the disc seen from
%                   each pixel at its distance, so right at any Fresnel
%                   number F = r^2/(lambda z), up to 1 and beyond);
%                   'toolbox': the six modules' model (ringform's, synthplate's
%                   plates), -1i pi r^2 (J1(u)/u)/(lambda z) exp(1i phi): half
%                   an opaque disc's far field, without the phase across the
%                   disc. It holds for F well below 0.01; on a real disc of
%                   F 0.1 its depth is off by about a hundred standard errors;
%                   'sphere': a homogeneous sphere under a microscope (a bead,
%                   a droplet, a cell), by Lorenz-Mie theory: the scattered
%                   field of a plane wave polarized along 'Polarization', in
%                   full (spherical Hankel functions, no far-field
%                   approximation), its three components; hol = b*(|1 +
%                   a E_par|.^2 + |a E_perp|.^2 + |a E_z|.^2) + c. r is the
%                   radius, z the height of its centre above the focal plane
%                   (z > r), lambda the wavelength in the medium (vacuum
%                   wavelength / MediumIndex), pix the pitch in the sample
%                   plane (camera pitch / magnification). Its refractive index
%                   is fitted too (info.index, info.index_se). Point samples
%                   (K 0). The fit reaches the estimate from starts about 5%
%                   off in depth and radius and a few hundredths in index;
%                   with 'Sigma' given, a fit whose residual stays beyond the
%                   noise is restarted along the radius-index valley (radius
%                   4% and 8% either way at the same optical path), and one
%                   still twice the noise's variance is reported not
%                   converged.
%     'MediumIndex' the medium's refractive index (required for 'sphere')
%     'Index'       a sphere's start index, absolute: one value or one per
%                   row of p0 (default 1.5)
%     'Polarization' the illumination's polarization angle from the x axis
%                   (the rows), radians (default 0)
%     'Contrast'    a, the factor on every particle's field: a number
%                   (default 1: under 'disc' an opaque disc; under 'toolbox'
%                   the toolbox's model, half of one) or 'free' (one factor
%                   per particle, fitted; info.contrast and info.contrast_se)
%                   for particles that are not opaque discs, or an imperfect
%                   illumination.
%     'Background'  b: held at this value (default: fitted)
%     'Offset'      c: held at this value (default: fitted)
%     'Weights'     M-by-N non-negative weights, double or logical (default
%                   ones): relative inverse variances of the pixels; 0 masks a
%                   pixel (dead or saturated pixels, borders, other objects),
%                   whatever it holds, NaN and Inf included
%     'Free'        1-by-4 logical, which of x, y, z, r are fitted (default
%                   all), the same for every particle; 1-by-5 for 'sphere',
%                   its index fifth
%     'Sigma'       the noise standard deviation at weight 1, when known;
%                   default: estimated from the residual, chi2/(pixels - fitted
%                   parameters)
%     'K'           pixel integration as synthplate's: K > 0 integrates each
%                   pixel's model over K pixels (the field's sinc factors of
%                   its local fringe frequency), 0 point samples. Default: 1
%                   for 'disc' (recorded holograms come from pixels with
%                   area), 0 for 'toolbox' (as synthplate's plates)
%     'MaxIter'     most Levenberg-Marquardt iterations (default 50); 0 keeps
%                   p0 and gives the standard errors there: with p0 the
%                   true particles, the Cramer-Rao bound of the model
%     'Tolerance'   converged when a further step would move no parameter by
%                   more than Tolerance standard errors (default 0.1: what is
%                   left adds at most 1% to the variance)
%
%   Results:
%     p      n-by-4 fitted table [x y z r], the same units as p0
%     se     n-by-4 standard errors of p (0 for a parameter held by 'Free')
%     info   struct with fields
%              background, background_se   b and its standard error
%              offset, offset_se           c and its standard error
%              sigma            the noise standard deviation used for se
%              chi2             sum of weight .* residual.^2
%              iterations       Levenberg-Marquardt iterations taken
%              converged        n-by-1 logical
%              zr_correlation   n-by-1: correlation of z and r in the
%                               covariance; near +-1, depth and radius are
%                               not separable from this hologram
%              contrast, contrast_se   n-by-1: a_k (and its standard error,
%                               0 unless 'Contrast' is 'free')
%              index, index_se  n-by-1 ('sphere' only): each sphere's
%                               refractive index and its standard error
%              pixels_ignored   pixels of weight 0
%              message          why the fit stopped
%   A fit that does not converge is reported in info (converged false, the
%   message says why) and p holds its last accepted estimate. A particle
%   whose standard errors are not all finite (the data do not determine it)
%   is never reported as converged.
%
%   Each pattern is evaluated only where it informs the fit: within the
%   square outside which it would change no standard error by more than
%   about 1%. The fit starts on the central 16 Fresnel zones of each pattern
%   and widens that window fourfold a stage until it is whole, so that a
%   start a percent off in depth stays within reach. Work is split over the
%   cores (PARTISCOPE_NUM_THREADS); results do not depend on the thread
%   count.
%
%   Errors (the call returns nothing; the module stays usable):
%     fewer than four arguments    "Usage: [p,se,info]=ringfit(hol,lambda,pix,p0,Name,Value,...)"
%     more than three results      "too many outputs for ringfit"
%     hol empty or not real double "Error: hol must be a non-empty real double matrix"
%     p0 not n-by-4 (n >= 1)       "Error: p0 must be an n-by-4 table [x y z r] with at
%                                   least one row"
%     p0 of more than 200 rows     "Error: p0 may hold at most 200 particles; fit larger
%                                   sets in groups"
%     p0 with NaN or Inf           "Error: p0 must hold finite values"
%     z <= 0 or r <= 0 in p0       "Error: p0 must have z > 0 and r > 0 in every row"
%     |x| > M or |y| > N in p0     "Error: p0's x and y must lie within one sensor size of
%                                   the grid centre"
%     lambda outside 1e-8..1e-5 m  "Error: lambda must be a wavelength in metres (1e-8 to
%                                   1e-5), got <lambda>"
%     pix outside 1e-8..1e-3 m     "Error: pix must be a pixel pitch in metres (1e-8 to
%                                   1e-3), got <pix>"
%     a sparse argument            "Error: <name> must be a full (not sparse) double array
%                                   (convert it with full(<name>))"
%     an option name that is not text, unknown, given twice or without value
%                                  "Error: option names must be text, such as 'Model'",
%                                  "Error: unknown option '<name>'; the options are ...",
%                                  "Error: option '<name>' is given twice",
%                                  "Error: option '<name>' needs a value"
%     a value of the wrong kind    "Error: Model must be 'intensity' or 'linear'",
%                                  "Error: Particle must be 'disc', 'toolbox' or 'sphere'",
%                                  "Error: Contrast must be a finite non-zero number or 'free'",
%                                  "Error: <option> must be a real number",
%                                  "Error: Weights must be a real array of the size of hol",
%                                  "Error: Free must have four elements (x, y, z, r) or
%                                   five (x, y, z, r, index), true where fitted",
%                                  "Error: 'sphere' needs MediumIndex, the refractive index
%                                   of the medium (a positive number)",
%                                  "Error: Index must be a positive number, or one per
%                                   particle",
%                                  "Error: K must be 0 for 'sphere': its pattern is sampled
%                                   at the pixels' centres",
%                                  "Error: Sigma must be a positive finite number",
%                                  "Error: MaxIter must be a whole number from 0 to 10000",
%                                  "Error: Tolerance must be a positive finite number"
%     Weights negative, NaN, Inf, or all zero
%                                  "Error: Weights must be finite and non-negative",
%                                  "Error: Weights must not all be zero"
%     NaN or Inf in hol where the weight is not 0
%                                  "Error: hol has <k> non-finite pixels with non-zero
%                                   weight; give them weight 0 in Weights"
%
%   Example (a simulated plate, a start off the truth):
%     [h, t] = synthplate(1, 632.8e-9, 6.7e-6, 512, 512, 1, 3, [0 0], [0 0], 0, ...
%                         [10 -20 0.1 40e-6], 0, 0);
%     [p, se, info] = ringfit(h, 632.8e-9, 6.7e-6, [11 -19 0.101 36e-6]);
%     [p; se]                       % the estimate and its standard errors
%     info.converged, info.zr_correlation
%
%   See also SYNTHPLATE, PRECBOUND, RINGFORM, DETECTSCAN.
