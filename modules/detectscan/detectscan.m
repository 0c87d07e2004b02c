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
%     w        per-pixel weights, at least M*N elements (ones(M,N) for none)
%     r        particle radius (r >= 0)
%     z        particle depth (z >= 0)
%     w_prim   per-position factors, at least M*N elements (ones(M,N) for none)
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
%   Errors: wrong argument or result counts (usage message), an argument
%   that is not a real double, z < 0 ("Error: Z should be positive"),
%   r < 0 ("Error: R should be positive"), an empty scalar argument, w or
%   w_prim with fewer elements than hol, a field of view that is not a
%   whole-number range within the hologram, more than 2^31-1 elements, or
%   an unknown PARTISCOPE_FFTW_PLANNER.
%
%   See also RINGFORM.
