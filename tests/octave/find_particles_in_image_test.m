function find_particles_in_image_test
  % The worked example on image files as a camera writes them: a 16-bit
  % frame with a saturated pixel, a background frame with a dead (zero) pixel.
  setenv('PARTISCOPE_FFTW_PLANNER', 'estimate');
  pix = 6.7e-6; lambda = 632.8e-9; M = 256;
  table = [-50.3 40.6 0.07 40e-6; 45.2 -35.7 0.11 30e-6];
  hol = discplate(2, lambda, pix, M, M, 1, 20, [], [], 'Coordinates', table, 'Seed', 1);  % real discs
  beam = 20000 * (1 + 0.2 * cos((1:M)' / 80) * ones(1, M));   % an uneven beam
  frame = uint16(hol / mean(hol(:)) .* beam);
  frame(100, 100) = intmax('uint16');
  background = uint16(beam); background(30, 200) = 0;
  dir = tempname(); mkdir(dir);
  imwrite(frame, fullfile(dir, 'frame.png'));
  imwrite(background, fullfile(dir, 'background.png'));
  [p, se, info] = find_particles_in_image(fullfile(dir, 'frame.png'), ...
                                          fullfile(dir, 'background.png'), fullfile(dir, 'p.csv'));
  assert(size(p, 1), 2);
  assert(info.pixels_ignored, 2);
  t = dlmread(fullfile(dir, 'p.csv'), ',', 1, 0);
  assert(size(t), [2 13]);
  assert(t(:, 3:4), p(:, 1:2), 1e-3);
  assert(t(:, 5:6), p(:, 1:2) * pix, 1e-9);
  assert(t(:, 1), p(:, 1) + M / 2 + 1, 1e-3);
  for k = 1:2
    d = min(hypot(p(:, 1) - table(k, 1), p(:, 2) - table(k, 2)));
    assert(d < 0.5, sprintf('particle %d found %.2f px away', k, d));
  end
  confirm_recursive_rmdir(false, 'local');
  rmdir(dir, 's');
  unsetenv('PARTISCOPE_FFTW_PLANNER');
end
