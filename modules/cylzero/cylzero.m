% CYLZERO  J0(x)/x of every element of a real matrix.
%
%   J = cylzero(X)
%
%   X  real double matrix (any size, empty included).
%   J  double matrix of the size of X: J(k) = J0(x)/x with x = X(k) rounded
%      to single precision, evaluated with the toolbox's single-precision
%      Bessel approximation; every element of J is a single-precision value.
%
%   Small arguments: for |x| below 1e-4 the quotient is replaced by 0.5
%   (with the sign of x), the value the particle models use there; above it
%   J0(x)/x grows like 1/x (cylzero(1e-3) is about 999.9997).
%   J0(x)/x is odd: cylzero(-x) = -cylzero(x).
%   NaN, and values beyond the single-precision range, give NaN.
%
%   Errors (the call returns nothing; the module stays usable):
%     other than one argument      "Usage: J=cylzero(X)"
%     more than one result         "Too many outputs!"
%     X not a real double (single, integer, logical, char, complex)
%                                  "Error: Wrong input type!
%                                    Input should be areal scala or a real valued matrix"
%     a sparse argument            "Error: X must be a full (not sparse) double array
%                                   (convert it with full(X))"
%
%   Example:
%     cylzero([1 10])     % 0.7652  -0.0246
%
%   See also CYLONE.
