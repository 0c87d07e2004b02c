function reproducible_test
  % With PARTISCOPE_REPRODUCIBLE set before the modules load, every module
  % gives the same bits on every x86-64 machine and at every thread count:
  % the digests below were recorded once, on the development machine, and
  % are compared on whichever machine runs the tests.
  setenv('PARTISCOPE_REPRODUCIBLE', '1');
  expected = {'ringform',   '9b98363e94b1afb080dae4f493447270'; ...
              'detectscan', '57604e00872a37b2f2c006f256234472'; ...
              'precbound',  '8ad1456f4304926ea1e2cebf58115a50'; ...
              'cylone',     '15ce59be4f4c513bb8bf32243c84fc3c'};
  for threads = {'1', '2', '3'}
    setenv('PARTISCOPE_NUM_THREADS', threads{1});
    clear ringform detectscan precbound cylone;
    got = results();
    for k = 1:rows(expected)
      assert(strcmp(got.(expected{k, 1}), expected{k, 2}), ...
             sprintf('%s with %s threads: digest %s, expected %s', expected{k, 1}, threads{1}, ...
                     got.(expected{k, 1}), expected{k, 2}));
    end
  end
  unsetenv('PARTISCOPE_NUM_THREADS');
  unsetenv('PARTISCOPE_REPRODUCIBLE');
end

function d = digest(varargin)
  bits = [];
  for k = 1:numel(varargin)
    bits = [bits; reshape(typecast(varargin{k}(:), 'uint8'), [], 1)];
  end
  d = hash('md5', char(bits'));
end

function got = results()
  pix = 6.7e-6; lambda = 632.8e-9;
  [re, s] = ringform(12.5e-6, -30e-6, 0.08, 40e-6, pix, lambda, [96 80], 1, 1);
  got.ringform = digest(re, real(s), imag(s));
  hol = 1 - 2 * re + 0.01 * sin(0.37 * reshape(0:96*80-1, 96, 80));
  [row, col, maxim, q0] = detectscan(hol, lambda, pix, ones(96, 80), 40e-6, 0.08, ones(96, 80), ...
                                     [1 96], [1 80], 0);
  got.detectscan = digest(row, col, maxim, q0);
  [dx, dy, dz, dr] = precbound(1e-5, 0, 0.08, 40e-6, pix, lambda, [96 80], 0.1, 1, 0);
  got.precbound = digest(dx, dy, dz, dr);
  got.cylone = digest(cylone(linspace(-40, 40, 1001)));
end
