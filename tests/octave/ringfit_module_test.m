function ringfit_module_test
  % ringfit as a user meets it in GNU Octave.
  tb = {'Particle', 'toolbox'};  % synthplate's plates are of the toolbox's model
  lambda = 632.8e-9; pix = 6.7e-6;
  usage = 'ringfit: Usage: [p,se,info]=ringfit(hol,lambda,pix,p0,Name,Value,...)';
  expect_error('ringfit(1, 2, 3)', usage);
  expect_error('[a,b,c,d] = ringfit(ones(8), lambda, pix, [0 0 0.1 1e-5])', ...
               'ringfit: too many outputs for ringfit');
  expect_error('ringfit(ones(8), lambda, pix, [0 0 0.1 1e-5]'')', ...
               'ringfit: Error: p0 must be an n-by-4 table [x y z r] with at least one row');
  expect_error('ringfit(ones(8), lambda, pix, [0 0 0.1 1e-5], ''Colour'', 1)', ...
               ['ringfit: Error: unknown option ''Colour''; the options are Model, Particle, Contrast, ' ...
                'Background, Offset, Weights, Free, Sigma, K, MaxIter, Tolerance, MediumIndex, Index, ' ...
                'Polarization']);
  expect_error('ringfit(sparse(ones(8)), lambda, pix, [0 0 0.1 1e-5])', ...
               'ringfit: Error: hol must be a full (not sparse) double array (convert it with full(hol))');

  % A noiseless plate of two overlapping particles, from a start a pixel, 1%
  % in depth and 10% in radius off: recovered, b and c are synthplate's
  % scale and removed mean.
  T = [-12.5 14 0.06 3e-5; 2 -9.5 0.09 4.5e-5];
  [h, t, m] = synthplate(2, lambda, pix, 96, 80, 1, 0, [0 0], [0 0], 0, T, 0, 0);
  start = t + [0.9 -0.7 0 0; 0.9 -0.7 0 0];
  start(:, 3) = 1.01 * t(:, 3);
  start(:, 4) = 0.9 * t(:, 4);
  [p, se, info] = ringfit(h, lambda, pix, start, tb{:});
  assert(all(info.converged) && islogical(info.converged));
  assert(max(max(abs(p(:, 1:2) - t(:, 1:2)))) < 1e-6);
  assert(max(abs(p(:, 3) ./ t(:, 3) - 1)) < 1e-9 && max(abs(p(:, 4) ./ t(:, 4) - 1)) < 1e-9);
  F = (1 / pi) / (4.5e-5)^2 * (lambda * 0.06);
  assert(abs(info.background / F - 1) < 1e-9 && abs(info.offset + m) < 1e-9 * F);
  assert(isequal(size(se), [2 4]) && ischar(info.message));

  % Options in any case; a masked dead pixel is ignored, whatever it holds.
  dead = h; dead(5, 7) = NaN;
  w = true(size(h)); w(5, 7) = false;
  [p2, ~, info2] = ringfit(dead, lambda, pix, start, 'WEIGHTS', w, 'free', [1 1 1 1], 'model', 'intensity', tb{:});
  assert(info2.pixels_ignored == 1 && max(abs(p2(:, 1) - t(:, 1))) < 1e-6);
  expect_error('ringfit(dead, lambda, pix, start)', ['ringfit: Error: hol has 1 non-finite pixels ' ...
               'with non-zero weight; give them weight 0 in Weights']);
  % Held parameters keep their start and report no error.
  [p3, se3] = ringfit(h, lambda, pix, start, 'Free', logical([1 1 0 1]), tb{:});
  assert(isequal(p3(:, 3), start(:, 3)) && all(se3(:, 3) == 0));

  assert(~isempty(strfind(evalc('help ringfit'), 'joint least-squares fit')));
end
