% Partiscope: in-line digital holography of small spherical particles
% Version 0.1.0
%
% Particle model
%   ringform   - Hologram model of one spherical particle on a sensor grid.
%   cylone     - J1(x)/x of every element of a real matrix.
%   cylzero    - J0(x)/x of every element of a real matrix.
%
% Detection
%   detectscan  - Detection-criterion map of a hologram for one particle size and depth.
%   detectstack - Detection map over a stack of depths and radii, and its candidates.
%
% Simulation and optics
%   synthplate - Simulated noisy in-line hologram of spherical particles.
%   discplate  - Recorded hologram of opaque discs by exact scalar diffraction.
%   sphereplate - Recorded hologram of spheres under a microscope (Lorenz-Mie).
%   propagate  - Free-space propagation of a sampled field (angular spectrum).
%
% Precision
%   precbound  - Cramer-Rao lower bounds on a particle's position, depth and radius.
%
% Measurement
%   ringfit       - Measure particles by a joint least-squares fit to a recorded hologram.
%   findparticles - Find every particle of a recorded hologram and measure it.
%
% Threads: every module uses all cores; set PARTISCOPE_NUM_THREADS to
% choose the count (results do not depend on it).
%
% Lengths are in metres, except the particle tables' x and y (synthplate,
% discplate, ringfit, detectstack, findparticles), which are in pixels from the grid
% origin. x runs along the rows (first dimension), y along the columns; the
% grid origin of an M-by-N sensor is its pixel (floor(M/2)+1, floor(N/2)+1).
