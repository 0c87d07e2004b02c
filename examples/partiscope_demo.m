% Partiscope demo: simulate a recorded hologram of particles, find and measure
% them with findparticles, and compare with the truth and the precision limit.
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
zrange = [0.05 0.15];    % depths of the particles
rrange = [20e-6 60e-6];  % radii of the particles
SNR    = 3;              % noise: standard deviation 1/SNR of the plain background's level
depths = 0.04:0.01:0.16; % the depths findparticles scans (a step beyond each end)
radii  = [20 40 60] * 1e-6;  % the radii it scans
figure_file = 'partiscope-demo.png';  % written to the current folder

%% A particle table drawn reproducibly, and its hologram as a camera records it
rand('seed', 7);                      % Octave's and MATLAB's legacy generator
table = [(rand(count, 2) - 0.5) * sensor, ...
         zrange(1) + rand(count, 1) * diff(zrange), rrange(1) + rand(count, 1) * diff(rrange)];
tic;
% meanh = 1 keeps the background level, as in a recorded frame; dividing by
% the plain background's level makes it about 1, as dividing by a background
% frame would.
[hol, particles] = synthplate(count, lambda, pix, sensor, sensor, 1, SNR, zrange, rrange, ...
                             0, table, 1, 0);
level = mean(hol(:));
hol = hol / level;
t_sim = toc;

%% Find and measure every particle
tic;
% synthplate's plates are of the toolbox's far-field model: measured with it
[found, se, info] = findparticles(hol, lambda, pix, depths, radii, 'Particle', 'toolbox');
t_find = toc;
fprintf(['\nSimulated a %dx%d plate of %d particles in %.2f s; findparticles found %d in %.1f s' ...
         ' (%d scans; %s).\n'], sensor, sensor, count, t_sim, size(found, 1), t_find, ...
        info.passes, info.message);

%% Each true particle with its nearest detection, and its precision bound
sigma = info.sigma;                   % the noise level estimated from the data
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
  % The pattern's amplitude in the data: the fitted level and contrast times
  % the model's pi r^2/(lambda z).
  A = info.background * info.contrast(j) * pi * t(4)^2 / (lambda * t(3));
  [bx, by, bz, br] = precbound(t(1) * pix, t(2) * pix, t(3), t(4), pix, lambda, ...
                               [sensor sensor], sigma, 0, A);
  unit = [1 1 1e3 1e6];
  crb = [bx / pix, by / pix, bz, br] .* unit;
  cells = cell(1, 4);
  for q = 1:4
    cells{q} = sprintf(' %7.2f %7.2f %6.3f %5.3f %5.3f', t(q) * unit(q), f(q) * unit(q), ...
                       (f(q) - t(q)) * unit(q), s(q) * unit(q), crb(q));
  end
  fprintf('%3d%s\n', k, strjoin(cells, ' |'));
end
fprintf(['\nerr: found minus true; SE: the standard error findparticles reports; CRB: the\n' ...
         'Cramer-Rao bound of precbound (one standard deviation). %d of %d found.\n'], ...
        count - missed, count);

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
imagesc(hol); axis image; title('recorded-style hologram');
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
