function precbound_module_test
  % precbound as a user meets it in GNU Octave.
  args = {0, 0, 0.1, 5e-5, 1e-5, 5e-7, [64 64], 1, 0, 0};
  usage = 'precbound:  Usage :[deltax,deltay,deltaz,deltar]=precbound(x,y,z,r,pix,lambda,sizeH,sigm,n,A) ,  All in meters';
  expect_error('precbound(args{1:9})', usage);
  expect_error('[a,b,c,d,e] = precbound(args{:})', 'precbound: too many outputs for precbound');
  expect_error('precbound(args{1:8}, -1, 0)', 'precbound: Error: n must be a non-negative number');
  expect_error('precbound(args{1:6}, 64, args{8:10})', 'precbound: Error: sizeH must have two elements');
  expect_error('precbound(int32(0), args{2:10})', 'precbound: Error: x must be a double array');
  expect_error('precbound(args{1:7}, sparse(1), args{9:10})', ...
               'precbound: Error: sigm must be a full (not sparse) double array (convert it with full(sigm))');

  expected = [1.9313e-05 0.0097153 1.3140e-05; 1.9416e-05 0.0097751 1.3169e-05; ...
              3.9591e-05 0.020007 2.6511e-05];
  for n = 0:2
    [dx, dy, dz, dr] = precbound(args{1:8}, n, 0);
    got = [dx dz dr];
    assert(all(abs(got - expected(n + 1, :)) <= 5e-5 * expected(n + 1, :)), sprintf('n = %d', n));
    assert(abs(dy - dx) <= 1e-12 * dx);
  end
  [dx, dy, dz, dr] = precbound(args{1:6}, [1 64], 1, 0, 0);
  assert(all(isnan([dx dy dz dr])));
  assert(~isempty(strfind(evalc('help precbound'), 'Cramer-Rao lower bounds')));
  disp('precbound: all checks passed');
end
