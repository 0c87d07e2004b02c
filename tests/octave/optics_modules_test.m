function optics_modules_test
  % propagate and discplate against closed forms of scalar diffraction.
  lambda = 632.8e-9; pix = 6.7e-6;

  % A Gaussian beam: the paraxial closed form holds to the beam's
  % divergence squared (theta^2 ~ 5e-5 here), and back-propagation undoes
  % propagation.
  M = 256; N = 200; p2 = 2e-6; w0 = 30e-6; z = 5e-3;
  [X, Y] = ndgrid(((0:M-1) - floor(M/2)) * p2, ((0:N-1) - floor(N/2)) * p2);
  u0 = exp(-(X.^2 + Y.^2) / w0^2);
  q = 1 + 1i * z / (pi * w0^2 / lambda);
  out = propagate(u0, lambda, p2, z);
  assert(isequal(size(out), [M N]) && ~isreal(out));
  assert(max(abs(out(:) - exp(-(X(:).^2 + Y(:).^2) / (w0^2 * q)) / q)) < 2e-5);
  assert(max(abs(propagate(out, lambda, p2, -z)(:) - u0(:))) < 1e-8);
  assert(isequal(propagate(u0, lambda, p2, 0), complex(u0)));

  % A disc's far field (F = 0.002): the aperture's pixels propagate to the
  % Airy pattern of their area, (A/(i lambda z)) exp(i pi rho^2/(lambda z)) 2 J1(u)/u.
  M = 512; a = 8 * pix; z = 0.5;
  [X, Y] = ndgrid(((0:M-1) - M/2) * pix);
  aperture = double(X.^2 + Y.^2 <= a^2);
  far = propagate(aperture, lambda, pix, z);
  rho = ((0:M-1) - M/2)' * pix;
  u = 2 * pi * a * rho / (lambda * z);
  airy = sum(aperture(:)) * pix^2 / (1i * lambda * z) * exp(1i * pi * rho.^2 / (lambda * z)) .* ...
         2 .* besselj(1, u) ./ u;
  airy(M/2 + 1) = sum(aperture(:)) * pix^2 / (1i * lambda * z);
  central = abs(rho) < 0.6 * lambda * z / a;      % the central lobe
  assert(max(abs(far(central, M/2 + 1) - airy(central))) < 0.02 * abs(airy(M/2 + 1)));

  % discplate: the Poisson spot. On the axis of an opaque disc the exact
  % (Rayleigh-Sommerfeld) intensity is z^2/(z^2 + r^2), whatever the
  % Fresnel number.
  for c = [0.02 100e-6; 0.05 60e-6; 0.2 100e-6; 0.03 20e-6]'
    h = discplate(1, lambda, pix, 256, 256, 1, 0, [], [], 'Coordinates', [0 0 c'], ...
                  'Pixels', 'point');
    assert(abs(h(129, 129) - c(1)^2 / (c(1)^2 + c(2)^2)) < 1e-4, sprintf('F %g', c(2)^2/(lambda*c(1))));
  end
  % The far field (F = 0.0018): |1 - D|^2, D = -i pi r^2/(lambda z)
  % 2 J1(u)/u exp(i pi rho^2/(lambda z)) (twice the toolbox's term), to the
  % Fresnel number's order.
  z = 0.2; a = 15e-6;
  h = discplate(1, lambda, pix, 256, 256, 1, 0, [], [], 'Coordinates', [0 0 z a], 'Pixels', 'point');
  rho = ((0:255) - 128)' * pix; u = 2 * pi * a * rho / (lambda * z); u(129) = 1;
  J = 2 * besselj(1, u) ./ u; J(129) = 1;
  ff = abs(1 + 1i * pi * a^2 / (lambda * z) * J .* exp(1i * pi * rho.^2 / (lambda * z))).^2;
  assert(max(abs(h(:, 129) - ff)) < 10 * a^2 / (lambda * z) * max(abs(ff - 1)));

  % Pixels integrated over their area: the mean of 3x3 point samples of a
  % three times finer sensor of the same size (the midpoint rule, close for
  % fringes well below the Nyquist frequency). The finer sensor's point
  % samples at the coarse pixels' centres are the coarse ones, to the
  % simulation's accuracy (the two padded grids differ): the grids place the
  % disc alike for odd and even sizes.
  disc = [10.3 -7.6 0.06 50e-6];
  area = discplate(1, lambda, pix, 95, 64, 1, 0, [], [], 'Coordinates', disc);
  point = discplate(1, lambda, pix, 95, 64, 1, 0, [], [], 'Coordinates', disc, 'Pixels', 'point');
  fine = discplate(1, lambda, pix / 3, 285, 192, 1, 0, [], [], 'Pixels', 'point', ...
                   'Coordinates', [3 * disc(1:2) disc(3:4)]);
  assert(max(max(abs(point - fine(2:3:end, 1:3:end)))) < 2e-5);
  blocks = conv2(fine, ones(3) / 9, 'same')(2:3:end, 1:3:end);
  assert(max(max(abs(area(20:75, 16:48) - blocks(20:75, 16:48)))) < 2e-4);
  assert(max(max(abs(area - point))) > 5e-4);

  % Noise: synthplate's SNR, a given sigma, photon counts; a seed repeats a
  % plate and the drawn discs lie within their ranges.
  args = {5, lambda, pix, 128, 128, 2, 4, [0.03 0.08], [20e-6 60e-6]};
  [h1, p1, n1] = discplate(args{:}, 'Seed', 7);
  [h2, p2, n2] = discplate(args{:}, 'Seed', 7);
  assert(isequal(h1, h2) && isequal(p1, p2) && isequal(n1, n2));
  assert(all(p1(:, 3) >= 0.03 & p1(:, 3) <= 0.08 & p1(:, 4) >= 20e-6 & p1(:, 4) <= 60e-6));
  assert(all(abs(p1(:, 1)) <= 64 & abs(p1(:, 2)) <= 64));
  sigma = 2 * pi * max(p1(:, 4))^2 / (lambda * min(p1(:, 3))) / 4;
  assert(abs(std(n1(:)) / sigma - 1) < 0.03);
  [~, ~, n3] = discplate(args{1:6}, 0, args{8:9}, 'Seed', 7, 'Sigma', 0.01);
  assert(abs(std(n3(:)) / 0.01 - 1) < 0.03);
  [h4, ~, n4] = discplate(0, lambda, pix, 128, 128, 2, 0, [], [], 'Photons', 1000, 'Seed', 1);
  assert(abs(mean(h4(:)) / 2 - 1) < 3e-3 && abs(var(n4(:)) / (4 / 1000) - 1) < 0.05);
  assert(all(abs(h4(:) * 1000 / 2 - round(h4(:) * 1000 / 2)) < 1e-9));  % whole photon counts

  expect_error('propagate(1, 2, 3)', 'propagate: Usage: out=propagate(field,lambda,pix,z)');
  expect_error('propagate(ones(4), 633, pix, 0.1)', ...
               'propagate: Error: lambda must be a wavelength in metres (1e-8 to 1e-5), got 633');
  expect_error('propagate(ones(4), lambda, pix, Inf)', ...
               'propagate: Error: z must be a finite distance in metres');
  expect_error('propagate(single(ones(4)), lambda, pix, 1)', ...
               'propagate: Error: field must be a real or complex double matrix');
  expect_error('discplate(1, lambda, pix, 8, 8, 1, 0, [], [], ''Coordinates'', [0 0 0 1e-5])', ...
               'discplate: Error: every disc needs finite x and y, z > 0 and r > 0 (row 1)');
  expect_error('discplate(1, lambda, pix, 8, 8, 1, 3, [0.1 0.1], [1e-5 1e-5], ''Sigma'', 0.1)', ...
               'discplate: Error: give one noise: SNR, Sigma or Photons');
  expect_error('discplate(2, lambda, pix, 8, 8, 1, 0, [], [], ''Coordinates'', [0 0 0.1 1e-5])', ...
               'discplate: Error: Coordinates must be an n-by-4 table [x y z r] (n rows)');
end
