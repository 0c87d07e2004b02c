% DETECTSTACK  Detection map of a hologram over a stack of depths and radii, and its candidates.
%
%   [cand,best,zidx,ridx] = detectstack(hol,lambda,pix,depths,radii,Name,Value,...)
%
%   Scores every pixel for every pair of a depth from depths and a radius
%   from radii with detectscan's criterion (see help detectscan), and keeps
%   at each pixel the best score over the stack and the pair that gave it.
%   The transforms of the data and the weights are made once for the whole
%   stack and the pairs run side by side on the processor's cores, so a
%   stack costs about half of one detectscan call a pair, and its memory
%   does not grow with the number of pairs.
%
%   Arguments (real doubles, lengths in metres):
%     hol      M-by-N hologram, at least 4-by-4, with its mean removed (the
%              criterion has no offset term; findparticles removes it itself)
%     lambda   wavelength (in the medium the light crosses)
%     pix      pixel pitch (divided by the magnification for a magnified setup)
%              (lambda from 1e-8 to 1e-5 m and pix from 1e-8 to 1e-3 m are
%              taken; a value outside is refused as given in other units)
%     depths   increasing positive depths z to try (distance particle-sensor)
%     radii    increasing positive radii r to try
%
%   Options (Name, Value; names in any case):
%     'Weights'          M-by-N per-pixel weights, default all 1; 0 masks a
%                        pixel (its value does not enter, even NaN or Inf)
%     'PositionWeights'  M-by-N per-position factors (detectscan's w_prim),
%                        default all 1
%     'MapFOVx', 'MapFOVy'  [first last] rows / columns of the field of view,
%                        1-based, inclusive; default the whole hologram
%     'K'                0 (default) for point samples, any other value for
%                        the pixel-integrated model, as detectscan's K
%     'Threshold'        least detection signal-to-noise ratio of a
%                        candidate, sqrt(best)/sigma (default 6.5, see below)
%     'MinSeparation'    pixels: no two candidates closer (default 8)
%     'MaxCount'         most candidates (default 100)
%     'Sigma'            noise standard deviation of hol at weight 1; default
%                        estimated from hol (the median difference of
%                        neighbouring pixels, which fringes and a smooth
%                        background hardly change)
%
%   Results:
%     cand   one row per candidate, strongest first: [x y z r score], x and y
%            in pixels from the grid centre (pixel floor(M/2)+1, floor(N/2)+1,
%            as synthplate's table: x = row - floor(M/2) - 1 for a 1-based
%            row), z and r the winning pair, score = sqrt(best)/sigma.
%            Candidates are local maxima of best (of their 8 neighbours none
%            higher) whose score reaches Threshold, each at least
%            MinSeparation pixels from every stronger one.
%     best   the map of the best score over the stack (the field of view's
%            size); equals the largest of detectscan's maps for the pairs
%     zidx, ridx  1-based indices into depths and radii of the pair that
%            scored best at each position (NaN where no score is a number)
%
%   The score: on a hologram of pure noise of standard deviation sigma,
%   best/sigma^2 is close to a chi-square variable with one degree of
%   freedom at each position, so the score sqrt(best)/sigma means the same
%   on every plate. Measured on 300 simulated noise-only 1024-by-1024
%   plates scanned over 33 pairs (11 depths, 3 radii), the largest score of
%   a plate was 5.5 in the median, 6.1 at the 99th percentile and 6.3 at
%   most: the default 6.5 lets through about one false candidate in a
%   thousand such plates. The largest score grows by about 0.1 for every
%   doubling of the pixels or the pairs; lower the threshold to find fainter
%   particles at the cost of false ones.
%
%   Example:
%     [hol, truth] = synthplate(3, 632.8e-9, 6.7e-6, 256, 256, 1, 3, ...
%                               [0.05 0.1], [30e-6 50e-6], 1, [], 0, 0);
%     cand = detectstack(hol, 632.8e-9, 6.7e-6, 0.05:0.005:0.1, [30 40 50]*1e-6)
%
%   See also DETECTSCAN, FINDPARTICLES, RINGFIT.
