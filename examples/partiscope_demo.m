% Partiscope demo: simulate a hologram of particles, find them, measure them,
% and compare with the precision limit.
%
%   Shell:   tools/demo                      (builds first, writes partiscope-demo.png)
%   Octave or MATLAB, from the repository:   addpath build/mex examples; partiscope_demo
%
% Change the parameters below to match your own setup.

%% Setup (lengths in metres)
sensor   = 512;          % pixels per side (square sensor)
pix      = 6.7e-6;       % pixel pitch
lambda   = 632.8e-9;     % wavelength (He-Ne laser)
count    = 8;            % particles in the volume
zrange   = [0.05 0.15];  % depths of the particles
rrange   = [20e-6 60e-6];% radii of the particles
I0       = 1;            % intensity scale of the plate
SNR      = 3;            % noise: standard deviation I0/SNR per pixel
seed     = 7;            % the particle table is drawn reproducibly
figure_file = 'partiscope-demo.png';  % written to the current folder

% Detection grid and fitting.
opt.lambda = lambda;
opt.pix    = pix;
opt.depths = 0.05:0.01:0.15;          % depths scanned by detectscan
opt.radii  = (20:10:60) * 1e-6;       % radii scanned
opt.count  = count;                   % stop after this many particles...
opt.stop   = 0.05;                    % ...or when the score drops below 5% of the first
opt.window = 128;                     % side of the local fitting window, pixels

%% A particle table: well separated, away from the edges
rand('seed', seed);                   % Octave's and MATLAB's legacy generator
margin = 64; spacing = 70;
table = zeros(0, 4);
while size(table, 1) < count
  xy = (rand(1, 2) - 0.5) * (sensor - 2 * margin);
  if isempty(table) || min(hypot(table(:, 1) - xy(1), table(:, 2) - xy(2))) > spacing
    z = zrange(1) + rand() * diff(zrange);
    r = rrange(1) + rand() * diff(rrange);
    table(end + 1, :) = [round(xy * 10) / 10, z, r];
  end
end

%% The hologram: particles on a unit background, noise, mean removed
tic;
[hol, particles, Mean, noise] = synthplate(count, lambda, pix, sensor, sensor, I0, SNR, ...
                                           zrange, rrange, 0, table, 0, 0);
t_sim = toc;

%% Find and measure them
opt.background = Mean;                % the plain background's intensity
tic;
[found, first_map] = find_particles(hol, opt);
t_find = toc;
% Measure them all at once: a joint least-squares fit of every particle, the
% background level and the offset, from the finder's estimates.
tic;
start = [[found.x]' [found.y]' [found.z]' [found.r]'];
[fitted, se, info] = ringfit(hol, lambda, pix, start);
t_fit = toc;

%% Match each true particle with the nearest detection and bound its precision
sigma = I0 / SNR;
h = floor(sensor / 2);
status = 'converged';
if ~all(info.converged), status = ['NOT converged: ' info.message]; end
fprintf(['\nSimulated %dx%d plate with %d particles in %.2f s; found %d in %.1f s,' ...
         ' measured them jointly in %.1f s (%s).\n'], sensor, sensor, count, t_sim, ...
        numel(found), t_find, t_fit, status);
fx = fitted(:, 1); fy = fitted(:, 2);
rows = zeros(count, 21);
for k = 1:count
  t = particles(k, :);
  [~, j] = min(hypot(fx - t(1), fy - t(2)));
  f = fitted(j, :); s = se(j, :);
  % The pattern's amplitude in the data: the fitted background times the
  % model's pi r^2/(lambda z).
  A = info.background * pi * t(4)^2 / (lambda * t(3));
  [dx, dy, dz, dr] = precbound(t(1) * pix, t(2) * pix, t(3), t(4), pix, lambda, ...
                               [sensor sensor], sigma, 0, A);
  rows(k, :) = [k, t(1), f(1), f(1) - t(1), s(1), dx / pix, t(2), f(2), f(2) - t(2), s(2), dy / pix, ...
                t(3) * 1e3, f(3) * 1e3, (f(3) - t(3)) * 1e3, s(3) * 1e3, dz * 1e3, ...
                t(4) * 1e6, (f(4) - t(4)) * 1e6, s(4) * 1e6, dr * 1e6, f(4) * 1e6];
end
fprintf(['\n  #  x true   x fit   err    SE    CRB  |  y true   y fit   err    SE    CRB  |' ...
         ' z true   z fit    err     SE    CRB  | r true   err    SE   CRB\n']);
fprintf(['      (pixels)                             (pixels)                            |' ...
         ' (mm)                                 | (um)\n']);
fprintf(['%3d %7.2f %7.2f %5.2f %5.3f %5.3f | %7.2f %7.2f %5.2f %5.3f %5.3f |' ...
         ' %6.2f %7.3f %6.3f %6.3f %6.3f | %5.1f %5.2f %5.3f %5.3f\n'], rows(:, 1:20)');
fprintf(['\nerr: fitted minus true; SE: the standard error ringfit reports; CRB: the\n' ...
         'Cramer-Rao bound of precbound (one standard deviation).\n']);

%% Figure: hologram, first detection map, positions
if exist('OCTAVE_VERSION', 'builtin')
  warning('off', 'Octave:gnuplot-graphics');
  graphics_toolkit('gnuplot');
end
fig = figure('visible', 'off', 'position', [0 0 1200 420]);
colormap(gray);
subplot(1, 3, 1);
imagesc(hol); axis image; title('simulated hologram');
subplot(1, 3, 2);
imagesc(sqrt(max(first_map, 0))); axis image;   % square root: the weaker particles show too
title(sprintf('detection map, z = %.0f mm', found(1).det_z * 1e3));
subplot(1, 3, 3);
imagesc(hol); axis image; hold on;
plot(particles(:, 2) + h + 1, particles(:, 1) + h + 1, 'go', 'markersize', 10, 'linewidth', 2);
plot(fy + h + 1, fx + h + 1, 'r+', 'markersize', 10, 'linewidth', 2);
title('true (o) and measured (+)');
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
