function octave_baseline(which)
  % Times, from GNU Octave, (a) the Partiscope modules through the host and
  % (b) the same jobs written in vectorised Octave the way a user without
  % the toolbox would (besselj, fft2). Prints "name milliseconds" lines.
  %   octave_baseline('modules')  or  octave_baseline('octave')
  lambda = 6.328e-7; pix = 6.7e-6;
  setenv('PARTISCOPE_FFTW_PLANNER', 'measure');
  if strcmp(which, 'modules')
    report('ringform/complex/2048', @() ringform(1.3e-5, -2.1e-5, 0.1, 5e-5, pix, lambda, [2048 2048], 1, 1), 3);
    report('fill_results/2048', @() fill_results([2048 2048]), 3);
    o = ones(1024);
    h = sin(0.001 * reshape(0:1024^2-1, 1024, 1024));
    detectscan(h, lambda, pix, o, 3e-5, 0.1, o, [1 1024], [1 1024], 1);   % plans learned
    report('detectscan/steady/1024/1024', @() detectscan(h, lambda, pix, o, 3e-5, 0.1, o, [1 1024], [1 1024], 1), 5);
    report('synthplate/100/10', @() synthplate(100, lambda, pix, 1024, 1024, 1, 10, [0.05 0.15], [2e-5 6e-5], 1, [], 0, 0), 1);
    report('precbound/1024/0', @() precbound(1.3e-5, -2.1e-5, 0.1, 5e-5, pix, lambda, [1024 1024], 0.1, 0, 0), 3);
    x = (0:1e7-1) * 1e-5;
    report('cylone/1e7', @() cylone(x), 3);
  else
    report('ringform/complex/2048', @() particle(2048, 0.1, 5e-5, 1.3e-5, -2.1e-5), 1);
    report('detectscan/steady/1024/1024', @() detection(1024), 1);
    % 10 particles timed, scaled to 100 (each particle costs the same).
    report('synthplate/100/10', @() plate(10), 1, 10);
    report('precbound/1024/0', @() bound(1024), 1);
    x = (0:1e7-1) * 1e-5;
    report('cylone/1e7', @() besselj(1, x) ./ x, 1);
  end

  function s = particle(side, z, r, x, y)
    k = (-side/2:side/2-1) * pix;
    [dx, dy] = ndgrid(k - x, k - y);
    rho = hypot(dx, dy);
    c = 1 / lambda / z;
    u = 2 * pi * r * rho * c;
    J = besselj(1, u) ./ u;
    J(u < 1e-4) = 0.5;
    s = -1i * (J * pi * r^2 * c) .* exp(1i * pi * rho.^2 * c);
  end

  function q = detection(side)
    hol = sin(0.001 * reshape(0:side^2-1, side, side));
    w = ones(side);
    m = real(particle(side, 0.1, 3e-5, 0, 0));
    fm = fft2(m);
    cw = fftshift(real(ifft2(fft2(w) .* fm)));
    cwd = fftshift(real(ifft2(fft2(w .* hol) .* fm)));
    cwm2 = fftshift(real(ifft2(fft2(w) .* fft2(m .^ 2))));
    S = sum(w(:));
    q = S * cwd.^2 ./ (S * cwm2 - cw.^2);
    [~, k] = max(q(:));
  end

  function h = plate(count)
    field = zeros(1024);
    for k = 1:count
      field = field + particle(1024, 0.05 + 0.1 * rand(), 2e-5 + 4e-5 * rand(), ...
                               (rand() - 0.5) * 1024 * pix, (rand() - 0.5) * 1024 * pix);
    end
    h = abs(1 - field).^2 + randn(1024) / 10;
    h = h - mean(h(:));
  end

  function d = bound(side)
    z = 0.1; r = 5e-5; L = lambda * z;
    k = (-side/2:side/2-1) * pix;
    [dx, dy] = ndgrid(1.3e-5 - k, -2.1e-5 - k);
    rho2 = dx.^2 + dy.^2; rho = sqrt(rho2);
    q = rho2 * pi / L; v = rho * 2 * pi * r / L;
    s = sin(q) ./ q; s(q == 0) = 1;
    jq = besselj(1, v) ./ v; jq(v < 1e-6) = 0.5;
    j0 = besselj(0, v);
    kxy = r * pi^2 * r / L^2;
    D = (j0 - 2 * jq) .* s + 2 * jq .* cos(q);
    g = {kxy * dx .* D, kxy * dy .* D, ...
         -r^2 * pi^2 / L^2 / z * rho2 .* (jq .* cos(q) + (j0 - jq) .* s), pi * r / L * s .* q .* j0};
    F = zeros(4);
    for a = 1:4
      for b = 1:4
        F(a, b) = sum(g{a}(:) .* g{b}(:)) / 0.01;
      end
    end
    d = sqrt(diag(inv(F)));
  end
end

function report(name, job, repeat, scale)
  if nargin < 4, scale = 1; end
  best = Inf;
  for k = 1:repeat
    t = tic; job(); best = min(best, toc(t));
  end
  printf('%s %.1f\n', name, best * 1e3 * scale);
end
