function soak(calls)
  % SOAK  Thousands of randomised calls of every module in one Octave
  % process, valid and invalid arguments mixed, with `clear` of modules in
  % between: the process must survive and its memory must not grow.
  %   soak(calls)   calls per module (default 500)
  if nargin < 1, calls = 500; end
  rand('seed', 1);
  names = {'cylzero', 'cylone', 'ringform', 'detectscan', 'synthplate', 'precbound'};
  values = {0, 1, 2, 3, 8, 16, 33, -1, -2.5, 0.5, 0.9, 1e-6, 5e-7, 6.7e-6, 1e-5, 3e-5, ...
            0.02, 0.1, NaN, Inf, -Inf, 1e300, [], [1 2], [8 8], [16 16], [1 8], [2 5], ...
            ones(8), rand(8), rand(16), single(1), int32(3), true, 'x', 1 + 2i, [0.02 0.1], ...
            [1e-5 5e-5], [1 2 3 4], [3 -2 0.05 3e-5]};
  setenv('PARTISCOPE_FFTW_PLANNER', 'estimate');
  valid = {{rand(8) * 20 - 5}, {rand(8) * 20 - 5}, ...
           {0, 0, 0.1, 5e-5, 1e-5, 5e-7, [32 32], 1, 0}, ...
           {rand(16), 6.3e-7, 6.7e-6, ones(16), 3e-5, 0.02, ones(16), [1 16], [1 16], 0}, ...
           {3, 6.3e-7, 6.7e-6, 32, 32, 1, 5, [0.02 0.1], [1e-5 5e-5], 1, [], 0, 0}, ...
           {0, 0, 0.1, 5e-5, 1e-5, 5e-7, [32 32], 1, 0, 0}};
  % Warm up every module and Octave itself, then take the reference size.
  run_calls(20);
  start = resident_kib();
  for round = 1:4
    run_calls(calls / 4);
    clear(names{:});
    printf('round %d: resident %d KiB (start %d KiB)\n', round, resident_kib(), start);
  end
  growth = resident_kib() - start;
  assert(growth < 64 * 1024, sprintf('resident memory grew by %d KiB', growth));
  printf('soak: %d calls per module, memory growth %d KiB\n', calls, growth);

  function run_calls(count)
    for k = 1:count
      for f = 1:numel(names)
        % A valid call, the same with one argument replaced, or any call.
        args = valid{f};
        u = rand();
        if u < 0.1
          args = values(1 + floor(rand(1, floor(rand() * 15)) * numel(values)));
        elseif u < 0.7
          args{1 + floor(rand() * numel(args))} = values{1 + floor(rand() * numel(values))};
        end
        nout = floor(rand() * 6);
        try
          out = cell(1, nout);
          [out{:}] = feval(names{f}, args{:});
        catch
        end
      end
    end
  end
end

function kib = resident_kib()
  text = fileread('/proc/self/status');
  kib = str2double(regexp(text, 'VmRSS:\s*(\d+)', 'tokens', 'once'){1});
end
