% SYNTHPLATE  Simulated noisy in-line hologram of spherical particles.
%
%   [hologram,particles,Mean,noise] = synthplate(n,lambda,pix,sX,sY,I0,SNR, ...
%                                       rangeZ,rangeR,random_coordinates,coordinates,meanh,K)
%
%   Sums the complex diffraction terms S of n particles (the model of
%   ringform, complex form) over an sX-by-sY sensor and records the
%   intensity of the unit background wave minus that sum,
%       hologram = F * |1 - S|.^2 + noise,
%       F = I0 * lambda * zmin / (pi * rmax^2),
%   with zmin the least particle depth (but at most 1) and rmax the largest
%   radius. With no particle (n = 0) the plate is the uniform background
%   F = I0, plus noise.
%
%   Arguments (real doubles; lengths in metres):
%     n          number of particles (truncated toward zero, >= 0)
%     lambda     wavelength
%     pix        pixel pitch
%     sX, sY     sensor rows and columns (non-negative; fractional sizes are
%                truncated)
%     I0         intensity scale; the noise has standard deviation I0/SNR
%     SNR        signal-to-noise ratio; 1e-16 or less gives no noise
%     rangeZ     [zlo zhi]: depths of drawn particles, uniform in [zlo, zhi)
%     rangeR     [rlo rhi]: radii of drawn particles, uniform in [rlo, rhi)
%     random_coordinates  1 (after truncation) draws the particles at random
%                over the sensor; any other value takes them from coordinates
%     coordinates  table [x y z r], one particle a row, used when not drawing:
%                x, y in pixels from the grid centre (pixel (floor(sX/2)+1,
%                floor(sY/2)+1)), z and r in metres. Of a table with more
%                than n rows the first n are used; a vector of 4*n or more
%                values is read as [x1..xn y1..yn z1..zn r1..rn]. Ignored
%                when drawing.
%     meanh      0 (after truncation) removes the hologram's mean and returns
%                it in Mean; any other value keeps it (Mean = 0)
%     K          > 0: each pixel integrates the model over K pixels (sinc
%                factors along x and y); otherwise point samples
%
%   Results:
%     hologram   sX-by-sY simulated intensity, its mean removed if meanh = 0
%     particles  n-by-4 table [x y z r] of the particles used (x, y in pixels)
%     Mean       the mean removed, or 0
%     noise      sX-by-sY white Gaussian noise that was added
%
%   Random numbers: every call seeds its own generator (the C library's
%   rand sequence, on a private state) from a fine clock and a call counter,
%   so two calls never repeat each other's particles or noise, even in a
%   tight loop.
%
%   Errors (the call returns nothing; the module stays usable):
%     wrong argument count         "Usage: [hologram,particles,Mean,noise]=synthplate(...)"
%     more than four results       "too many outputs for synthplate"
%     an argument that is not a double array (single, integer, logical, char)
%                                  "Error: <name> must be a double array"
%     an empty scalar argument     "Error: <name> must not be empty"
%     n negative, NaN or beyond 2^31-1
%                                  "Error: n must be a non-negative whole number of particles"
%     sX, sY negative, NaN, infinite or too large
%                                  "Error: sX and sY must be non-negative finite sizes
%                                   within the array limits"
%     random_coordinates or meanh NaN or infinite
%                                  "Error: random_coordinates must be a finite number"
%                                  (and the same for meanh)
%     drawing, rangeZ or rangeR with one element
%                                  "Error: rangeZ must have two elements" (or rangeR)
%     a sparse argument            "Error: <name> must be a full (not sparse) double array
%                                   (convert it with full(<name>))"
%     a table that is a matrix without 4 columns (a transposed 4-by-n table)
%                                  "Error: coordinates must be an n-by-4 table [x y z r]"
%     a table of fewer than 4*n doubles
%                                  "Error: coordinates must hold at least 4*n doubles
%                                   (x, y, z, r of each particle)"
%     a particle radius not above 0
%                                  "Error: one of values of R is not positive - please
%                                   recheck the inputs"
%   Complex arguments are read by their real parts. Other values are
%   computed as given: NaN or infinite lengths give NaN or infinite pixels.
%
%   Example:
%     [h, p] = synthplate(8, 632.8e-9, 6.7e-6, 512, 512, 1, 5, [0.05 0.15], ...
%                         [20e-6 60e-6], 1, [], 0, 0);
%     imagesc(h); axis image; colormap gray
%
%   See also RINGFORM, DETECTSCAN.
