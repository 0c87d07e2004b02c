function ringform_module_test
  % ringform as a user meets it in GNU Octave.
  clear ringform;
  first = evalc('try, ringform(); catch, end');
  assert(~isempty(strfind(first, 'Partiscope')), 'no notice on first call');
  assert(~isempty(strfind(first, 'About_us Copyright')), 'licence not shown through MsgBox');
  args = {0, 0, 0.1, 5e-5, 1e-5, 5e-7, [64 64], 0, 0};
  assert(isempty(evalc('ringform(args{:});')), 'notice shown twice');

  usage = 'ringform: Usage: [real_p complex_p jinc]=ringform(x,y,z,r,pix,lambda,sizeH,flag,K)';
  expect_error('ringform(args{1:8})', usage);
  expect_error('[a,b,c,d] = ringform(args{:}, 1)', usage);
  expect_error('[a,b,c,d] = ringform(args{:})', 'ringform: too many outputs for ringform');
  expect_error('ringform(args{1:8}, single(0))', ...
               'ringform: Error: one or more inputs are not double or real');
  expect_error('ringform(args{1:6}, sparse([64 64]), args{8:9})', ...
               'ringform: Error: sizeH must be a full (not sparse) double array (convert it with full(sizeH))');
  expect_error('ringform(args{1:2}, -1, -1, args{5:9})', 'ringform: Error: Z should be positive');
  expect_error('ringform(args{1:3}, -1, args{5:9})', 'ringform: Error: R should be positive');
  expect_error('ringform(args{1:6}, 64, args{8:9})', ...
               'ringform: Error: sizeH must have two elements');
  expect_error('ringform(args{1:6}, [64 -1], args{8:9})', ...
               'ringform: Error: sizeH must hold two non-negative finite sizes within the array limits');
  expect_error('ringform(args{1:4}, [], args{6:9})', 'ringform: Error: pix must not be empty');

  % Real model, its complex placeholder and the Bessel grid.
  [m, c, j] = ringform(args{:});
  assert(isequal(size(m), [64 64]) && isreal(m));
  assert(isequal(c, 0));                     % 0 + 0i comes back real in Octave
  assert(j(33, 33) == 0.5 && m(33, 33) == 0);
  assert(abs(m(43, 33) - 0.04392358) < 5e-9);        % node b = 10, a = 0
  [m, c] = ringform(args{1:7}, 1, 0);
  assert(isequal(m, 0) && isequal(size(c), [64 64]) && ~isreal(c));
  assert(abs(imag(c(33, 33)) + pi * 5e-5^2 / (2 * 5e-7 * 0.1)) < 1e-15);
  assert(abs(c(43, 33) - (0.04392358 - 0.06045563i)) < 1e-8);
  assert(isequal(real(c), ringform(args{1:7}, 0, 0)));
  % Pixel factor.
  mk = ringform(args{1:8}, 1);
  assert(abs(mk(43, 33) - 0.04389469) < 5e-9);

  % Odd sizes leave the last row 0; radius 0 is the kernel, wherever x is.
  m = ringform(args{1:6}, [5 4], 0, 0);
  assert(isequal(size(m), [5 4]) && all(m(5, :) == 0));
  [k1, ~, j0] = ringform(0, 0, 0.1, 0, 1e-5, 5e-7, [16 16], 1, 0);
  k2 = ringform(7e-5, 3e-5, 0.1, 0, 1e-5, 5e-7, [16 16], 1, 0);
  assert(isequal(k1, k2) && isequal(j0, 0));
  assert(isequal(size(ringform(args{1:6}, [1 1], 0, 0)), [1 1]));

  assert(~isempty(strfind(evalc('help ringform'), 'Hologram model of one spherical particle')));
  disp('ringform: all checks passed');
end
