% RINGFORM  Hologram model of one spherical particle on a sensor grid.
%
%   [real_p complex_p jinc] = ringform(x,y,z,r,pix,lambda,sizeH,flag,K)
%
%   An opaque particle of radius r at distance z from the sensor diffracts
%   like a disc. At a pixel at distance rho from the particle's axis its
%   complex term is
%       s = -1i * P * A * exp(1i*phi),   A = J * pi*r^2/(lambda*z),
%       J = J1(u)/u,  u = 2*pi*r*rho/(lambda*z),  phi = pi*rho^2/(lambda*z),
%   and its real part is the particle's first-order term in the hologram.
%   J is evaluated in single precision (0.5 for u below 1e-4).
%
%   Arguments (all lengths in metres, all real doubles):
%     x, y    particle position from the grid origin; x along the rows
%             (first dimension), y along the columns
%     z       distance from the particle to the sensor (z >= 0)
%     r       particle radius (r >= 0); r = 0 gives the bare Fresnel kernel
%     pix     pixel pitch (square pixels)
%     lambda  wavelength
%     sizeH   [M N]: rows and columns of the sensor (non-negative; fractional
%             sizes are truncated for the result and halved and floored for
%             the grid)
%     flag    0 for the real model, any other value for the complex model
%             (truncated toward zero: -1 < flag < 1 selects the real model)
%     K       pixel integration: 0 for point samples; otherwise each value is
%             multiplied by sinc factors sin(t)/t, t = K*pi*pix*d/(lambda*z),
%             of the pixel's offsets d from the particle along x and y
%
%   Grid: with h = floor(M/2) and g = floor(N/2) the grid origin is the
%   pixel (h+1, g+1) (1-based) and pixel (i, j) lies at X = (i-1-h)*pix,
%   Y = (j-1-g)*pix. For odd M (N) the last row (column) is not evaluated
%   and holds 0.
%
%   Results:
%     real_p     flag = 0: M-by-N real model; otherwise the scalar 0
%     complex_p  flag ~= 0: M-by-N complex model; otherwise the complex
%                scalar 0 + 0i (Octave shows it as a real 0)
%     jinc       r > 0: M-by-N grid of J1(u)/u; otherwise the scalar 0
%
%   r = 0: the result is the Fresnel impulse response
%   exp(1i*phi)/(1i*lambda*z) centred on the grid origin, whatever x and y.
%   z = 0 or lambda = 0 give infinite or NaN values.
%
%   Errors (the call returns nothing; the module stays usable):
%     wrong argument count         "Usage: [real_p complex_p jinc]=ringform(...)"
%     more than three results      "too many outputs for ringform"
%     an argument not a real double (single, integer, logical, char, complex)
%                                  "Error: one or more inputs are not double or real"
%     a sparse argument            "Error: <name> must be a full (not sparse) double array
%                                   (convert it with full(<name>))"
%     z < 0, r < 0                 "Error: Z should be positive", "Error: R should be positive"
%     an empty argument            "Error: <name> must not be empty"
%     sizeH with one element       "Error: sizeH must have two elements"
%     sizeH negative, NaN, infinite, or beyond 2^31-1 rows or columns or
%     2^48 pixels                  "Error: sizeH must hold two non-negative finite sizes
%                                   within the array limits"
%   Other values are computed as given: NaN or infinite x, y, pix, lambda or
%   K give NaN or infinite values; a result too large for memory is refused
%   by Octave or MATLAB with its out-of-memory error.
%
%   Example:
%     m = ringform(0, 0, 0.1, 50e-6, 10e-6, 500e-9, [256 256], 0, 0);
%     imagesc(m); axis image
%
%   See also CYLONE.
