% Partiscope: in-line digital holography of small spherical particles
% Version 0.1.0
%
% Particle model
%   ringform   - Hologram model of one spherical particle on a sensor grid.
%   cylone     - J1(x)/x of every element of a real matrix.
%   cylzero    - J0(x)/x of every element of a real matrix.
%
% Detection
%   detectscan - Detection-criterion map of a hologram for one particle size and depth.
%
% Simulation
%   synthplate - Simulated noisy in-line hologram of spherical particles.
%
% Precision
%   precbound  - Cramer-Rao lower bounds on a particle's position, depth and radius.
%
% Threads: every module uses all cores; set PARTISCOPE_NUM_THREADS to
% choose the count (results do not depend on it).
%
% All lengths are in metres. x runs along the rows (first dimension), y along
% the columns; the grid origin of an M-by-N sensor is its pixel
% (floor(M/2)+1, floor(N/2)+1).
