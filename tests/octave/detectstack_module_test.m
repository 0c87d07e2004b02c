function detectstack_module_test
  % detectstack as a user meets it in GNU Octave, held to detectscan itself.
  setenv('PARTISCOPE_FFTW_PLANNER', 'estimate');
  lambda = 632.8e-9; pix = 6.7e-6; M = 128; N = 112;
  table = [-25 20 0.03 3e-5; 24 -28 0.04 5e-5];
  hol = synthplate(2, lambda, pix, M, N, 1, 0, [0 0], [0 0], 0, table, 0, 0);
  randn('seed', 3);
  hol = hol + 0.05 * randn(M, N);
  depths = [0.03 0.04 0.05 0.06]; radii = [3e-5 5e-5];
  w = 0.5 + rand(M, N); w(7, 9) = 0; hol(7, 9) = NaN;   % a dead pixel, masked
  wp = 0.5 + rand(M, N);

  usage = 'detectstack: Usage: [cand,best,zidx,ridx]=detectstack(hol,lambda,pix,depths,radii,Name,Value,...)';
  expect_error('detectstack(hol, lambda, pix, depths)', usage);
  expect_error('[a,b,c,d,e] = detectstack(hol, lambda, pix, depths, radii)', ...
               'detectstack: too many outputs for detectstack');
  expect_error('detectstack(hol, lambda, pix, [0.05 0.04], radii)', ...
               'detectstack: Error: depths must be increasing');
  expect_error('detectstack(hol, lambda, pix, [], radii)', ...
               'detectstack: Error: depths must be a non-empty real vector (metres)');
  expect_error('detectstack(hol, lambda, pix, depths, -radii)', ...
               'detectstack: Error: radii must be positive finite lengths (metres)');
  expect_error('detectstack(hol, lambda, pix, depths, radii)', ...
               'detectstack: Error: hol has 1 non-finite pixels with non-zero weight; set Weights to 0 there to mask them');
  expect_error('detectstack(hol, lambda, pix, depths, radii, ''Weights'')', ...
               'detectstack: Error: option ''Weights'' needs a value');
  expect_error('detectstack(sparse(hol), lambda, pix, depths, radii)', ...
               'detectstack: Error: hol must be a full (not sparse) double array (convert it with full(hol))');
  expect_error('detectstack(ones(3), lambda, pix, depths, radii)', ...
               'detectstack: Error: hol must be at least 4 by 4 pixels');

  % The best map is the largest of detectscan's maps, the index maps name
  % the pair that gave it, and each pair's winner is detectscan's.
  fx = [3 M-2]; fy = [2 N];
  [cand, best, zidx, ridx] = detectstack(hol, lambda, pix, depths, radii, 'weights', w, ...
                                          'PositionWeights', wp, 'MapFOVx', fx, 'MapFOVy', fy);
  largest = -Inf(diff(fx) + 1, diff(fy) + 1);
  from = zeros(size(largest));
  for ir = 1:numel(radii)
    for iz = 1:numel(depths)
      [row, col, maxim, q0] = detectscan(hol, lambda, pix, w, radii(ir), depths(iz), wp, fx, fy, 0);
      assert(q0(row, col), maxim);
      from(q0 > largest) = iz + (ir - 1) * numel(depths);
      largest = max(largest, q0);
    end
  end
  assert(best, largest, -1e-9);
  assert(zidx + (ridx - 1) * numel(depths), from);

  % The two particles are the two strongest candidates, at their pixel and
  % on their pair, and candidates point into the maps.
  [cand, best] = detectstack(hol, lambda, pix, depths, radii, 'Weights', w, 'Sigma', 0.05);
  assert(size(cand, 2), 5);
  assert(sortrows(cand(1:2, 1:4)), sortrows(table), [1 1 0 0]);
  rows = cand(:, 1) + floor(M / 2) + 1; cols = cand(:, 2) + floor(N / 2) + 1;
  assert(cand(:, 5), sqrt(best(sub2ind(size(best), rows, cols))) / 0.05, -1e-12);

  % Logical weights are weights; a plate without particles gives an empty table.
  cand = detectstack(0.05 * randn(64), lambda, pix, depths, radii, 'Weights', true(64), ...
                     'Threshold', 12);
  assert(size(cand), [0 5]);
end
