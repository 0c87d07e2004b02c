function detectscan_module_test
  % detectscan as a user meets it in GNU Octave.
  setenv('PARTISCOPE_FFTW_PLANNER', 'estimate');
  M = 9; N = 8; pix = 6.7e-6; lambda = 6.328e-7; r = 3e-5; z = 0.02;
  hol = sin(0.37 * reshape(0:M*N-1, M, N)) + 0.1 * cos(reshape(0:M*N-1, M, N));
  w = 0.5 + mod(reshape(1:M*N, M, N), 3) / 4;
  wp = ones(M, N);
  args = {hol, lambda, pix, w, r, z, wp, [1 M], [1 N], 0};

  usage = 'detectscan: Usage: [row,col,maxim,q0]=detectscan(hol,lambda,pix,w,r,z,w_prim,MapFOVx,MapFOVy,K)';
  expect_error('detectscan(args{1:9})', usage);
  expect_error('[a,b,c,d,e] = detectscan(args{:})', 'detectscan: too many outputs for detectscan');
  expect_error('detectscan(args{1:9}, int8(0))', ...
               'detectscan: Error: one or more inputs are not double or real');
  expect_error('detectscan(args{1:4}, -1, -1, args{7:10})', 'detectscan: Error: Z should be positive');
  expect_error('detectscan(args{1:4}, -1, args{6:10})', 'detectscan: Error: R should be positive');
  expect_error('detectscan(args{1:7}, [0 3], args{9:10})', ...
               'detectscan: Error: MapFOVx must be a whole-number range within the hologram rows');
  expect_error('detectscan(args{1:8}, [2 N+1], args{10})', ...
               'detectscan: Error: MapFOVy must be a whole-number range within the hologram columns');
  expect_error('detectscan(args{1:3}, ones(M, N-1), args{5:10})', ...
               'detectscan: Error: w must be the size of hol');
  expect_error('detectscan(args{1:6}, ones(N, M), args{8:10})', ...
               'detectscan: Error: w_prim must be the size of hol');
  expect_error('detectscan(sparse(hol), args{2:10})', ...
               'detectscan: Error: hol must be a full (not sparse) double array (convert it with full(hol))');

  % A dead pixel masked by weight 0 does not enter; unmasked, it is refused.
  dead = hol; dead(4, 5) = NaN; dead(2, 2) = Inf;
  wd = w; wd(4, 5) = 0; wd(2, 2) = 0;
  zeroed = hol; zeroed(4, 5) = 0; zeroed(2, 2) = 0;
  [~, ~, ~, qd] = detectscan(dead, args{2:3}, wd, args{5:10});
  [~, ~, ~, qz] = detectscan(zeroed, args{2:3}, wd, args{5:10});
  assert(isequal(qd, qz) && all(isfinite(qd(:))));
  expect_error('detectscan(dead, args{2:10})', ['detectscan: Error: hol has 2 non-finite pixels ' ...
               'with non-zero weight; set w to 0 there to mask them']);

  % The map against the circular sums evaluated directly, with the model at
  % every pixel offset taken from ringform on a grid twice the size.
  [row, col, maxim, q0] = detectscan(args{:});
  assert(isequal(size(q0), [M N]) && q0(row, col) == maxim);
  big = ringform(0, 0, z, r, pix, lambda, [2*M 2*N], 0, 0);
  hM = floor(M / 2); hN = floor(N / 2);
  S = sum(w(:));
  for pj = 0:N-1
    for pi_ = 0:M-1
      ei = mod(pi_ + hM - (0:M-1)', M) - hM;      % offsets of the circular difference
      ej = mod(pj + hN - (0:N-1), N) - hN;
      m = big(ei + M + 1, ej + N + 1);
      cw = sum(w(:) .* m(:)); cwd = sum(w(:) .* hol(:) .* m(:)); cwm2 = sum(w(:) .* m(:).^2);
      q = S * cwd^2 / (S * cwm2 - cw^2);
      assert(abs(q0(pi_ + 1, pj + 1) - q) <= 1e-5 * abs(q) + 1e-9, ...
             sprintf('score at (%d,%d): %g against %g', pi_ + 1, pj + 1, q0(pi_ + 1, pj + 1), q));
    end
  end

  % A field of view of rows 3..5 in column 2 holds those scores, in order.
  [row, col, maxim, part] = detectscan(args{1:7}, [3 5], [2 2], 0);
  assert(isequal(part, q0(3:5, 2)) && col == 1 && part(row) == maxim);
  % Without an assignment the call still runs, and returns row.
  assert(detectscan(args{:}) >= 1);

  assert(~isempty(strfind(evalc('help detectscan'), 'Detection-criterion map')));
  unsetenv('PARTISCOPE_FFTW_PLANNER');
  disp('detectscan: all checks passed');
end
