% CYLONE  J1(x)/x of every element of a real matrix.
%
%   J = cylone(X)
%
%   X  real double matrix (any size, empty included).
%   J  double matrix of the size of X: J(k) = J1(x)/x with x = X(k) rounded
%      to single precision, evaluated with the toolbox's single-precision
%      Bessel approximation; every element of J is a single-precision value.
%      This is the Bessel factor of a disc's diffraction pattern in the
%      particle hologram model.
%
%   Small arguments: for |x| below 1e-4 the result is the limit 0.5.
%   J1(x)/x is even: cylone(-x) = cylone(x).
%   NaN, and values beyond the single-precision range, give NaN.
%
%   Errors (the call returns nothing; the module stays usable):
%     other than one argument      "Usage: J=cylone(X)"
%     more than one result         "Too many outputs!"
%     X not a real double (single, integer, logical, char, complex)
%                                  "Error: Wrong input type!
%                                    Input should be areal scala or a real valued matrix"
%     a sparse argument            "Error: X must be a full (not sparse) double array
%                                   (convert it with full(X))"
%
%   Example:
%     cylone([0 1 5])     % 0.5000  0.4401  -0.0655
%
%   See also CYLZERO.
