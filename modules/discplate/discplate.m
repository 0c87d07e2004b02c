% DISCPLATE  Recorded holograms of opaque discs by exact scalar diffraction.
%
%   [hologram,particles,noise] = discplate(n,lambda,pix,sX,sY,I0,SNR,rangeZ,rangeR,Name,Value,...)
%
%   A plane wave of wavelength lambda crosses n opaque discs (radius r, at
%   distance z from the sensor, centred at x, y) and is recorded by a
%   sensor of sX by sY pixels. The field behind the discs is
%   U = 1 - sum of D_k, D_k the k-th disc's aperture field propagated to
%   the sensor by the angular spectrum (exact scalar diffraction, no
%   Fresnel or far-field approximation, the disc's analytic spectrum so its
%   edge is not staircased, band-limited so that nothing aliases or wraps
%   around; the discs do not shadow one another). The hologram is I0*|U|^2,
%   integrated over each pixel's area (default) or sampled at its centre,
%   plus noise. This is the physical truth the fits are measured against:
%   it shares no code with their models.
%
%   Arguments (real doubles, lengths in metres):
%     n        number of discs, a whole number (0 to 10000)
%     lambda   wavelength in the medium (1e-8 to 1e-5)
%     pix      pixel pitch (1e-8 to 1e-3)
%     sX, sY   sensor rows and columns
%     I0       background level: the hologram where no disc is (> 0)
%     SNR      > 0: Gaussian noise of standard deviation
%              I0*pi*rmax^2/(lambda*zmin)/SNR (rmax the largest radius, zmin
%              the least depth or 1 if larger), the noise synthplate adds at
%              this SNR to the same particles (a disc's signal is twice the
%              toolbox model's, so its detection scores are higher); 0: none
%     rangeZ   [low high]: depths of drawn discs (unused with 'Coordinates')
%     rangeR   [low high]: radii of drawn discs (unused with 'Coordinates')
%
%   Options (Name, Value; names in any case):
%     'Coordinates'  n-by-4 table [x y z r] of the discs instead of drawing
%                    them: x, y in pixels from the grid centre (pixel
%                    floor(sX/2)+1, floor(sY/2)+1), as synthplate's tables
%     'Seed'         whole number seeding the draws (discs, then noise);
%                    default: a fresh seed every call
%     'Sigma'        Gaussian noise of this standard deviation instead of SNR
%     'Photons'      photon shot noise instead: a background pixel counts
%                    this many photons on average (Poisson counts, scaled
%                    back to I0)
%     'Pixels'       'area' (default): intensity integrated over each
%                    pixel's area, as a camera records it; 'point': sampled
%                    at the pixel centres
%     'Oversampling' 1 to 8 (default 4): the field is computed at pitch
%                    pix/Oversampling and keeps spatial frequencies below
%                    Oversampling/(4*pix). 4 keeps the fringes up to 1/pix,
%                    which pixels of area still record (aliased, attenuated
%                    by their sinc response); 2 stops at the sensor's
%                    Nyquist frequency, 1/(2*pix), and misses the finer
%                    fringes far from a disc. Memory: at least
%                    64*sX*sY*Oversampling^2 bytes; more for discs near an
%                    edge, whose whole pattern over the sensor the padded
%                    grid must hold, and for a Fresnel zone sqrt(lambda*z)
%                    that is wide against the sensor: the grid reaches five
%                    zones past the pixel farthest from each disc (up to
%                    four times the grid the geometry alone needs).
%
%   Drawn discs: x uniform over [-sX/2, sX/2) pixels, y over [-sY/2, sY/2),
%   z and r uniform within their ranges.
%
%   Results:
%     hologram   sX-by-sY recorded intensity, with noise
%     particles  n-by-4 [x y z r] of the discs
%     noise      sX-by-sY noise that was added
%
%   Errors (the call returns nothing; the module stays usable):
%     fewer than nine arguments     "Usage: [hologram,particles,noise]=discplate(n,lambda,pix,
%                                    sX,sY,I0,SNR,rangeZ,rangeR,Name,Value,...)"
%     more than three results       "too many outputs for discplate"
%     lambda or pix out of range    "Error: lambda must be a wavelength in metres (1e-8 to
%                                    1e-5), got <lambda>", likewise pix (1e-8 to 1e-3)
%     n not whole from 0 to 10000   "Error: n must be a whole number from 0 to 10000"
%     a disc with z or r not > 0    "Error: every disc needs finite x and y, z > 0 and r > 0
%                                    (row <k>)"
%     two noises given              "Error: give one noise: SNR, Sigma or Photons"
%     a grid too large              "Error: sX*sY*4*Oversampling^2 must be below 2^31 (the
%                                    padded grid's size)"
%     a disc far outside the sensor, "Error: a disc lies too far outside the sensor, or is too
%     or far larger than its pixels  large for its pixels: its pattern would need a padded
%                                    grid over three times the sensor's size"
%     a disc whose Fresnel zones     "Error: a disc is too far from the sensor for its pixels:
%     need a grid of 2^31 points     the Fresnel zones of its pattern would need a padded grid
%                                    of over 2^31 points"
%
%   Example: three discs of 40 um at 5 cm, refocused
%     h = discplate(3, 632.8e-9, 6.7e-6, 256, 256, 1, 0, [0.05 0.05], [40e-6 40e-6], 'Seed', 1);
%     imagesc(abs(propagate(h - 1, 632.8e-9, 6.7e-6, -0.05))); axis image
%
%   See also PROPAGATE, SYNTHPLATE, FINDPARTICLES.
