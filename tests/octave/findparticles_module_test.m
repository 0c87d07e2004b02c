function findparticles_module_test
  % findparticles as a user meets it in GNU Octave: a hologram as recorded
  % (level about 1, a dead pixel), bad input, a plate without particles.
  tb = {'Particle', 'toolbox'};  % synthplate's plates are of the toolbox's model
  setenv('PARTISCOPE_FFTW_PLANNER', 'estimate');
  pix = 6.7e-6; lambda = 632.8e-9; M = 256;
  table = [-50.3 40.6 0.07 40e-6; 45.2 -35.7 0.11 30e-6; 60.8 55.4 0.09 50e-6];
  hol = synthplate(3, lambda, pix, M, M, 1, 20, [0 0], [0 0], 0, table, 1, 0);
  hol = hol / mean(hol(:));             % as divided by a background frame
  hol(17, 30) = Inf; hol(200, 3) = NaN; % a zero and a dead pixel in the background frame
  depths = 0.05:0.01:0.13; radii = [20 40 60] * 1e-6;

  usage = 'findparticles: Usage: [p,se,info]=findparticles(hol,lambda,pix,depths,radii,Name,Value,...)';
  expect_error('findparticles(hol, lambda, pix, depths)', usage);
  expect_error('[a,b,c,d] = findparticles(hol, lambda, pix, depths, radii)', ...
               'findparticles: too many outputs for findparticles');
  expect_error('findparticles(hol, lambda, pix, fliplr(depths), radii)', ...
               'findparticles: Error: depths must be increasing');
  expect_error('findparticles(hol, lambda, pix, depths, [0 radii])', ...
               'findparticles: Error: radii must be positive finite lengths (metres)');
  expect_error('findparticles(hol(1:3, :), lambda, pix, depths, radii)', ...
               'findparticles: Error: hol must be at least 4 by 4 pixels');
  expect_error('findparticles(hol, lambda, pix, depths, radii, ''Contrast'', ''big'')', ...
               'findparticles: Error: Contrast must be a finite non-zero number or ''free''');
  expect_error('findparticles(hol, lambda, pix, depths, radii, ''MaxCount'', 201)', ...
               'findparticles: Error: MaxCount must be a whole number from 0 to 200');
  expect_error('findparticles(hol, lambda, pix, depths, radii, ''Weights'', ones(M, M-1))', ...
               'findparticles: Error: Weights must be a real array of the size of hol');
  expect_error('findparticles(hol, lambda, pix, depths, radii, ''Colour'', 1)', ...
               ['findparticles: Error: unknown option ''Colour''; the options are Model, Particle, Contrast, ' ...
                'Weights, K, Threshold, MinSeparation, MaxCount, Sigma, MaxPasses, MaxIter, Tolerance, ' ...
                'MediumIndex, Index, Polarization, Margin']);
  expect_error('findparticles(hol, lambda, pix, depths, radii, ''Margin'', 2.5)', ...
               sprintf('findparticles: Error: Margin must be a whole number of pixels from 0 to half the hologram''s smaller side (%d)', floor(M / 2)));

  [p, se, info] = findparticles(hol, lambda, pix, depths, radii, tb{:});
  assert(size(p), [3 4]);
  assert(size(se), [3 4]);
  assert(info.pixels_ignored, 2);
  assert(all(info.converged));
  assert(all(info.score > 6.5));
  for k = 1:3
    [d, j] = min(hypot(p(:, 1) - table(k, 1), p(:, 2) - table(k, 2)));
    % Within four standard errors of the truth in every coordinate.
    assert(all(abs(p(j, :) - table(k, :)) <= 4 * se(j, :)), ...
           sprintf('particle %d: %s against %s', k, mat2str(p(j, :), 4), mat2str(table(k, :), 4)));
  end
  assert(abs(info.background + info.offset - 1) < 0.05);

  % A masked region is ignored like a non-finite pixel.
  w = true(M); w(1:10, :) = false;
  [p2, ~, info2] = findparticles(hol, lambda, pix, depths, radii, 'Weights', w, tb{:});
  assert(size(p2, 1), 3);
  assert(info2.pixels_ignored, 10 * M + 2);   % the two non-finite pixels lie outside

  % A plate without particles: an empty table and the level, not an error.
  randn('seed', 1);
  [p0, se0, info0] = findparticles(1 + 0.05 * randn(128), lambda, pix, depths, radii, tb{:});
  assert(size(p0), [0 4]);
  assert(size(se0), [0 4]);
  assert(abs(info0.background - 1) < 0.01);
  unsetenv('PARTISCOPE_FFTW_PLANNER');
end
