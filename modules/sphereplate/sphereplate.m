% SPHEREPLATE  Recorded holograms of spheres under a microscope (Lorenz-Mie).
%
%   [hologram,noise] = sphereplate(spheres,sX,sY,lambda,pix,Name,Value,...)
%
%   A plane wave of wavelength lambda (in the medium), polarized along
%   'Polarization', crosses homogeneous spheres and is recorded in the focal
%   plane by sX by sY pixels. Each sphere's scattered field is the
%   Lorenz-Mie series summed at every pixel in full (spherical Hankel
%   functions, no far-field approximation, no table or interpolation); the
%   fields add (the spheres do not scatter one another's light). The
%   hologram is I0*(|1 + alpha E_par|.^2 + |alpha E_perp|.^2 +
%   |alpha E_z|.^2), E_par along the polarization, plus noise: the physical
%   truth ringfit's and findparticles' 'sphere' fits are measured against.
%
%   Arguments (real doubles, lengths in metres):
%     spheres  n-by-5 table [x y z a n_p]: x, y in pixels from the grid
%              centre (pixel floor(sX/2)+1, floor(sY/2)+1), z the height of
%              the centre above the focal plane (z > a), a the radius, n_p
%              the refractive index (absolute; complex not taken here). []
%              gives the plain background.
%     sX, sY   the sensor's rows and columns
%     lambda   wavelength in the medium: the vacuum wavelength over
%              'MediumIndex' (1e-8 to 1e-5)
%     pix      pixel pitch in the sample plane: the camera's pitch over the
%              magnification (1e-8 to 1e-3)
%
%   Options:
%     'MediumIndex'   the medium's refractive index (required)
%     'Polarization'  the polarization's angle from the x axis (the rows),
%                     radians (default 0)
%     'Contrast'      alpha, the factor on the scattered field (default 1)
%     'I0'            the background level (default 1)
%     'Sigma'         Gaussian noise of this standard deviation (default 0)
%     'Photons'       shot noise instead: a background pixel counts this many
%                     photons on average (default 0: none)
%     'Subpixels'     the intensity averaged over Subpixels^2 points of each
%                     pixel, 1 to 16 (default 1: its centre)
%     'Seed'          the noise generator's seed (default: drawn)
%
%   Each pixel costs a sum of about 2 pi a/lambda + 4 (2 pi a/lambda)^(1/3)
%   terms per sphere: a 1024x1280 frame of five 1 um beads takes about 2 s.
%
%   Example (a polystyrene bead in water, 70 nm pixels):
%     bead = [0.3 -0.2 18e-6 0.7e-6 1.59];
%     h = sphereplate(bead, 201, 201, 532e-9/1.33, 70e-9, 'MediumIndex', 1.33, ...
%                     'Sigma', 0.01, 'Seed', 1);
%     [p, se, info] = ringfit(h, 532e-9/1.33, 70e-9, [0 0 18.9e-6 0.67e-6], ...
%                             'Particle', 'sphere', 'MediumIndex', 1.33, 'Index', 1.57);
%
%   See also RINGFIT, FINDPARTICLES, DISCPLATE.
