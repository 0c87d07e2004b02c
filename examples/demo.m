% Partiscope demo: the Bessel quotients behind the particle models.
%
% Run from the repository root after building:   addpath build/mex; demo
% J1(x)/x is the Bessel factor of an opaque disc's diffraction pattern: it
% sets the amplitude of the rings in a particle's hologram. J0(x)/x enters
% the derivatives of the model.

x = [0 0.5 1 2 3.8317 5 7.0156 8 10 20];
fprintf('\n%10s %14s %14s\n', 'x', 'cylone(x)', 'cylzero(x)');
fprintf('%10.4f %14.7f %14.7f\n', [x; cylone(x); cylzero(x)]);
fprintf('\ncylone vanishes at the first zeros of J1 (3.8317, 7.0156);\n');
fprintf('cylone(-x) = cylone(x) and cylzero(-x) = -cylzero(x):\n');
fprintf('  cylone(-2) = %.7f, cylzero(-2) = %.7f\n', cylone(-2), cylzero(-2));
