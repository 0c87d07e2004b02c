function readme_test(root)
  % Every Octave block of the README, run as written from the repository's
  % root (the package block has its own test). The worked example's image
  % files are made first, from a simulated plate, where the README says
  % they are.
  setenv('PARTISCOPE_FFTW_PLANNER', 'estimate');
  here = pwd();
  cd(root);
  cleanup = onCleanup(@() restore(here));
  text = fileread('README.md');
  blocks = regexp(text, '```octave\n(.*?)```', 'tokens');
  assert(numel(blocks) >= 3, 'the README shows fewer Octave blocks than expected');
  ran = 0;
  for k = 1:numel(blocks)
    code = blocks{k}{1};
    if ~isempty(strfind(code, 'pkg '))
      continue;
    end
    if ~isempty(strfind(code, 'my-frames/'))
      make_frames();
    end
    run_block(code);
    ran = ran + 1;
  end
  printf('readme_test: %d README blocks ran from the repository root\n', ran);
end

function run_block(code)
  % Its own workspace, as a user's fresh session would be.
  evalc(code);
end

function make_frames()
  M = 256; pix = 6.7e-6; lambda = 632.8e-9;
  hol = synthplate(2, lambda, pix, M, M, 1, 20, [0 0], [0 0], 0, ...
                   [-50 40 0.07 40e-6; 45 -35 0.11 30e-6], 1, 0);
  mkdir('my-frames');
  imwrite(uint16(20000 * hol / mean(hol(:))), 'my-frames/frame-0001.png');
  imwrite(uint16(20000 * ones(M)), 'my-frames/background.png');
end

function restore(here)
  if exist('my-frames', 'dir')
    confirm_recursive_rmdir(false, 'local');
    rmdir('my-frames', 's');
  end
  if exist('frame-0001.csv', 'file')
    delete('frame-0001.csv');
  end
  cd(here);
end
