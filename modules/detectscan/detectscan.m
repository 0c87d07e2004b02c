% DETECTSCAN  Detection-criterion map of a hologram for one particle size and depth.
%
%   [row,col,maxim,q0] = detectscan(hol,lambda,pix,w,r,z,w_prim,MapFOVx,MapFOVy,K)
%
%   Scores every pixel of a field of view by how well the hologram model of
%   a particle of radius r at depth z, centred on that pixel, explains the
%   recorded data. With the model m displaced to the pixel and the circular
%   sums over the whole hologram c_w = sum(w.*m), c_wd = sum(w.*hol.*m),
%   c_wm2 = sum(w.*m.^2) and S = sum(w), the score is
%       q = S*c_wd^2 / (S*c_wm2 - c_w^2) * w_prim,
%   the squared weighted correlation of data and model over the model's
%   weighted variance. All positions are scored at once by 2-D FFTs.
%
%   Arguments (real doubles, lengths in metres):
%     hol      M-by-N hologram (mean removed, as from synthplate)
%     lambda   wavelength
%     pix      pixel pitch
%     w        M-by-N per-pixel weights (ones(M,N) for none); 0 masks a pixel:
%              its value in hol does not enter, even NaN or Inf
%     r        particle radius (r >= 0)
%     z        particle depth (z >= 0)
%     w_prim   M-by-N per-position factors (ones(M,N) for none)
%     MapFOVx  [x0 x1]: rows of the field of view, 1-based, inclusive
%     MapFOVy  [y0 y1]: columns of the field of view, 1-based, inclusive
%     K        0 for point samples, any other value for the pixel-integrated
%              model (width of one pixel)
%
%   Results:
%     row, col  1-based map row and column of the largest score, so that
%               q0(row, col) == maxim; the pixel is hol(x0-1+row, y0-1+col).
%               1 and 1 when no score is positive.
%     maxim     the largest score, 0 when no score is positive (the first
%               one in column-major order wins a tie)
%     q0        the (x1-x0+1)-by-(y1-y0+1) map of scores
%
%   The grid origin of the model is the pixel (floor(M/2)+1, floor(N/2)+1),
%   as in ringform; holograms of odd size are handled exactly.
%
%   FFT planning: the first call for a hologram size plans with FFTW's
%   MEASURE effort (about a second at 1024x1024); later calls of the same
%   size in the session reuse what FFTW learned. The environment variable
%   PARTISCOPE_FFTW_PLANNER (estimate, measure, patient, exhaustive)
%   selects another effort.
%
%   Errors (the call returns nothing; the module stays usable):
%     wrong argument count         "Usage: [row,col,maxim,q0]=detectscan(...)"
%     more than four results       "too many outputs for detectscan"
%     an argument not a real double (single, integer, logical, char, complex)
%                                  "Error: one or more inputs are not double or real"
%     z < 0, r < 0                 "Error: Z should be positive", "Error: R should be positive"
%     an empty scalar argument     "Error: <name> must not be empty"
%     a sparse argument            "Error: <name> must be a full (not sparse) double array
%                                   (convert it with full(<name>))"
%     w, w_prim not of hol's size  "Error: w must be the size of hol" (and w_prim)
%     NaN or Inf in w              "Error: w has <k> non-finite values; weights must be
%                                   finite (0 masks a pixel)"
%     NaN or Inf in hol where w is not 0
%                                  "Error: hol has <k> non-finite pixels with non-zero
%                                   weight; set w to 0 there to mask them"
%                                  (for example w(~isfinite(hol)) = 0)
%     a range with one element     "Error: MapFOVx must have two elements" (or MapFOVy)
%     a range not whole, empty, inverted or outside the hologram (an empty
%     hol included)                "Error: MapFOVx must be a whole-number range within
%                                   the hologram rows" (MapFOVy: columns)
%     hol of 2^31 or more elements "Error: hol must have fewer than 2^31 elements"
%     PARTISCOPE_FFTW_PLANNER unknown
%                                  "Error: PARTISCOPE_FFTW_PLANNER must be estimate,
%                                   measure, patient or exhaustive"
%     memory or planning failure   "Error: out of memory",
%                                  "Error: FFTW could not make a transform plan"
%   NaN or infinite values in w_prim give NaN scores there, which never win;
%   zero weights everywhere give NaN everywhere, maxim 0 and row = col = 1.
%
%   See also RINGFORM.
