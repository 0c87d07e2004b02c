function synthplate_module_test
  % synthplate as a user meets it in GNU Octave.
  args = {4, 6.328e-7, 6.7e-6, 64, 48, 1, 10, [0.05 0.1], [2e-5 4e-5], 1, [], 0, 0};
  usage = ['synthplate: Usage: [hologram,particles,Mean,noise]=synthplate(n,lambda,pix,sX,sY,' ...
           'I0,SNR,rangeZ,rangeR,random_coordinates,coordinates,meanh,K)'];
  expect_error('synthplate(args{1:12})', usage);
  expect_error('[a,b,c,d,e] = synthplate(args{:})', 'synthplate: too many outputs for synthplate');
  expect_error('synthplate(args{1:9}, 0, zeros(3, 3), args{12:13})', ...
               'synthplate: Error: coordinates must hold at least 4*n doubles (x, y, z, r of each particle)');
  expect_error('synthplate(args{1:8}, [0 0], args{10:13})', ...
               'synthplate: Error: one of values of R is not positive - please recheck the inputs');

  % Random mode: shapes, ranges, noise level, fresh noise on every call.
  [h, p, m, n] = synthplate(args{:});
  assert(isequal(size(h), [64 48]) && isequal(size(p), [4 4]) && isequal(size(n), [64 48]));
  assert(all(p(:, 3) >= 0.05 & p(:, 3) < 0.1 & p(:, 4) >= 2e-5 & p(:, 4) < 4e-5));
  assert(abs(mean(h(:))) < 1e-12 * abs(m));
  assert(abs(std(n(:)) - 0.1) < 0.01);
  [h2, p2, m2, n2] = synthplate(args{:});
  assert(~isequal(n, n2) && ~isequal(p, p2));

  % Table mode without noise: the plate is F |1 - S|^2 of the table's particles.
  table = [3 -2 0.08 3e-5];
  [h, p, m, n] = synthplate(1, 5e-7, 1e-5, 32, 32, 1, 0, [0 0], [0 0], 0, table, 1, 0);
  assert(m == 0 && all(n(:) == 0) && max(abs(p - table)) < 1e-15);
  [~, s] = ringform(3e-5, -2e-5, 0.08, 3e-5, 1e-5, 5e-7, [32 32], 1, 0);
  F = (1 / pi) / (3e-5)^2 * (5e-7 * 0.08);
  assert(max(abs(h(:) - F * abs(1 - s(:)).^2)) < 1e-6 * F);   % single against double quotient

  % A table with more rows than n gives its first n rows; a transposed table
  % is refused; a vector keeps its storage order.
  T = [3 -2 0.08 3e-5; -5 4 0.1 2e-5; 1 1 5 0.05];
  [h2, p2] = synthplate(2, 5e-7, 1e-5, 32, 32, 1, 0, [0 0], [0 0], 0, T, 1, 0);
  assert(isequal(p2, T(1:2, :)));
  [h3, p3] = synthplate(2, 5e-7, 1e-5, 32, 32, 1, 0, [0 0], [0 0], 0, reshape(T(1:2, :), 1, 8), 1, 0);
  assert(isequal(p3, p2) && isequal(h3, h2));
  expect_error('synthplate(2, 5e-7, 1e-5, 32, 32, 1, 0, [0 0], [0 0], 0, T(1:2, :)'', 1, 0)', ...
               'synthplate: Error: coordinates must be an n-by-4 table [x y z r]');
  expect_error('synthplate(1, 5e-7, 1e-5, 32, 32, 1, 0, [0 0], [0 0], 0, sparse(table), 1, 0)', ...
               ['synthplate: Error: coordinates must be a full (not sparse) double array ' ...
                '(convert it with full(coordinates))']);

  assert(~isempty(strfind(evalc('help synthplate'), 'Simulated noisy in-line hologram')));
  disp('synthplate: all checks passed');
end
