% Partiscope demo: simulate a recorded hologram of opaque particles by exact
% diffraction, find and measure them with findparticles, and compare with the
% truth and the precision limit.
%
%   Shell:   tools/demo                      (builds first, writes partiscope-demo.png)
%   Octave or MATLAB, from the repository:   addpath build/mex examples; partiscope_demo
%
% Change the parameters below to match your own setup.

%% Setup (lengths in metres, particle positions in pixels from the grid centre)
sensor = 512;            % pixels per side (square sensor)
pix    = 6.7e-6;         % pixel pitch
lambda = 632.8e-9;       % wavelength (He-Ne laser)
count  = 8;              % particles in the volume
zrange = [0.03 0.15];    % depths of the particles
rrange = [20e-6 80e-6];  % radii of the particles (Fresnel numbers r^2/(lambda*z) up to 0.34)
SNR    = 3;              % noise: standard deviation pi*rmax^2/(lambda*zmin)/SNR
depths = 0.02:0.01:0.16; % the depths findparticles scans (a step beyond each end)
radii  = [20 40 60 80] * 1e-6;  % the radii it scans
figure_file = 'partiscope-demo.png';  % written to the current folder

%% A particle table drawn reproducibly, and its hologram as a camera records it
rand('seed', 7);                      % Octave's and MATLAB's legacy generator
table = [(rand(count, 2) - 0.5) * sensor, ...
         zrange(1) + rand(count, 1) * diff(zrange), rrange(1) + rand(count, 1) * diff(rrange)];
tic;
% Exact scalar diffraction of opaque discs, each pixel integrating the
% intensity over its area, with a background level of 1: a recorded frame
% divided by a background frame.
[hol, particles] = discplate(count, lambda, pix, sensor, sensor, 1, SNR, zrange, rrange, ...
                             'Coordinates', table, 'Seed', 7);
t_sim = toc;

%% Find and measure every particle
tic;
% The defaults: the disc model, with pixels of area
[found, se, info] = findparticles(hol, lambda, pix, depths, radii);
t_find = toc;
fprintf(['\nSimulated a %dx%d plate of %d particles in %.2f s; findparticles found %d in %.1f s' ...
         ' (%d scans; %s).\n'], sensor, sensor, count, t_sim, size(found, 1), t_find, ...
        info.passes, info.message);

%% Each true particle with its nearest detection, and its precision bound
% The Cramer-Rao bound of the disc model at the true particles: the standard
% errors of a joint fit that stays at the truth (no iteration), from the
% model's Jacobian there and the noise level in the data.
[~, bound] = ringfit(hol, lambda, pix, particles, 'MaxIter', 0);
fprintf(['\n  #  x true  x found   err    SE   CRB |  y true  y found   err    SE   CRB |' ...
         '  z true  z found   err    SE   CRB |  r true  r found   err    SE   CRB\n']);
fprintf(['    (pixels)                            | (pixels)                            |' ...
         ' (mm)                                 | (um)\n']);
missed = 0;
for k = 1:count
  t = particles(k, :);
  [d, j] = min(hypot(found(:, 1) - t(1), found(:, 2) - t(2)));
  if isempty(d) || d > 2
    missed = missed + 1;
    fprintf('%3d  not found\n', k);
    continue;
  end
  f = found(j, :); s = se(j, :);
  unit = [1 1 1e3 1e6];
  crb = bound(k, :) .* unit;
  cells = cell(1, 4);
  for q = 1:4
    cells{q} = sprintf(' %7.2f %7.2f %6.3f %5.3f %5.3f', t(q) * unit(q), f(q) * unit(q), ...
                       (f(q) - t(q)) * unit(q), s(q) * unit(q), crb(q));
  end
  fprintf('%3d%s\n', k, strjoin(cells, ' |'));
end
fprintf(['\nerr: found minus true; SE: the standard error findparticles reports; CRB: the\n' ...
         'Cramer-Rao bound of the disc model at the truth (one standard deviation).\n' ...
         '%d of %d found; %d rows in all.\n'], count - missed, count, size(found, 1));

%% Figure: hologram, best detection score, positions
if exist('OCTAVE_VERSION', 'builtin')
  warning('off', 'Octave:gnuplot-graphics');
  graphics_toolkit('gnuplot');
end
[~, best] = detectstack(hol - mean(hol(:)), lambda, pix, depths, radii);
h = floor(sensor / 2);
fig = figure('visible', 'off', 'position', [0 0 1200 420]);
colormap(gray);
subplot(1, 3, 1);
imagesc(hol); axis image; title('hologram of opaque discs');
subplot(1, 3, 2);
imagesc(sqrt(max(best, 0))); axis image;   % square root: the weaker particles show too
title('best detection score over the scan');
subplot(1, 3, 3);
imagesc(hol); axis image; hold on;
plot(particles(:, 2) + h + 1, particles(:, 1) + h + 1, 'go', 'markersize', 10, 'linewidth', 2);
plot(found(:, 2) + h + 1, found(:, 1) + h + 1, 'r+', 'markersize', 10, 'linewidth', 2);
title('true (o) and found (+)');
if exist('OCTAVE_VERSION', 'builtin')
  state = warning();
  warning('off', 'all');               % print's note about Ghostscript: pngcairo needs none
  print(fig, '-dpngcairo', '-r80', figure_file);
  warning(state);
else
  print(fig, '-dpng', '-r80', figure_file);
end
delete(fig);
fprintf('Figure written to %s\n', [pwd filesep figure_file]);
