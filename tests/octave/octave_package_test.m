function octave_package_test(tarball)
  % The Octave package as a user installs it: into a fresh package prefix,
  % loaded with pkg load (no addpath), every module callable, then removed.
  prefix = tempname();
  mkdir(prefix);
  cleanup = onCleanup(@() remove_folder(prefix));
  pkg('prefix', prefix, prefix);
  pkg('local_list', fullfile(prefix, 'octave_packages'));
  pkg('install', '-local', '-nodeps', tarball);
  list = pkg('list');
  assert(numel(list) == 1 && strcmp(list{1}.name, 'partiscope'));

  assert(isempty(which('ringform')), 'ringform found before pkg load');
  pkg load partiscope
  setenv('PARTISCOPE_FFTW_PLANNER', 'estimate');
  pix = 6.7e-6; lambda = 632.8e-9;
  evalc('m = ringform(0, 0, 0.1, 50e-6, pix, lambda, [64 64], 0, 0);');
  assert(isequal(size(m), [64 64]));
  [h, p] = synthplate(1, lambda, pix, 64, 64, 1, 0, [0 0], [0 0], 0, [0 0 0.1 50e-6], 0, 0);
  [row, col] = detectscan(h, lambda, pix, ones(64), 50e-6, 0.1, ones(64), [1 64], [1 64], 0);
  assert(row == 33 && col == 33);
  [dx, dy, dz, dr] = precbound(0, 0, 0.1, 50e-6, pix, lambda, [64 64], 0.1, 0, 0);
  assert(all([dx dy dz dr] > 0));
  assert(cylone(0) == 0.5 && cylzero(1) == 0.7651976943016052);
  d = discplate(1, lambda, pix, 128, 128, 1, 0, [], [], 'Coordinates', [0 0 0.05 50e-6]);
  focus = abs(propagate(d - 1, lambda, pix, -0.05));
  assert(focus(65, 65) > 0.8 && focus(65, 90) < 0.3);   % the disc in focus
  assert(~isempty(strfind(evalc('help ringform'), 'ringform')));
  assert(isempty(strfind(which('demo'), 'partiscope')), 'an example shadows an Octave function');

  pkg unload partiscope
  pkg('uninstall', '-local', 'partiscope');
  assert(isempty(pkg('list')));
  assert(isempty(which('ringform')));
end

function remove_folder(folder)
  confirm_recursive_rmdir(false);
  rmdir(folder, 's');
end
