% PROPAGATE  Free-space propagation of a sampled field (angular spectrum).
%
%   out = propagate(field,lambda,pix,z)
%
%   The M-by-N complex field given on a plane, zero outside the array, is
%   propagated over the distance z by the angular spectrum: the exact
%   solution of the scalar Helmholtz equation, with no paraxial or far-field
%   approximation. The field is padded to twice its size in each direction
%   inside the function, so nothing wraps around, and its spectrum is
%   band-limited where the sampled transfer function would alias (along
%   each axis, |f| <= 1/(lambda*sqrt((2*z/S)^2 + 1)), S the padded size);
%   evanescent waves are dropped. Fields are relative to the illuminating
%   plane wave: the carrier exp(1i*2*pi*z/lambda) is divided out, so a
%   uniform field stays uniform.
%
%   Refocusing: a hologram divided by its background, hol, holds
%   |1 + s|^2 for the particles' scattered field s. propagate(hol - 1,
%   lambda, pix, -z) brings the particles at depth z into focus (their
%   twin images stay out of focus): abs(out) shows them sharp.
%
%   Arguments (lengths in metres):
%     field   M-by-N real or complex double matrix, sampled at pitch pix
%     lambda  wavelength in the medium the light crosses (1e-8 to 1e-5)
%     pix     sample pitch (1e-8 to 1e-3)
%     z       distance; negative z propagates back. z = 0 returns the
%             field as given (as a complex matrix)
%
%   Result:
%     out     M-by-N complex field on the plane at distance z, on the same
%             grid as field
%
%   Errors (the call returns nothing; the module stays usable):
%     wrong argument count          "Usage: out=propagate(field,lambda,pix,z)"
%     more than one result          "too many outputs for propagate"
%     field not double              "Error: field must be a real or complex double matrix"
%     lambda, pix or z complex      "Error: <name> must be a real double"
%     lambda outside 1e-8..1e-5 m   "Error: lambda must be a wavelength in metres (1e-8 to
%                                    1e-5), got <lambda>"
%     pix outside 1e-8..1e-3 m      "Error: pix must be a pixel pitch in metres (1e-8 to
%                                    1e-3), got <pix>"
%     z not finite                  "Error: z must be a finite distance in metres"
%     more than 2^29 elements       "Error: field must have at most 2^29 elements"
%     a sparse argument             "Error: <name> must be a full (not sparse) double array
%                                    (convert it with full(<name>))"
%
%   Example: a hologram refocused at the depth of its particles
%     plate = discplate(3, 632.8e-9, 6.7e-6, 256, 256, 1, 0, [0.05 0.05], [40e-6 40e-6]);
%     imagesc(abs(propagate(plate - 1, 632.8e-9, 6.7e-6, -0.05))); axis image
%
%   See also DISCPLATE, FINDPARTICLES.
