function [p, se, info] = find_particles_in_image(frame_file, background_file, table_file)
  % FIND_PARTICLES_IN_IMAGE  Find and measure the particles of one recorded frame.
  %
  %   [p, se, info] = find_particles_in_image('frame.png', 'background.png', 'particles.csv')
  %
  %   A worked example for your own holograms: edit the setup below, then
  %   call it with your image files (any format imread reads; 8 or 16 bits,
  %   grey or colour). It writes the particle table, in pixels and in metres,
  %   to table_file (CSV, one particle a row) and returns findparticles'
  %   results.

  %% Your setup (lengths in metres)
  lambda_vacuum = 632.8e-9;   % laser wavelength in vacuum
  n_medium      = 1.0;        % refractive index of the medium the light crosses (1.33 in water)
  camera_pitch  = 6.7e-6;     % the camera's pixel pitch
  magnification = 1;          % of any optics between the particles and the camera
  depths = 0.04:0.01:0.16;    % the volume's depths, about 10% steps, a step beyond each end
  radii  = [20 40 60] * 1e-6; % three or four radii over the expected range

  % The model works in the object's space: wavelength in the medium, pixel
  % pitch divided by the magnification (and depths measured in that space).
  lambda = lambda_vacuum / n_medium;
  pix = camera_pitch / magnification;

  %% The hologram: the frame divided by the plain beam
  img = imread(frame_file);
  bg = imread(background_file);
  saturated = double(intmax(class(img)));   % the camera's largest count (class of the file)
  img = double(img); bg = double(bg);       % double first: integer division rounds
  if ndims(img) == 3, img = mean(img, 3); end   % a colour file: its grey level
  if ndims(bg) == 3, bg = mean(bg, 3); end
  hol = img ./ bg;                          % about 1 away from particles; Inf or NaN where bg is 0
  % Pixels that carry no information: saturated in the frame, or dark in the
  % background (the beam's edge, dust). Non-finite values are ignored anyway.
  w = double(img < saturated & bg > 0.05 * max(bg(:)));

  %% Find and measure
  [p, se, info] = findparticles(hol, lambda, pix, depths, radii, 'Weights', w);
  fprintf('%d particles found in %s (%d scans, %d pixels ignored; %s)\n', size(p, 1), ...
          frame_file, info.passes, info.pixels_ignored, info.message);

  %% The table: x and y in pixels from the grid centre and in metres
  [M, N] = size(hol);
  row = p(:, 1) + floor(M / 2) + 1;         % where each particle lies in the image
  col = p(:, 2) + floor(N / 2) + 1;
  f = fopen(table_file, 'w');
  fprintf(f, 'row,col,x_px,y_px,x_m,y_m,z_m,r_m,se_x_px,se_y_px,se_z_m,se_r_m,score\n');
  fprintf(f, '%.3f,%.3f,%.4f,%.4f,%.6e,%.6e,%.6e,%.6e,%.4f,%.4f,%.3e,%.3e,%.2f\n', ...
          [row, col, p(:, 1:2), p(:, 1:2) * pix, p(:, 3:4), se, info.score]');
  fclose(f);
end
