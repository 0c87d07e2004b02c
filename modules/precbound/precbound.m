% PRECBOUND  Cramer-Rao lower bounds on a particle's position, depth and radius.
%
%   [deltax,deltay,deltaz,deltar] = precbound(x,y,z,r,pix,lambda,sizeH,sigm,n,A)
%
%   The smallest standard deviations (metres) with which any unbiased
%   estimator can recover x, y, z and r of one particle from one in-line
%   hologram whose pixels carry white Gaussian noise of standard deviation
%   sigm. Computed from the 4-by-4 Fisher information of the hologram model's
%   analytic derivatives, summed over the sensor, inverted in closed form.
%
%   Arguments (all lengths in metres):
%     x, y    particle position from the grid origin (pixel
%             (floor(W/2)+1, floor(H/2)+1)); x along the first axis
%     z       distance from the particle to the sensor
%     r       particle radius
%     pix     pixel pitch
%     lambda  wavelength
%     sizeH   [W H]: pixels along x and along y (non-negative, finite); for
%             an odd size the last row or column is not used
%     sigm    noise standard deviation, in the units of the hologram data
%     n       pixel integration: 0 for point samples; n > 0 integrates each
%             sample over n*pix; n > 1 also uses only every trunc(n)-th row
%             and column (first of each included). Must be >= 0.
%     A       amplitude of the particle's pattern in the data (the value at
%             its centre); 0 keeps the model's own, pi*r^2/(2*lambda*z)
%
%   Results: deltax, deltay, deltaz, deltar, the four bounds in metres. A
%   sensor smaller than 2 pixels in either direction, or r = 0, gives NaN.
%   The bounds scale with sigm, and inversely with A.
%
%   Errors (the call returns nothing; the module stays usable):
%     wrong argument count         " Usage :[deltax,deltay,deltaz,deltar]=precbound(...)"
%     more than four results       "too many outputs for precbound"
%     an argument that is not a double array (single, integer, logical, char)
%                                  "Error: <name> must be a double array"
%     a sparse argument            "Error: <name> must be a full (not sparse) double array
%                                   (convert it with full(<name>))"
%     an empty argument            "Error: <name> must not be empty"
%     sizeH with one element       "Error: sizeH must have two elements"
%     sizeH negative, NaN, infinite or too large
%                                  "Error: sizeH must hold two non-negative finite sizes
%                                   within the array limits"
%     n negative or NaN            "Error: n must be a non-negative number"
%   Complex arguments are read by their real parts. Other values are
%   computed as given: a singular Fisher matrix (r = 0, no pixel used) gives
%   NaN or infinite bounds. The time grows with the number of pixels used.
%
%   Example:
%     [dx,dy,dz,dr] = precbound(0,0,0.1,50e-6,10e-6,500e-9,[64 64],1,0,0)
%     % dx = dy = 1.93e-5, dz = 0.0097, dr = 1.31e-5
%
%   See also RINGFORM, DETECTSCAN.
