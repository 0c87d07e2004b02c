function [found, first_map] = find_particles(hol, opt)
  % FIND_PARTICLES  Detect and measure particles in an in-line hologram.
  %
  %   [found, first_map] = find_particles(hol, opt)
  %
  %   The classic greedy scheme of in-line holography: score the hologram
  %   with detectscan over a grid of depths and radii and take the best
  %   score; fit that particle locally by least squares on the ringform
  %   model (sub-pixel x and y, continuous z and r); estimate its amplitude
  %   over the whole sensor by least squares and subtract its pattern; repeat
  %   until opt.count particles are found or the best score falls below
  %   opt.stop times the first one.
  %
  %   hol  hologram with its mean removed (as synthplate returns it)
  %   opt  fields:
  %     lambda, pix    wavelength and pixel pitch (metres)
  %     depths, radii  grids scanned by detectscan (metres)
  %     background     intensity of the plain background (for a synthplate
  %                    plate its Mean): a particle's pattern in the data is
  %                    -2 * background * (its real model), which ties the
  %                    fitted radius to the pattern's strength
  %     count, stop    at most count particles; stop below stop * first score
  %     window         side of the local fitting window, pixels
  %
  %   found(k): fields of particle k
  %     det_x, det_y, det_z, det_r  the scan's position (pixels from the grid
  %                    centre), depth and radius (metres)
  %     x, y, z, r     refined values (pixels, pixels, metres, metres)
  %     amplitude      least-squares amplitude of its pattern in the data
  %   first_map: the detection map of the first particle at its best depth.
  [M, N] = size(hol);
  w = ones(M, N);
  residual = hol;
  found = struct('det_x', {}, 'det_y', {}, 'det_z', {}, 'det_r', {}, ...
                 'x', {}, 'y', {}, 'z', {}, 'r', {}, 'amplitude', {});
  first_map = [];
  first_score = 0;
  while numel(found) < opt.count
    best = struct('score', 0);
    for z = opt.depths
      for r = opt.radii
        [row, col, score, q0] = detectscan(residual, opt.lambda, opt.pix, w, r, z, w, ...
                                           [1 M], [1 N], 0);
        if score > best.score
          best = struct('score', score, 'row', row, 'col', col, 'z', z, 'r', r, 'map', q0);
        end
      end
    end
    if best.score <= 0 || best.score < opt.stop * first_score
      break;
    end
    if isempty(found)
      first_score = best.score;
      first_map = best.map;
    end
    p.det_x = best.row - 1 - floor(M / 2);
    p.det_y = best.col - 1 - floor(N / 2);
    p.det_z = best.z;
    p.det_r = best.r;
    [p.x, p.y, p.z, p.r] = refine(residual, best.row, best.col, p, opt);
    % Subtract the particle's pattern, so the next one is scored without it.
    model = ringform(p.x * opt.pix, p.y * opt.pix, p.z, p.r, opt.pix, opt.lambda, [M N], 0, 0);
    p.amplitude = (model(:)' * residual(:)) / (model(:)' * model(:));
    residual = residual - p.amplitude * model;
    found(end + 1) = p;
  end
end

function [x, y, z, r] = refine(data, row, col, p, opt)
  % Least-squares fit of -2 * background * ringform, plus a constant, in a
  % window around the detected pixel (clamped to the sensor).
  [M, N] = size(data);
  W = opt.window;
  r1 = min(max(row - W / 2, 1), M - W + 1);
  c1 = min(max(col - W / 2, 1), N - W + 1);
  crop = data(r1:r1 + W - 1, c1:c1 + W - 1);
  % The window's grid origin, its pixel (W/2 + 1, W/2 + 1), lies at these
  % offsets (pixels) from the sensor's grid centre.
  ox = r1 + W / 2 - 1 - floor(M / 2);
  oy = c1 + W / 2 - 1 - floor(N / 2);
  % Unknowns scaled to similar steps: pixels, pixels, centimetres, 10 um.
  scale = [1 1 1e-2 1e-5];
  start = [p.det_x - ox, p.det_y - oy, p.det_z, p.det_r] ./ scale;
  cost = @(q) window_residual(q .* scale, crop, W, opt);
  q = fminsearch(cost, start, optimset('TolX', 1e-4, 'TolFun', 1e-12, 'MaxFunEvals', 800, ...
                                       'MaxIter', 800, 'Display', 'off'));
  q = q .* scale;
  x = q(1) + ox; y = q(2) + oy; z = q(3); r = q(4);
end

function cost = window_residual(q, crop, W, opt)
  % Outside the scanned volume, with some slack, the fit has lost the particle.
  inside = q(3) >= 0.8 * min(opt.depths) && q(3) <= 1.25 * max(opt.depths) && ...
           q(4) >= 0.5 * min(opt.radii) && q(4) <= 2 * max(opt.radii);
  if ~inside
    cost = Inf;
    return;
  end
  m = -2 * opt.background * ringform(q(1) * opt.pix, q(2) * opt.pix, q(3), q(4), opt.pix, ...
                                     opt.lambda, [W W], 0, 0);
  res = crop - m;
  res = res(:) - mean(res(:));   % the window's own offset is free
  cost = res' * res;
end
