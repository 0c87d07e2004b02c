function find_particles_test
  % The whole pipeline on a small noiseless plate: simulate three separated
  % particles, find them with detectscan, refine them with ringform fits.
  setenv('PARTISCOPE_FFTW_PLANNER', 'estimate');
  pix = 6.7e-6; lambda = 632.8e-9;
  table = [-50.3 40.6 0.07 40e-6; 45.2 -35.7 0.11 30e-6; 60.8 55.4 0.09 50e-6];
  [hol, particles, Mean] = synthplate(3, lambda, pix, 256, 256, 1, 0, [0 0], [0 0], 0, table, 0, 0);
  opt = struct('lambda', lambda, 'pix', pix, 'depths', 0.05:0.01:0.13, ...
               'radii', (20:10:60) * 1e-6, 'background', Mean, 'count', 3, 'stop', 0.05, ...
               'window', 96);
  found = find_particles(hol, opt);
  assert(numel(found) == 3, sprintf('found %d particles', numel(found)));
  det_err = 0; fit_err = 0;
  for k = 1:3
    t = particles(k, :);
    [d, j] = min(hypot([found.det_x] - t(1), [found.det_y] - t(2)));
    f = found(j);
    assert(d <= 1, sprintf('particle %d detected %.2f pixels away', k, d));
    assert(abs(f.det_z - t(3)) <= 0.01, sprintf('particle %d detected at z %.3f', k, f.det_z));
    det_err = det_err + d;
    fit_err = fit_err + hypot(f.x - t(1), f.y - t(2));
  end
  assert(fit_err < det_err, sprintf('refined %.3f px against detected %.3f px', fit_err, det_err));
  unsetenv('PARTISCOPE_FFTW_PLANNER');
  printf('find_particles: 3 of 3 found; lateral error %.3f px detected, %.3f px refined\n', ...
         det_err / 3, fit_err / 3);
end
