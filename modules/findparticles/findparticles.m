% FINDPARTICLES  Find every particle of a recorded hologram and measure it.
%
%   [p,se,info] = findparticles(hol,lambda,pix,depths,radii,Name,Value,...)
%
%   Scans the hologram over the stack of depths and radii (detectstack's
%   criterion), starts each candidate from a fine scan of the criterion in
%   depth and radius at its peak, fits it among the particles found before
%   (ringfit's model and fit), subtracts the fitted patterns, and scans the
%   residual again for the particles the stronger ones hid, until no
%   candidate reaches the threshold. At the end every particle is fitted
%   jointly with the background level and the offset, and p and se are that
%   fit's estimates and standard errors.
%
%   Arguments (real doubles, lengths in metres):
%     hol      M-by-N hologram as recorded, divided by a background frame
%              (mean about 1). The background level and an offset are fitted;
%              pixels that are not finite (a zero in the background frame,
%              a dead pixel) are ignored, and info.pixels_ignored counts them.
%     lambda   wavelength in the medium the light crosses (vacuum wavelength
%              over the medium's refractive index)
%     pix      pixel pitch in the object's plane: the camera's pitch divided
%              by the magnification of any optics in front of it
%              (lambda from 1e-8 to 1e-5 m and pix from 1e-8 to 1e-3 m are
%              taken; a value outside is refused as given in other units)
%     depths   increasing depths (particle-to-sensor distances) to scan. The
%              criterion keeps about half its peak within the Fresnel depth
%              of focus of the pattern, so steps of about 10% of the depth
%              (1 cm at 10 cm here) find particles; the fine scan and the fit
%              then measure z continuously. Cover the whole volume, with a
%              step beyond each end.
%     radii    increasing radii to scan; the criterion depends little on the
%              radius, so three or four values over the expected range do.
%
%   Options (Name, Value; names in any case):
%     'Weights'        M-by-N relative inverse variances of the pixels (logical
%                      masks too); 0 ignores a pixel. Default all 1.
%     'Model'          'intensity' (default) or 'linear', as in ringfit
%     'Particle'       'disc' (default, the exact diffraction of an opaque
%                      disc) or 'toolbox' (the far-field model of synthplate's
%                      plates, for Fresnel numbers well below 0.01), as in
%                      ringfit, or 'sphere' (beads under a microscope:
%                      Lorenz-Mie, index fitted; see ringfit). The scans
%                      propose candidates with the toolbox's templates
%                      either way; the fits and the subtracted patterns are
%                      the chosen particle's. For 'sphere' the templates only
%                      place a bead (to a tenth of a pixel or better); its
%                      depth, radius and index start from the sphere model
%                      on a 129-by-129 crop around it: the depth from its
%                      fringes' chirp (a first-order fit whose complex
%                      amplitude absorbs the bead's scattering phase) over
%                      the whole depth range, then radius (over the radii's
%                      range) and index (Index +-0.15) on a grid, each
%                      refined, then a fit of the crop. Depths are then
%                      heights above the focal plane (8 steps over the range
%                      do), radii the beads' range (two values do).
%     'MediumIndex'    the medium's refractive index (required for 'sphere')
%     'Index'          the middle of the beads' index scan (default 1.5)
%     'Polarization'   the illumination's polarization angle from the x axis,
%                      radians (default 0)
%     'Contrast'       a number fixing every particle's contrast (default 1:
%                      an opaque disc under 'disc', half of one under
%                      'toolbox'), or 'free' to fit each one's. With
%                      free contrasts the background level and the offset
%                      are told apart only by the patterns' second-order
%                      term: the contrasts come with errors of about 10%
%                      and, on 1 of 20 simulated plates, the fit slid along
%                      that valley until no particle looked significant.
%                      Fix them unless your particles are not opaque.
%     'Threshold'      least detection signal-to-noise ratio of a particle,
%                      at least 3 (default 6.5, see below)
%     'MinSeparation'  pixels between candidates of one scan (default 8)
%     'MaxCount'       most particles, at most 200 (default 100)
%     'Sigma'          the noise standard deviation of hol at weight 1;
%                      default estimated from the data (the median difference
%                      of neighbouring pixels, which fringes hardly change)
%     'MaxPasses'      most scans of the residual (default 10)
%     'Margin'         pixels searched beyond each edge of the sensor, a
%                      whole number to half its smaller side (default a
%                      quarter of it, 0 for 'sphere'; 0 searches the
%                      sensor only): a
%                      particle outside is found and fitted by the part of
%                      its pattern that falls on the sensor, and its x or y
%                      then lies beyond +-M/2 or +-N/2
%     'K', 'MaxIter', 'Tolerance'  as in ringfit (K's default: 1 for 'disc',
%                      0 for 'toolbox')
%
%   Results:
%     p     n-by-4 table [x y z r], strongest first within each scan: x and y
%           in pixels from the grid centre (pixel floor(M/2)+1, floor(N/2)+1;
%           row = x + floor(M/2) + 1; beyond the sensor for particles found
%           in the margin), z and r in metres; 0-by-4 when there
%           is no particle (not an error)
%     se    n-by-4 standard errors of p (the joint fit's Cramer-Rao bound at
%           the estimate, noise level from the residual)
%     info  struct: score (each particle's detection signal-to-noise ratio),
%           converged, zr_correlation, contrast, contrast_se, and for
%           'sphere' index, index_se (per particle);
%           background, background_se, offset, offset_se; sigma (the noise
%           level estimated from the data); passes (scans made);
%           pixels_ignored; message (how the search ended)
%   No row is reported with a radius below half the smallest scanned radius
%   or a standard error that is not finite: such a fit only takes up the
%   misfit of a neighbour's pattern (a phantom); it is dropped and the rest
%   refitted. A weaker row among the central Fresnel zones of a stronger one
%   is kept only if it lowers chi^2 by at least Threshold^2 sigma^2 (a fit
%   of the neighbourhood with it against one without it), and a residual
%   peak there scoring under 5% of the stronger particle is taken for that
%   particle's misfit.
%
%   The threshold: the score of a candidate is sqrt(q)/sigma, q being the
%   criterion. On a hologram of pure noise it behaves like the magnitude of
%   a standard normal variable at each position. Measured on 300 simulated
%   noise-only 1024-by-1024 plates scanned over 33 pairs (11 depths, 3
%   radii), the largest score of a plate was 5.5 in the median, 6.1 at the
%   99th percentile and 6.3 at most, and no plate gave a false particle
%   with the default 6.5 (extrapolated, about one plate in a thousand
%   would). The largest score grows by about 0.1 for every doubling of the
%   sensor's pixels or the scan's pairs: raise the threshold by that much to
%   keep the rate, or lower it (to 3 at least) to find fainter particles,
%   at the cost of false ones.
%
%   Preparing an image (see examples/find_particles_in_image.m):
%     img = double(imread('frame.png'));        % not uint8: values above 255 matter
%     bg  = double(imread('background.png'));   % the beam without particles
%     hol = img ./ bg;                          % mean about 1; 0 in bg gives Inf: ignored
%     w   = double(bg > 10 & img < 250);        % mask dark and saturated pixels
%     [p, se, info] = findparticles(hol, 632.8e-9, 6.7e-6, 0.04:0.01:0.16, ...
%                                   [20 40 60]*1e-6, 'Weights', w);
%     xy_metres = p(:, 1:2) * 6.7e-6;           % positions on the sensor, metres
%
%   See also DETECTSTACK, RINGFIT, PRECBOUND, SYNTHPLATE.
