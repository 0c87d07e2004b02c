"""Partiscope: in-line digital holography of small spherical particles.

The same compiled core as the MATLAB/Octave modules, on NumPy arrays: the
hologram model of a particle (ringform), detection maps (detectscan,
detectstack), simulated holograms (synthplate; discplate, the exact
diffraction of opaque discs), free-space propagation (propagate), precision
bounds (precbound), Bessel quotients (cylzero, cylone), and the measurement
of particles (ringfit, findparticles).

Conventions, as in the modules: lengths in metres, except the particle
tables' x and y, in pixels from the grid centre (the pixel
(M // 2, N // 2), counted from 0); the first array axis is x (the rows).
Every function takes float64 arrays of any layout (a copy is made only when
the layout does not fit) and returns float64 arrays. Bad values raise
ValueError with the modules' messages; arguments of the wrong kind raise
TypeError. The computation runs without the interpreter's lock, so Python
threads compute side by side. Every function takes `threads` (the threads a
call uses; 0, the default: PARTISCOPE_NUM_THREADS, else every core) and
`reproducible` (True: the same bits on every x86-64 machine, at some cost in
speed; None: PARTISCOPE_REPRODUCIBLE); the FFT-based ones (detectscan,
detectstack, findparticles) take `planner` ('estimate', 'measure', 'patient'
or 'exhaustive'; None: the PARTISCOPE_FFTW_PLANNER default, 'measure').
Results do not depend on the thread count. Plans chosen by timing ('measure' and above) may differ from
process to process, and with them the last bits of the FFT-based results;
'estimate' chooses the same plan in every process on one kind of machine.
"""

import os
from collections import namedtuple

import numpy as np

from . import _partiscope as _core

__version__ = _core.version
__license__ = ("BSD-3-Clause for the source; the compiled extension contains FFTW 3 "
               "and is therefore distributed under the GNU GPL, version 2 or later")

__all__ = ["ringform", "detectscan", "synthplate", "precbound", "cylzero", "cylone",
           "ringfit", "detectstack", "findparticles", "discplate", "sphereplate", "propagate",
           "read_table", "track"]

Ringform = namedtuple("Ringform", "real complex jinc")
Detectscan = namedtuple("Detectscan", "row col maxim q0")
Synthplate = namedtuple("Synthplate", "hologram particles mean noise")
Discplate = namedtuple("Discplate", "hologram particles noise")
Sphereplate = namedtuple("Sphereplate", "hologram noise")
Precbound = namedtuple("Precbound", "deltax deltay deltaz deltar")
Detectstack = namedtuple("Detectstack", "cand best zidx ridx")


class FitResult:
    """A fit's or a search's results: the table `p` (n-by-4 [x y z r]), its
    standard errors `se`, and every info field as an attribute (the same
    fields as the modules' info struct)."""

    def __init__(self, p, se, info):
        self.p = p
        self.se = se
        self.info = info
        for key, value in info.items():
            setattr(self, key, value)

    def __iter__(self):
        return iter((self.p, self.se, self.info))

    def __repr__(self):
        return "FitResult(n=%d, message=%r)" % (self.p.shape[0], self.info.get("message", ""))


def _context(threads, planner, reproducible):
    """How a call computes: its thread count (0: PARTISCOPE_NUM_THREADS when
    a positive count, else every core), FFTW's planner (None:
    PARTISCOPE_FFTW_PLANNER, else 'measure') and reproducible arithmetic
    (None: PARTISCOPE_REPRODUCIBLE set to anything but '' or '0'). The
    environment is read here, at each call, and nowhere below."""
    threads = int(threads)
    if not 0 <= threads <= 256:
        raise ValueError("Error: threads must be a whole number from 0 to 256")
    if threads == 0:
        try:
            threads = min(max(int(os.environ.get("PARTISCOPE_NUM_THREADS", "")), 0), 256)
        except ValueError:
            threads = 0
    if reproducible is None:
        reproducible = os.environ.get("PARTISCOPE_REPRODUCIBLE", "") not in ("", "0")
    if planner is None:
        planner = os.environ.get("PARTISCOPE_FFTW_PLANNER", "") or "measure"
        if not reproducible and planner not in ("estimate", "measure", "patient", "exhaustive"):
            raise ValueError("Error: PARTISCOPE_FFTW_PLANNER must be estimate, measure, patient "
                             "or exhaustive")
        planner = "measure" if reproducible else planner
    return _core.Context(threads, str(planner).lower(), bool(reproducible))


def _given(v):
    """An option that may be left out: None, or a number."""
    return None if v is None else float(v)


def _grid(a):
    """Real numbers as float64 (no copy when they are already); anything else
    is a TypeError."""
    try:
        a = np.asarray(a)
    except Exception as e:  # a ragged list and the like
        raise TypeError("expected an array of real numbers") from e
    if a.dtype.kind not in "biuf":
        raise TypeError("expected an array of real numbers, not %s" % a.dtype)
    return a.astype(np.float64, copy=False)


def ringform(x, y, z, r, pix, lambda_, sizeH, flag=0, K=0.0, threads=0, reproducible=None):
    """The hologram model of one particle on a sensor grid.

    Arguments (metres): x, y the particle's position from the grid origin;
    z its distance to the sensor; r its radius (0: the bare Fresnel kernel);
    pix the pixel pitch; lambda_ the wavelength; sizeH = (M, N) the grid's
    rows and columns; flag 0 for the real model, 1 for the complex one; K
    the pixel-integration switch (0: point samples).

    Returns Ringform(real, complex, jinc): the real M-by-N model (None for
    flag 1), the complex model (None for flag 0) and the grid of the Bessel
    factor J1(u)/u (None for r = 0). real[i, j] is the module's
    real_p(i+1, j+1).

    Raises ValueError for z < 0 ("Error: Z should be positive"), r < 0 or
    sizes that are negative, not finite or too large.

    Example: m = ringform(0, 0, 0.1, 50e-6, 10e-6, 632.8e-9, (256, 256)).real
    """
    real, re, im, jinc, complex_model = _core.ringform(
        float(x), float(y), float(z), float(r), float(pix), float(lambda_),
        tuple(float(v) for v in sizeH), float(flag), float(K), _context(threads, None, reproducible))
    return Ringform(None if complex_model else real,
                    re + 1j * im if complex_model else None,
                    jinc if r > 0 else None)


def detectscan(hol, lambda_, pix, w=None, r=0.0, z=0.0, w_prim=None, MapFOVx=None,
               MapFOVy=None, K=0.0, threads=0, planner=None, reproducible=None):
    """The detection-criterion map of a hologram for one particle radius r and
    depth z (metres) over a field of view.

    hol: the M-by-N hologram (its mean removed). w, w_prim: per-pixel weights
    and per-position factors (default ones; a weight of 0 masks a pixel).
    MapFOVx, MapFOVy: (first, last) rows and columns, 1-based and inclusive
    as in the module (default the whole hologram). K: pixel-integration
    switch.

    Returns Detectscan(row, col, maxim, q0): the 1-based map row and column
    of the largest score, the score (0 when none is positive), the map.
    Raises ValueError with the module's messages.
    """
    hol = _grid(hol)
    if hol.ndim != 2:
        raise TypeError("hol must be a 2-D array")
    M, N = hol.shape
    ones = np.ones((M, N), order="F")
    return Detectscan(*_core.detectscan(
        hol, float(lambda_), float(pix), ones if w is None else _grid(w), float(r), float(z),
        ones if w_prim is None else _grid(w_prim),
        (1.0, float(M)) if MapFOVx is None else tuple(float(v) for v in MapFOVx),
        (1.0, float(N)) if MapFOVy is None else tuple(float(v) for v in MapFOVy), float(K),
        _context(threads, planner, reproducible)))


def synthplate(n, lambda_, pix, sX, sY, I0=1.0, SNR=0.0, rangeZ=(0.0, 0.0), rangeR=(0.0, 0.0),
               random_coordinates=1, coordinates=None, meanh=0, K=0.0, seed=None, threads=0,
               reproducible=None):
    """A simulated noisy in-line hologram of n particles.

    Arguments as the module's: sX-by-sY pixels of pitch pix, wavelength
    lambda_; intensity scale I0, noise standard deviation I0/SNR (SNR 0: no
    noise); random_coordinates 1 draws the particles within rangeZ and rangeR
    (x and y anywhere on the sensor), otherwise coordinates (an n-by-4 table
    [x y z r]) gives them; meanh 0 removes the hologram's mean; K the
    pixel-integration width. seed makes the plate reproducible (default: the
    clock, as in the module).

    Returns Synthplate(hologram, particles, mean, noise).
    """
    return Synthplate(*_core.synthplate(
        float(n), float(lambda_), float(pix), float(sX), float(sY), float(I0), float(SNR),
        tuple(float(v) for v in rangeZ), tuple(float(v) for v in rangeR),
        int(random_coordinates), None if coordinates is None else _grid(coordinates),
        int(meanh), float(K), None if seed is None else int(seed), _context(threads, None, reproducible)))


def discplate(n, lambda_, pix, sX, sY, I0=1.0, SNR=0.0, rangeZ=(0.0, 0.0), rangeR=(0.0, 0.0),
              Coordinates=None, Seed=None, Sigma=0.0, Photons=0.0, Pixels="area",
              Oversampling=4, threads=0, reproducible=None):
    """A recorded hologram of n opaque discs by exact scalar diffraction
    (the angular spectrum of each disc's analytic spectrum): the physical
    truth to measure fits against.

    Arguments as the module's: sX-by-sY pixels of pitch pix, wavelength
    lambda_ (metres); I0 the background level; SNR > 0 adds Gaussian noise
    of standard deviation I0 pi rmax^2/(lambda zmin)/SNR, the noise
    synthplate adds at that SNR. Discs are drawn within rangeZ and rangeR (x
    and y anywhere on the sensor) unless Coordinates (an n-by-4 table
    [x y z r], x and y in pixels from the grid centre) gives them. Sigma: a
    Gaussian noise's standard deviation instead; Photons: photon shot noise
    instead, at this mean count of a background pixel. Pixels 'area'
    integrates the intensity over each pixel, 'point' samples it at the
    centres. Oversampling (1 to 8, default 4): the field's pitch is
    pix/Oversampling; its band ends at Oversampling/(4 pix) (4: at 1/pix, where
    an area pixel's response ends). Seed makes the plate reproducible.

    Returns Discplate(hologram, particles, noise).
    """
    return Discplate(*_core.discplate(
        float(n), float(lambda_), float(pix), float(sX), float(sY), float(I0), float(SNR),
        tuple(float(v) for v in rangeZ), tuple(float(v) for v in rangeR),
        None if Coordinates is None else _grid(Coordinates), None if Seed is None else int(Seed),
        float(Sigma), float(Photons), str(Pixels).lower(), int(Oversampling), _context(threads, None, reproducible)))


def sphereplate(spheres, sX, sY, lambda_, pix, MediumIndex, Polarization=0.0, Contrast=1.0,
                I0=1.0, Sigma=0.0, Photons=0.0, Subpixels=1, Seed=None, threads=0, reproducible=None):
    """A recorded hologram of spheres under a microscope, by the Lorenz-Mie
    series summed at every pixel: the physical truth to measure sphere fits
    against.

    spheres: an n-by-5 table [x y z a n_p] (x, y in pixels from the grid
    centre; z, the height above the focal plane, and the radius a in metres;
    n_p the sphere's refractive index). sX-by-sY pixels of pitch pix (in the
    sample plane: the camera's pitch over the magnification); lambda_ the
    wavelength in the medium (the vacuum wavelength over MediumIndex).
    Polarization: the illumination's angle from the first axis (radians).
    Contrast: the factor alpha on the scattered field. I0: the background
    level. Sigma: Gaussian noise of this standard deviation; Photons: shot
    noise instead, at this mean count of a background pixel. Subpixels: the
    intensity averaged over Subpixels^2 points a pixel (1: its centre). Seed
    makes the noise reproducible. threads and reproducible: as for every
    function (see the package's help).

    Returns Sphereplate(hologram, noise).
    """
    options = _core.SpherePlateOptions(float(MediumIndex), float(Polarization), float(Contrast),
                                       float(I0), float(Sigma), float(Photons), int(Subpixels))
    return Sphereplate(*_core.sphereplate(
        _grid(spheres).reshape(-1, 5) if np.ndim(spheres) == 1 else _grid(spheres), float(sX), float(sY),
        float(lambda_), float(pix), options, None if Seed is None else int(Seed),
        _context(threads, None, reproducible)))


def _optics(MediumIndex, Index, Polarization):
    """A sphere's optics as the core takes them."""
    return (None if MediumIndex is None else float(MediumIndex),
            np.asarray(Index, dtype=np.float64).reshape(-1), float(Polarization))


def propagate(field, lambda_, pix, z, threads=0, reproducible=None):
    """The field (M-by-N, real or complex, zero outside the array) sampled
    at pitch pix, propagated over z by the angular spectrum (exact scalar
    diffraction, padded and band-limited inside; relative to the
    illuminating wave). Negative z propagates back:
    abs(propagate(hologram - 1, lambda_, pix, -z)) shows the particles at
    depth z in focus. Returns the complex M-by-N field."""
    return _core.propagate(np.asarray(field, dtype=np.complex128), float(lambda_), float(pix),
                           float(z), _context(threads, None, reproducible))


def precbound(x, y, z, r, pix, lambda_, sizeH, sigm, n=0.0, A=0.0, threads=0, reproducible=None):
    """Cramer-Rao lower bounds (metres) on the standard deviations of a
    particle's x, y, z and r from one hologram with white Gaussian noise of
    standard deviation sigm. x, y (metres) from the grid origin; sizeH =
    (M, N); n the pixel-integration width (0: point samples); A the
    pattern's amplitude in the data (0: the model's own).

    Returns Precbound(deltax, deltay, deltaz, deltar).
    """
    return Precbound(*_core.precbound(float(x), float(y), float(z), float(r), float(pix),
                                      float(lambda_), tuple(float(v) for v in sizeH),
                                      float(sigm), float(n), float(A), _context(threads, None, reproducible)))


def cylzero(X, threads=0, reproducible=None):
    """J0(x)/x of every element of a real array (the array's shape kept)."""
    return _core.cylzero(_grid(X), _context(threads, None, reproducible))


def cylone(X, threads=0, reproducible=None):
    """J1(x)/x of every element of a real array (the array's shape kept)."""
    return _core.cylone(_grid(X), _context(threads, None, reproducible))


def ringfit(hol, lambda_, pix, p0, Model="intensity", Particle="disc", Contrast=1.0, Background=None,
            Offset=None, Weights=None, Free=(True, True, True, True), Sigma=None, K=None,
            MaxIter=50, Tolerance=0.1, MediumIndex=None, Index=1.5, Polarization=0.0,
            threads=0, reproducible=None):
    """Measures particles: a joint least-squares fit of their positions,
    depths and radii, with the hologram's level and offset, from a start
    table p0 (n-by-4 [x y z r], x and y in pixels from the grid centre).

    Keywords (as the module's Name-Value options):
        Model: 'intensity' (default) or 'linear'.
        Particle: 'disc' (default: the exact diffraction of an opaque disc),
            'toolbox' (the six modules' far-field term, for Fresnel
            numbers well below 0.01 and for synthplate's plates) or
            'sphere' (a transparent or absorbing bead under a microscope:
            the Lorenz-Mie field, its index fitted; r is its radius a, z its
            height above the focal plane, lambda_ the wavelength in the
            medium, pix the pitch in the sample plane).
        Contrast: every particle's contrast (default 1: an opaque disc, or
            a sphere's whole scattered field), or 'free'.
        Background, Offset: the hologram's level and offset held at these
            values (default None: fitted).
        Weights: M-by-N relative inverse variances (0 masks a pixel;
            default None: all 1).
        Free: which of x, y, z, r (and a sphere's index, a fifth flag) are
            fitted (default all).
        MediumIndex: the medium's refractive index (required for 'sphere').
        Index: a sphere's start index, one or one per particle (default 1.5).
        Polarization: the illumination's polarization angle from the first
            axis, radians (default 0).
        Sigma: the noise standard deviation at weight 1, in the data's
            units (default None: from the residual).
        K: pixel-integration width in pixels (default None: 1, pixel areas,
            for 'disc'; 0, point samples, for 'toolbox').
        MaxIter: most iterations, 0 to 10000 (default 50; 0 keeps p0 and
            gives its standard errors: the model's Cramer-Rao bound when p0
            is the truth).
        Tolerance: stop when no parameter would move by more than this many
            standard errors (default 0.1).

    Returns a FitResult: .p, .se and the info fields (.background, .offset,
    .sigma, .converged, .zr_correlation, .contrast, .message, and for
    spheres .index, .index_se ...);
    `p, se, info = ringfit(...)` unpacks it.
    """
    p, se, info = _core.ringfit(
        _grid(hol), float(lambda_), float(pix), _grid(p0).reshape(-1, 4) if np.ndim(p0) == 1 else _grid(p0),
        str(Model).lower(), str(Particle).lower(), Contrast.lower() if isinstance(Contrast, str) else float(Contrast),
        None if Background is None else float(Background), None if Offset is None else float(Offset),
        None if Weights is None else _grid(Weights), [bool(v) for v in Free], _given(Sigma),
        None if K is None else float(K), float(MaxIter), float(Tolerance),
        _optics(MediumIndex, Index, Polarization), _context(threads, None, reproducible))
    return FitResult(p, se, info)


def detectstack(hol, lambda_, pix, depths, radii, Weights=None, PositionWeights=None,
                MapFOVx=None, MapFOVy=None, K=0.0, Threshold=6.5, MinSeparation=8.0,
                MaxCount=100, Sigma=None, threads=0, planner=None, reproducible=None):
    """The detection map over a stack of depths and radii (increasing,
    metres) in one call: the best score at every position, the pair that gave
    it, and the candidates.

    Keywords:
        Weights: M-by-N relative inverse variances (0 masks a pixel;
            default None: all 1).
        PositionWeights: M-by-N per-position factors of the criterion
            (default None: all 1).
        MapFOVx, MapFOVy: (first, last) map rows and columns, 1-based and
            inclusive (default None: the whole hologram).
        K: pixel-integration width of the templates in pixels (default 0:
            point samples).
        Threshold: least detection signal-to-noise ratio of a candidate,
            at least 3 (default 6.5).
        MinSeparation: pixels between candidates (default 8).
        MaxCount: most candidates, a whole number to 100000 (default 100).
        Sigma: the noise standard deviation at weight 1, in the data's
            units (default None: estimated from the data).

    Returns Detectstack(cand, best, zidx, ridx): cand an n-by-5 table
    [x y z r score] (score = sqrt(best)/sigma, a detection signal-to-noise
    ratio), the best map, and 1-based indices into depths and radii (NaN
    where no score is a number).
    """
    return Detectstack(*_core.detectstack(
        _grid(hol), float(lambda_), float(pix), _grid(depths).ravel(), _grid(radii).ravel(),
        None if Weights is None else _grid(Weights),
        None if PositionWeights is None else _grid(PositionWeights),
        None if MapFOVx is None else tuple(float(v) for v in MapFOVx),
        None if MapFOVy is None else tuple(float(v) for v in MapFOVy), float(K), float(Threshold),
        float(MinSeparation), float(MaxCount), _given(Sigma), _context(threads, planner, reproducible)))


def findparticles(hol, lambda_, pix, depths, radii, Model="intensity", Particle="disc", Contrast=1.0,
                  Weights=None, K=None, Threshold=6.5, MinSeparation=8.0, MaxCount=100,
                  Sigma=None, MaxPasses=10, MaxIter=50, Tolerance=0.1, MediumIndex=None,
                  Index=1.5, Polarization=0.0, Margin=None, threads=0, planner=None,
                  reproducible=None):
    """Finds every particle of a recorded hologram (as divided by a background
    frame) and measures it: scans over depths and radii (increasing, metres),
    fits, subtracts, scans again; then fits all jointly with the level and
    offset. Non-finite pixels and pixels of weight 0 are ignored.

    Arguments: hol the M-by-N hologram (a frame divided by its background,
    level about 1); lambda_ the wavelength in the medium and pix the pixel
    pitch (metres); depths, radii the scan's grid (metres, increasing: depth
    steps of about a tenth of the depth, three or four radii).

    Keywords:
        Model: 'intensity' (default) or 'linear'.
        Particle: 'disc' (default: the exact diffraction of an opaque disc),
            'toolbox' (the far-field model of synthplate's plates, for
            Fresnel numbers well below 0.01) or 'sphere' (beads under a
            microscope, Lorenz-Mie, index fitted: depths are heights above
            the focal plane, radii the beads' range; each bead's depth,
            radius and index start from a scan of its model).
        Contrast: every particle's contrast (default 1: opaque), or 'free'.
        MediumIndex: the medium's refractive index (required for 'sphere').
        Index: the middle of the spheres' index scan, which spans 0.15 either
            side (default 1.5).
        Polarization: the illumination's polarization angle from the first
            axis, radians (default 0).
        Weights: M-by-N relative inverse variances (0 masks a pixel;
            default None: all 1).
        K: pixel-integration width in pixels (default None: 1, pixel areas,
            for 'disc'; 0, point samples, for 'toolbox').
        Threshold: least detection signal-to-noise ratio of a particle, at
            least 3 (default 6.5).
        MinSeparation: pixels between candidates of one scan (default 8).
        MaxCount: most particles, a whole number to 200 (default 100).
        Sigma: the noise standard deviation at weight 1, in the data's
            units (default None: estimated from the data).
        MaxPasses: most scans of the residual, 1 to 100 (default 10).
        MaxIter: most iterations of each fit, 0 to 10000 (default 50).
        Tolerance: a fit stops when no parameter would move by more than
            this many standard errors (default 0.1).
        Margin: pixels searched beyond each edge of the sensor, a whole
            number to half its smaller side (default None: a quarter of
            it, 0 for 'sphere'; 0 searches the sensor only). A particle
            outside is found by the part of its pattern on the sensor.

    Returns a FitResult: .p (n-by-4 [x y z r]: x and y in pixels from the
    grid centre, beyond +-M/2 and +-N/2 for particles outside the sensor, z
    and r in metres), .se, and .score, .converged,
    .zr_correlation, .contrast, (spheres) .index, .index_se, .background,
    .offset, .sigma, .passes, .pixels_ignored, .message. No particle gives a
    0-by-4 table.

    Example:
        plate = synthplate(3, 632.8e-9, 6.7e-6, 256, 256, 1, 20, (0.05, 0.1),
                           (30e-6, 50e-6), meanh=1, seed=1)
        found = findparticles(plate.hologram, 632.8e-9, 6.7e-6,
                              np.arange(0.04, 0.115, 0.01), [20e-6, 40e-6, 60e-6])
    """
    p, se, info = _core.findparticles(
        _grid(hol), float(lambda_), float(pix), _grid(depths).ravel(), _grid(radii).ravel(),
        str(Model).lower(), str(Particle).lower(), Contrast.lower() if isinstance(Contrast, str) else float(Contrast),
        None if Weights is None else _grid(Weights), None if K is None else float(K),
        float(Threshold),
        float(MinSeparation), float(MaxCount), _given(Sigma), float(MaxPasses), float(MaxIter),
        float(Tolerance), _optics(MediumIndex, Index, Polarization), _given(Margin),
        _context(threads, planner, reproducible))
    return FitResult(p, se, info)


def read_table(path):
    """The table `partiscope find` wrote (CSV or HDF5) as a pandas DataFrame:
    one row a particle, x_m and y_m (metres from the frame's centre) beside x
    and y; the run's settings (frame_rows, frame_cols, pixel, wavelength,
    particle, model, depths, ...) in .attrs."""
    from .table import read_table as read
    return read(path)


def track(table, search_range=5.0, depth_range=None, memory=0, min_length=1, predict=None):
    """Links the rows of a particle table (a DataFrame as read_table gives
    it, or any with frame, x, y, z and optionally se_x, se_y, se_z) into
    trajectories: frame after frame, the particles are matched to the tracks
    seen within the last memory + 1 frames by a globally optimal assignment
    of the pairs within search_range (pixels, in x and y) and depth_range
    (metres; None: z does not limit a link), at costs in units of the rows'
    standard errors; predict="velocity" extrapolates each track's next
    position from its last two. Returns the rows of tracks of at least
    min_length rows, in frame order, with frame_index (from 1, in the order
    of .attrs["frames"], else the names' natural order) and particle."""
    from .tracking import track as link
    return link(table, search_range, depth_range, memory, min_length, predict)


# The keywords every function shares, said once and appended to each
# docstring.
_COMPUTE = """
    Computing keywords:
        threads: the call's threads (default 0: PARTISCOPE_NUM_THREADS when
            set, else every core); results do not depend on it.
        reproducible: the same bits on every x86-64 machine (default None:
            PARTISCOPE_REPRODUCIBLE set to anything but '' or '0')."""
_PLANNER = """
        planner: FFTW's planning effort, 'estimate', 'measure', 'patient' or
            'exhaustive' (default None: PARTISCOPE_FFTW_PLANNER, else
            'measure'; 'estimate' plans alike in every process)."""
for _f in (ringform, detectscan, synthplate, discplate, propagate, precbound, cylzero, cylone,
           ringfit, detectstack, findparticles):
    _f.__doc__ = _f.__doc__.rstrip() + "\n" + _COMPUTE + (
        _PLANNER if _f in (detectscan, detectstack, findparticles) else "") + "\n    "
