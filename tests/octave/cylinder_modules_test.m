function cylinder_modules_test
  % The cylzero and cylone modules as a user meets them in GNU Octave.
  wrong_type = "Error: Wrong input type!\n Input should be areal scala or a real valued matrix";

  for name = {'cylzero', 'cylone'}
    f = name{1};
    clear(f);
    % The notice comes with the first call after loading, even a failing one,
    % then not again until the module is cleared.
    first = evalc(sprintf('try, %s(); catch, end', f));
    assert(~isempty(strfind(first, 'Partiscope')), [f ': no notice on first call']);
    assert(~isempty(strfind(first, 'BSD 3-Clause')), [f ': no licence notice']);
    assert(isempty(evalc(sprintf('%s(1);', f))), [f ': notice shown twice']);
    clear(f);
    assert(strcmp(evalc(sprintf('%s(1);', f)), first), [f ': no notice after clear']);

    % Octave puts the module's name in front and drops a trailing newline.
    expect_error(sprintf('%s()', f), sprintf('%s: Usage: J=%s(X)', f, f));
    expect_error(sprintf('[a, b] = %s(1, 2)', f), sprintf('%s: Usage: J=%s(X)', f, f));
    expect_error(sprintf('[a, b] = %s(1)', f), [f ': Too many outputs!']);
    for bad = {'single(1)', 'int32([1 2])', 'true', '''x''', '1 + 2i'}
      expect_error(sprintf('%s(%s)', f, bad{1}), [f ': ' wrong_type]);
    end

    % A large sparse matrix stores two values: refused, not read as full.
    expect_error(sprintf('%s(sparse([1 2], [1 2], [3 4], 3000, 3000))', f), ...
                 [f ': Error: X must be a full (not sparse) double array (convert it with full(X))']);

    % Shapes follow the input.
    assert(isequal(size(feval(f, zeros(0, 3))), [0 3]));
    assert(isequal(size(feval(f, ones(4, 1))), [4 1]));
    assert(isequal(size(feval(f, ones(2, 5))), [2 5]));
  end

  % Values: single-precision quotients, widened.
  assert(cylone(0) == 0.5);
  assert(cylone(1) == 0.44005057215690613);
  assert(abs(cylone(5) - (-0.06551583)) < 5e-9);
  assert(cylzero(1) == 0.7651976943016052);
  assert(cylzero(1.0001e-4) == 9999);
  assert(isequal(cylzero([9e-5 1e-4]), [0.5 0.5]));
  % Signed arguments follow the functions' symmetry.
  x = [0.5 3 9 40];
  assert(isequal(cylone(-x), cylone(x)));
  assert(isequal(cylzero(-x), -cylzero(x)));
  assert(cylzero(-5e-5) == -0.5);
  assert(all(isnan(cylone([NaN Inf 1e39]))));

  % Help text beside the module.
  assert(~isempty(strfind(evalc('help cylone'), 'J1(x)/x of every element')));
  assert(~isempty(strfind(evalc('help cylzero'), 'J0(x)/x of every element')));
  disp('cylinder modules: all checks passed');
end
