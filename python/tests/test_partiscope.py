"""The Python package against the modules (run in GNU Octave on the same
inputs), its array layouts, its errors, and calls from several threads."""
import os
import shutil
import subprocess
import sys
import tempfile
import threading

import numpy as np
import pytest

import partiscope as ps

LAMBDA, PIX = 632.8e-9, 6.7e-6
MEX_DIR = os.environ.get("PARTISCOPE_MEX_DIR", "")


def plate(M=96, N=80, seed=3):
    table = np.array([[-20.0, 15.0, 0.04, 3e-5], [18.0, -22.0, 0.06, 5e-5]])
    hol = ps.synthplate(2, LAMBDA, PIX, M, N, 1, 0, random_coordinates=0, coordinates=table,
                        meanh=1).hologram
    rng = np.random.default_rng(seed)
    return hol / hol.mean() + 0.05 * rng.standard_normal((M, N)), table


def octave(script, arrays):
    """Runs an Octave script on the given arrays (saved as variables) and
    returns the variables it leaves in `out` (a cell of arrays), as doubles."""
    if not MEX_DIR or shutil.which("octave-cli") is None:
        pytest.skip("Octave and the built modules are needed (PARTISCOPE_MEX_DIR)")
    with tempfile.TemporaryDirectory() as d:
        loads = []
        for name, a in arrays.items():
            a = np.atleast_2d(np.asarray(a, dtype=np.float64))
            a.ravel(order="F").tofile(os.path.join(d, name))
            loads.append("f = fopen('%s'); %s = reshape(fread(f, Inf, 'double'), %d, %d); fclose(f);"
                         % (os.path.join(d, name), name, a.shape[0], a.shape[1]))
        code = ("addpath('%s'); %s\n%s\nfor k = 1:numel(out), f = fopen(sprintf('%s/out%%d', k), 'w'); "
                "fwrite(f, size(out{k}), 'double'); fwrite(f, double(out{k}), 'double'); fclose(f); end"
                % (MEX_DIR, "\n".join(loads), script, d))
        env = dict(os.environ, PARTISCOPE_REPRODUCIBLE="1")
        subprocess.run(["octave-cli", "--norc", "--quiet", "--eval", code], check=True, env=env,
                       stdout=subprocess.DEVNULL)
        results = []
        k = 1
        while os.path.exists(os.path.join(d, "out%d" % k)):
            v = np.fromfile(os.path.join(d, "out%d" % k))
            m, n = int(v[0]), int(v[1])
            results.append(v[2:].reshape((m, n), order="F"))
            k += 1
        return results


def test_values_are_the_modules():
    hol, table = plate()
    depths, radii = np.array([0.03, 0.04, 0.05, 0.06]), np.array([3e-5, 5e-5])
    rf = ps.ringform(1.5e-5, -2e-5, 0.05, 4e-5, PIX, LAMBDA, (33, 40), 0, 1)
    rc = ps.ringform(1.5e-5, -2e-5, 0.05, 4e-5, PIX, LAMBDA, (33, 40), 1, 0)
    h = hol - hol.mean()  # one mean for both sides: NumPy's and Octave's sums round differently
    ds = ps.detectscan(h, LAMBDA, PIX, r=4e-5, z=0.05, MapFOVx=(3, 90), MapFOVy=(2, 80))
    pb = ps.precbound(1e-5, 2e-5, 0.08, 4e-5, PIX, LAMBDA, (128, 96), 0.3, 1, 0.5)
    x = np.linspace(-20, 20, 77).reshape(7, 11)
    st = ps.detectstack(h, LAMBDA, PIX, depths, radii)
    fit = ps.ringfit(hol, LAMBDA, PIX, table + [[0.5, -0.5, 0.0005, 2e-6], [-0.5, 0.4, -0.0005, -2e-6]])
    found = ps.findparticles(hol, LAMBDA, PIX, depths, radii)
    out = octave(
        "a = ringform(1.5e-5, -2e-5, 0.05, 4e-5, %r, %r, [33 40], 0, 1);\n"
        "[~, c] = ringform(1.5e-5, -2e-5, 0.05, 4e-5, %r, %r, [33 40], 1, 0);\n"
        "[row, col, maxim, q0] = detectscan(h, %r, %r, ones(size(hol)), 4e-5, 0.05, ones(size(hol)), [3 90], [2 80], 0);\n"
        "[bx, by, bz, br] = precbound(1e-5, 2e-5, 0.08, 4e-5, %r, %r, [128 96], 0.3, 1, 0.5);\n"
        "[cand, best] = detectstack(h, %r, %r, depths, radii);\n"
        "p = ringfit(hol, %r, %r, p0);\n"
        "q = findparticles(hol, %r, %r, depths, radii);\n"
        "out = {a, real(c), imag(c), [row col maxim], q0, [bx by bz br], cylone(x), cylzero(x), cand, best, p, q};"
        % ((PIX, LAMBDA) * 2 + (LAMBDA, PIX) + (PIX, LAMBDA) + (LAMBDA, PIX) * 3),
        {"hol": hol, "h": h, "depths": depths, "radii": radii, "x": x,
         "p0": table + [[0.5, -0.5, 0.0005, 2e-6], [-0.5, 0.4, -0.0005, -2e-6]]})
    ours = [rf.real, rc.complex.real, rc.complex.imag, np.array([[ds.row, ds.col, ds.maxim]]), ds.q0,
            np.array([list(pb)]), ps.cylone(x), ps.cylzero(x), st.cand, st.best, fit.p, found.p]
    names = ["ringform real", "ringform complex re", "ringform complex im", "detectscan position",
             "detectscan map", "precbound", "cylone", "cylzero", "detectstack candidates",
             "detectstack best", "ringfit", "findparticles"]
    for name, a, b in zip(names, ours, out):
        assert a.shape == b.shape, name
        assert np.array_equal(a, b, equal_nan=True), name


@pytest.mark.parametrize("layout", ["C", "F", "view"])
def test_any_layout_gives_the_same_values(layout):
    hol, _ = plate()
    base = ps.detectstack(hol - hol.mean(), LAMBDA, PIX, [0.04, 0.06], [3e-5, 5e-5])
    h = hol - hol.mean()
    if layout == "C":
        h = np.ascontiguousarray(h)
    elif layout == "F":
        h = np.asfortranarray(h)
    else:
        big = np.zeros((2 * h.shape[0], 2 * h.shape[1]))
        big[::2, ::2] = h
        h = big[::2, ::2]
    again = ps.detectstack(h, LAMBDA, PIX, [0.04, 0.06], [3e-5, 5e-5])
    assert np.array_equal(base.best, again.best)
    assert np.array_equal(base.cand, again.cand)
    x = np.linspace(0, 30, 60).reshape(6, 10)
    assert np.array_equal(ps.cylone(x), ps.cylone(np.asfortranarray(x)))
    assert np.array_equal(ps.cylone(x[:, ::2]), ps.cylone(x)[:, ::2])
    # x is the first axis: row i of the grid is x = (i - M // 2) pixels, and
    # the Bessel factor J1(u)/u peaks on the particle's axis.
    jinc = ps.ringform(3 * PIX, -5 * PIX, 0.05, 4e-5, PIX, LAMBDA, (32, 32)).jinc
    assert np.unravel_index(np.argmax(jinc), jinc.shape) == (16 + 3, 16 - 5)


def test_errors_are_exceptions_with_the_modules_messages():
    hol, table = plate()
    with pytest.raises(ValueError, match="Error: Z should be positive"):
        ps.ringform(0, 0, -1, 1e-5, PIX, LAMBDA, (8, 8))
    with pytest.raises(ValueError, match="sizeH must hold two non-negative finite sizes"):
        ps.precbound(0, 0, 0.1, 1e-5, PIX, LAMBDA, (-1, 8), 1)
    with pytest.raises(ValueError, match="Error: depths must be increasing"):
        ps.findparticles(hol, LAMBDA, PIX, [0.05, 0.04], [3e-5])
    with pytest.raises(ValueError, match="Error: MapFOVx must be a whole-number range"):
        ps.detectscan(hol, LAMBDA, PIX, MapFOVx=(0, 10))
    with pytest.raises(ValueError, match="Error: Weights must be the size of hol"):
        ps.detectstack(hol, LAMBDA, PIX, [0.05], [3e-5], Weights=np.ones((3, 3)))
    with pytest.raises(ValueError, match="Error: p0 must be an n-by-4 table"):
        ps.ringfit(hol, LAMBDA, PIX, np.zeros((2, 3)))
    with pytest.raises(ValueError, match="Error: Contrast must be"):
        ps.findparticles(hol, LAMBDA, PIX, [0.05], [3e-5], Contrast="big")
    with pytest.raises(ValueError, match=r"lambda must be a wavelength in metres \(1e-8 to "
                                         r"1e-5\), got 447$"):
        ps.findparticles(hol, 447, PIX, [0.05], [3e-5])  # nanometres meant
    with pytest.raises(ValueError, match=r"pix must be a pixel pitch in metres .*got 6.7$"):
        ps.detectstack(hol, LAMBDA, 6.7, [0.05], [3e-5])  # micrometres meant
    with pytest.raises(TypeError):
        ps.detectstack("a hologram", LAMBDA, PIX, [0.05], [3e-5])
    with pytest.raises(TypeError):
        ps.cylone(np.array([1 + 2j]))


def test_nothing_crashes_on_odd_inputs():
    """Shapes, NaNs, infinities, empty and huge values in every argument:
    a result or an exception, never a crash."""
    rng = np.random.default_rng(7)
    odd = [np.nan, np.inf, -np.inf, -1.0, 0.0, 1e300, 1e-300, 3.0, 0.5]
    for _ in range(150):
        M, N = int(rng.integers(0, 12)), int(rng.integers(0, 12))
        hol = rng.standard_normal((M, N))
        if M * N:
            hol.flat[rng.integers(0, M * N)] = rng.choice(odd)
        s = lambda: float(rng.choice(odd + [0.05, 3e-5, PIX, LAMBDA]))
        calls = [
            lambda: ps.ringform(s(), s(), s(), s(), s(), s(), (s(), s()), s(), s()),
            lambda: ps.detectscan(hol, s(), s(), r=s(), z=s(), K=s()),
            lambda: ps.detectstack(hol, s(), s(), [s(), s()], [s()], Threshold=s(), Sigma=abs(s())),
            lambda: ps.findparticles(hol, s(), s(), [s()], [s()], Threshold=abs(s()) + 3),
            lambda: ps.ringfit(hol, s(), s(), [[s(), s(), s(), s()]], MaxIter=3),
            lambda: ps.precbound(s(), s(), s(), s(), s(), s(), (min(abs(s()), 64), 8), s(), abs(s())),
            lambda: ps.synthplate(int(rng.integers(0, 3)), s(), s(), M, N, s(), s(), (s(), s()),
                                  (s(), s()), seed=1),
        ]
        for call in calls:
            try:
                call()
            except (ValueError, TypeError, OverflowError, MemoryError):
                pass


def test_package_metadata():
    import importlib.metadata
    assert ps.__version__ == "0.1.0"
    assert importlib.metadata.version("partiscope") == ps.__version__
    assert "GPL" in importlib.metadata.metadata("partiscope")["License"]
    assert "GPL" in ps.__license__
    assert ps.findparticles.__doc__ and "Returns" in ps.findparticles.__doc__


def test_example_runs_headless_and_writes_its_figure(tmp_path):
    example = os.path.join(os.path.dirname(__file__), "..", "..", "examples", "find_particles.py")
    figure = tmp_path / "figure.png"
    env = dict(os.environ, MPLBACKEND="Agg")
    env.pop("DISPLAY", None)
    run = subprocess.run([sys.executable, example, str(figure)], env=env, capture_output=True,
                         text=True, check=True)
    assert "found 8 of 8 particles" in run.stdout
    assert figure.stat().st_size > 10000


def test_readme_python_blocks_run_as_written():
    readme = os.path.join(os.path.dirname(__file__), "..", "..", "README.md")
    text = open(readme, encoding="utf-8").read()
    blocks = [b.split("```")[0] for b in text.split("```python\n")[1:]]
    assert blocks
    for code in blocks:
        exec(compile(code, "README.md", "exec"), {})


def _load_seed_tables():
    import runpy
    import types
    path = os.path.join(os.path.dirname(__file__), "..", "..", "tests", "fuzz", "make_seeds.py")
    return types.SimpleNamespace(**runpy.run_path(path))


FIXED = {"cylzero": 1, "cylone": 1, "ringform": 9, "detectscan": 10, "synthplate": 13,
         "precbound": 10, "ringfit": 4, "detectstack": 5, "findparticles": 5}


def _decode(data, seeds):
    """The fuzz harness's byte format as Python values: arrays of the
    module's kinds (single, int32, logical, char, sparse as their NumPy or
    dense counterparts), option words as text."""
    it = iter(data)
    nxt = lambda: next(it, 0)
    nxt()  # result count
    args = []
    for _ in range(nxt() % 16):
        kind, m, n = nxt() % 9, nxt() % 18, nxt() % 18
        values = lambda k: [seeds.VALUES[nxt() % len(seeds.VALUES)] for _ in range(k)]
        if kind in (0, 1):
            a = np.array(values(m * n), dtype=float).reshape((m, n), order="F")
            if kind == 1:
                a = a + 1j * np.array(values(m * n)).reshape((m, n), order="F")
            args.append(a)
        elif kind in (2, 3, 4):
            args.append(np.zeros((m, n), dtype={2: np.float32, 3: np.int32, 4: bool}[kind]))
        elif kind == 5:
            args.append("x" * m)
        elif kind == 7:
            a = np.zeros(m * n)
            nz = values(nxt() % (m * n + 1))
            a[:len(nz)] = nz
            args.append(a.reshape((m, n), order="F"))
        elif kind == 8:
            args.append(seeds.WORDS[nxt() % len(seeds.WORDS)])
        else:
            args.append(np.zeros((0, 0)))
    return args


def test_fuzz_corpus_through_the_bindings():
    """Every seed of the modules' fuzzers, and 40 mutations of each, called
    through the package: a result or an exception, never a crash."""
    seeds = _load_seed_tables()
    corpus = os.path.join(os.path.dirname(__file__), "..", "..", "tests", "fuzz", "corpus")
    rng = np.random.default_rng(11)
    calls = 0
    for name, fixed in FIXED.items():
        function = getattr(ps, name)
        keywords = function.__code__.co_varnames[:function.__code__.co_argcount]
        for seed in sorted(os.listdir(os.path.join(corpus, name))):
            data = open(os.path.join(corpus, name, seed), "rb").read()
            for mutation in range(41):
                if mutation:
                    b = bytearray(data)
                    for _ in range(3):
                        b[int(rng.integers(0, len(b)))] = int(rng.integers(0, 256))
                    data_m = bytes(b)
                else:
                    data_m = data
                args = _decode(data_m, seeds)
                positional, rest = args[:fixed], args[fixed:]
                kwargs = {}
                for k in range(0, len(rest) - 1, 2):
                    if isinstance(rest[k], str):
                        match = [w for w in keywords if w.lower() == rest[k].lower()]
                        kwargs[match[0] if match else rest[k]] = rest[k + 1]
                try:
                    function(*positional, **kwargs)
                except (ValueError, TypeError, OverflowError, MemoryError):
                    pass
                calls += 1
    assert calls > 500


def test_thread_count_and_planner_leave_the_values_alone():
    hol, _ = plate()
    one = ps.findparticles(hol, LAMBDA, PIX, [0.03, 0.05, 0.07], [3e-5, 5e-5], threads=1)
    two = ps.findparticles(hol, LAMBDA, PIX, [0.03, 0.05, 0.07], [3e-5, 5e-5], threads=2,
                           planner="measure")
    assert np.array_equal(one.p, two.p) and np.array_equal(one.se, two.se)
    with pytest.raises(ValueError, match="threads must be"):
        ps.cylone([1.0], threads=-1)
    with pytest.raises(ValueError, match="planner must be"):
        ps.detectstack(hol, LAMBDA, PIX, [0.05], [3e-5], planner="quick")


def test_the_compute_context_comes_from_keywords_else_the_environment(monkeypatch):
    """The package, not the core, reads the environment: its variables are
    the keywords' defaults."""
    hol, _ = plate()
    by_keyword = ps.detectstack(hol, LAMBDA, PIX, [0.05], [3e-5], reproducible=True).best
    monkeypatch.setenv("PARTISCOPE_REPRODUCIBLE", "1")
    assert np.array_equal(ps.detectstack(hol, LAMBDA, PIX, [0.05], [3e-5]).best, by_keyword)
    monkeypatch.setenv("PARTISCOPE_REPRODUCIBLE", "0")
    monkeypatch.setenv("PARTISCOPE_FFTW_PLANNER", "quick")
    with pytest.raises(ValueError, match="PARTISCOPE_FFTW_PLANNER must be"):
        ps.detectstack(hol, LAMBDA, PIX, [0.05], [3e-5])
    ps.detectstack(hol, LAMBDA, PIX, [0.05], [3e-5], planner="estimate")


def test_every_function_from_several_threads_at_once():
    """Each function called from four threads at once gives what it gives
    alone (FFTW's planner, the model's tables and the thread counts are
    shared by the calls), while every thread also plans a size of its own."""
    hol, table = plate(64, 56)
    h = hol - hol.mean()
    x = np.linspace(-9, 9, 40).reshape(5, 8)
    calls = {
        "ringform": lambda: ps.ringform(1e-5, 0, 0.05, 4e-5, PIX, LAMBDA, (33, 30)).real,
        "detectscan": lambda: ps.detectscan(h, LAMBDA, PIX, r=3e-5, z=0.04).q0,
        "synthplate": lambda: ps.synthplate(2, LAMBDA, PIX, 40, 36, 1, 5, (0.03, 0.06),
                                            (2e-5, 4e-5), seed=5).hologram,
        "precbound": lambda: np.array(ps.precbound(0, 0, 0.05, 4e-5, PIX, LAMBDA, (64, 64), 0.1)),
        "cylzero": lambda: ps.cylzero(x),
        "cylone": lambda: ps.cylone(x),
        "ringfit": lambda: ps.ringfit(hol, LAMBDA, PIX, table + 0.3, MaxIter=5,
                                      Particle="toolbox").p,
        "detectstack": lambda: ps.detectstack(h, LAMBDA, PIX, [0.04, 0.06], [3e-5, 5e-5]).best,
        "findparticles": lambda: ps.findparticles(hol, LAMBDA, PIX, [0.04, 0.06], [3e-5, 5e-5],
                                                  Particle="toolbox").p,
    }
    alone = {name: call() for name, call in calls.items()}
    mismatches, failures = [], []

    def work(offset):
        try:
            size = 40 + 4 * offset
            ps.detectstack(h[:size, :size], LAMBDA, PIX, [0.04, 0.05], [3e-5])
            names = list(calls)
            for k in range(2 * len(names)):
                name = names[(k + offset) % len(names)]
                if not np.array_equal(calls[name](), alone[name], equal_nan=True):
                    mismatches.append(name)
        except Exception as e:  # noqa: BLE001 - reported below
            failures.append(e)

    threads = [threading.Thread(target=work, args=(k,)) for k in range(4)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert not failures and not mismatches, (failures, mismatches)


def test_a_particle_without_finite_standard_errors_is_not_converged():
    """A 2-by-2 or 1-by-1 hologram cannot determine a particle: its standard
    errors are not finite, so it is not reported as a converged measurement."""
    for hol, options in ((np.ones((2, 2)), dict(Background=1.0, Offset=0.0)),
                         (np.ones((1, 1)), {})):
        fit = ps.ringfit(hol, LAMBDA, PIX, [[0, 0, 0.05, 3e-5]], **options)
        assert not np.isfinite(fit.se).all() and not fit.converged.any()
        assert fit.message.startswith("not converged: 1 of 1 particles without a finite")


def test_discplate_and_propagate_are_the_modules_and_refocus_a_disc():
    """The exact disc hologram and the propagator from Python: the modules'
    values bit for bit, and a hologram propagated back to its disc's depth
    shows the disc: |field| near 1 over it, low around it."""
    table = np.array([[10.0, -20.0, 0.05, 60e-6]])
    plate = ps.discplate(1, LAMBDA, PIX, 96, 80, 1, 0, Coordinates=table, Seed=3, Sigma=0.01)
    field = ps.propagate(plate.hologram - 1, LAMBDA, PIX, -0.05)
    drawn = ps.discplate(3, LAMBDA, PIX, 64, 64, 2, 5, (0.03, 0.06), (2e-5, 4e-5), Seed=9)
    out = octave(
        "[h, p, n] = discplate(1, %r, %r, 96, 80, 1, 0, [], [], 'Coordinates', t, 'Seed', 3, "
        "'Sigma', 0.01);\nf = propagate(h - 1, %r, %r, -0.05);\n"
        "[g, q] = discplate(3, %r, %r, 64, 64, 2, 5, [0.03 0.06], [2e-5 4e-5], 'Seed', 9);\n"
        "out = {h, n, real(f), imag(f), g, q};" % ((LAMBDA, PIX) * 3), {"t": table})
    ours = [plate.hologram, plate.noise, field.real, field.imag, drawn.hologram, drawn.particles]
    for k, (a, b) in enumerate(zip(ours, out)):
        assert np.array_equal(a, b), k
    x, y = np.meshgrid(np.arange(96) - 48 - 10, np.arange(80) - 40 + 20, indexing="ij")
    rho = np.hypot(x, y) * PIX
    assert np.abs(field[rho < 45e-6]).mean() > 0.75
    assert np.abs(field[(rho > 90e-6) & (rho < 200e-6)]).mean() < 0.25
    with pytest.raises(ValueError, match="give one noise"):
        ps.discplate(1, LAMBDA, PIX, 8, 8, 1, 3, (0.05, 0.05), (3e-5, 3e-5), Sigma=0.1)
    # A disc of 2 cm on a 64-pixel sensor would need a padded grid of tens
    # of gigabytes: refused before any is made.
    with pytest.raises(ValueError, match="too large for its pixels"):
        ps.discplate(2, LAMBDA, PIX, 64, 64, 1, 0, (0.02, 0.1), (0.02, 0.1), Seed=1)


def test_no_phantom_rows_beside_real_discs():
    """On the exact hologram of four opaque discs (F 0.04 to 0.13), the
    far-field model's misfit was once taken up by rows of r ~ 1e-13 m with
    standard errors of 1e14, reported as converged: no row may have a radius
    below half the smallest scanned one or a standard error that is not
    finite, and every disc is found."""
    plate = ps.discplate(4, LAMBDA, PIX, 512, 512, 1, 0, (0.03, 0.2), (20e-6, 100e-6), Seed=0,
                         Sigma=0.02)
    radii = [20e-6, 40e-6, 60e-6, 80e-6, 100e-6]
    p, se, info = ps.findparticles(plate.hologram, LAMBDA, PIX, np.arange(0.03, 0.2101, 0.01), radii)
    assert (p[:, 3] >= radii[0] / 2).all() and np.isfinite(se).all()
    for t in plate.particles:
        assert (np.hypot(*(p[:, :2] - t[:2]).T) < 2).any(), t


def test_the_disc_model_measures_real_discs_at_the_bound():
    """Exact holograms of discs (discplate, pixels with area) at Fresnel
    numbers 0.02 to 0.8, fitted from a start a pixel, 1% in depth and 10% in
    radius off: the disc model lands within 4 standard errors of the truth
    in every parameter, while the far-field toolbox model misses the depth
    by many."""
    for z, r in ((0.2, 50e-6), (0.05, 60e-6), (0.02, 100e-6)):
        truth = np.array([[0.3, -0.2, z, r]])
        plate = ps.discplate(1, LAMBDA, PIX, 192, 192, 1, 0, Coordinates=truth, Seed=2, Sigma=0.02)
        start = truth * [1, 1, 1.01, 0.9] + [0.7, -0.6, 0, 0]
        disc = ps.ringfit(plate.hologram, LAMBDA, PIX, start)
        assert disc.converged.all() and (np.abs(disc.p - truth) < 4 * disc.se).all(), (z, r)
        toolbox = ps.ringfit(plate.hologram, LAMBDA, PIX, start, Particle="toolbox")
        assert abs(toolbox.p[0, 2] - z) > 10 * toolbox.se[0, 2], (z, r)


def test_a_start_whose_disc_pattern_cannot_be_computed_is_brought_within():
    """A start far too large for its depth (100 um at 2 mm, a pattern of
    about 190 oscillations over the sensor) once stopped a whole search with
    an error: the fit starts from the largest computable radius instead."""
    plate = ps.discplate(1, LAMBDA, PIX, 256, 256, 1, 0, Coordinates=[[0, 0, 0.03, 60e-6]], Seed=1,
                         Sigma=0.01)
    fit = ps.ringfit(plate.hologram, LAMBDA, PIX, [[0.5, 0.5, 0.002, 100e-6]])
    assert np.isfinite(fit.p).all()


def test_octave_and_python_refuse_the_same_options_in_the_same_words():
    """The core owns the options' rules: both hosts pass the values on."""
    if not MEX_DIR or shutil.which("octave-cli") is None:
        pytest.skip("Octave and the built modules are needed (PARTISCOPE_MEX_DIR)")
    hol, table = plate()
    cases = [("findparticles", "MaxIter", 20000), ("findparticles", "Tolerance", -1),
             ("findparticles", "Threshold", 2), ("findparticles", "MaxCount", 2.5),
             ("findparticles", "Sigma", 0), ("ringfit", "MaxIter", 20000),
             ("ringfit", "Tolerance", -1), ("ringfit", "Sigma", 0)]
    calls = {"findparticles": ("(hol, %r, %r, 0.05, 3e-5" % (LAMBDA, PIX),
                               lambda **kw: ps.findparticles(hol, LAMBDA, PIX, [0.05], [3e-5], **kw)),
             "ringfit": ("(hol, %r, %r, [-20 15 0.04 3e-5]" % (LAMBDA, PIX),
                         lambda **kw: ps.ringfit(hol, LAMBDA, PIX, table[:1], **kw))}
    script = "addpath('%s'); hol = 1 + 0.05 * randn(96, 80);\n" % MEX_DIR
    python = []
    for module, name, value in cases:
        script += ("try, %s%s, '%s', %r); disp('MSG:none'); catch e, disp(['MSG:' e.message]); end\n"
                   % (module, calls[module][0], name, value))
        with pytest.raises(ValueError) as refused:
            calls[module][1](**{name: value})
        python.append(str(refused.value))
    out = subprocess.run(["octave-cli", "--norc", "--quiet", "--eval", script], check=True,
                         capture_output=True, text=True).stdout
    # Octave names the function before the module's message.
    octave_says = [line[4:] for line in out.splitlines() if line.startswith("MSG:")]
    assert octave_says == ["%s: %s" % (c[0], m) for c, m in zip(cases, python)]
    assert python[0] == "Error: MaxIter must be a whole number from 0 to 10000"


def test_every_public_function_documents_every_keyword():
    import inspect
    for name in ps.__all__:
        f = getattr(ps, name)
        for p in inspect.signature(f).parameters.values():
            if p.default is not inspect.Parameter.empty:
                assert p.name in f.__doc__, "%s: %s" % (name, p.name)


def test_beads_found_and_measured_with_their_index(tmp_path):
    """Two beads in water on a Lorenz-Mie hologram: findparticles ('sphere')
    finds both, each within 4 standard errors in every parameter, index
    included; `partiscope find --particle sphere` writes the same rows with
    index columns, which read_table returns; without the medium's index the
    command is refused."""
    import subprocess
    import sys
    medium, lambda_, pix = 1.33, 532e-9 / 1.33, 70e-9
    beads = np.array([[-30.3, 20.6, 14e-6, 0.6e-6, 1.59], [35.2, -25.4, 22e-6, 0.9e-6, 1.45]])
    hol = ps.sphereplate(beads, 200, 200, lambda_, pix, medium, Sigma=0.02, Seed=4).hologram
    depths, radii = np.arange(5e-6, 31e-6, 5e-6), [0.3e-6, 1.5e-6]
    found = ps.findparticles(hol, lambda_, pix, depths, radii, Particle="sphere",
                             MediumIndex=medium)
    assert found.p.shape[0] == 2 and all(found.converged)
    order = np.argsort(found.p[:, 0])
    got = np.column_stack([found.p, found.index])[order]
    se = np.column_stack([found.se, found.index_se])[order]
    assert np.all(np.abs(got - beads) < 4 * se), (got - beads) / se
    # The module's hologram and fit are Python's, bit for bit.
    out = octave("h = sphereplate(b, 200, 200, %r, %r, 'MediumIndex', 1.33, 'Sigma', 0.02, "
                 "'Seed', 4);\n[p, se, info] = ringfit(h, %r, %r, b(1, 1:4), 'Particle', "
                 "'sphere', 'MediumIndex', 1.33, 'Index', 1.55);\nout = {h, p, info.index};"
                 % ((lambda_, pix) * 2), {"b": beads})
    fit = ps.ringfit(hol, lambda_, pix, beads[0, :4], Particle="sphere", MediumIndex=1.33,
                     Index=1.55)
    for k, (a, b) in enumerate(zip([hol, fit.p, fit.index], out)):
        assert np.array_equal(a, np.reshape(b, np.shape(a))), k

    np.save(tmp_path / "beads.npy", hol[None])
    command = [sys.executable, "-m", "partiscope", "find", str(tmp_path / "beads.npy"),
               "--wavelength", str(lambda_), "--pixel", str(pix), "--depths", "5e-6:5e-6:30e-6",
               "--radii", "0.3e-6,1.5e-6", "--particle", "sphere", "--no-progress",
               "--output", str(tmp_path / "beads.csv")]
    refused = subprocess.run(command, capture_output=True, text=True)
    assert refused.returncode == 2 and "--medium-index" in refused.stderr
    subprocess.run(command + ["--medium-index", "1.33"], check=True, capture_output=True)
    table = ps.read_table(str(tmp_path / "beads.csv")).sort_values("x")
    assert np.allclose(table["index"], got[:, 4]) and np.allclose(table["index_se"], se[:, 4])
    assert table.attrs["particle"] == "sphere" and table.attrs["medium_index"] == 1.33


def test_bead_beyond_the_edge_leaves_the_search_whole():
    """A bead far beyond the edge, within a wide margin: its candidate's
    crop must reach into the sensor (a crop of the margin alone has no pixel
    to fit, which once failed the whole search), and the bead inside is
    still measured."""
    medium, lambda_, pix = 1.33, 532e-9 / 1.33, 70e-9
    beads = np.array([[-20.4, 15.1, 15e-6, 0.8e-6, 1.55], [10.2, 182.0, 12e-6, 1.2e-6, 1.5]])
    hol = ps.sphereplate(beads, 200, 200, lambda_, pix, medium, Sigma=0.02, Seed=3).hologram
    found = ps.findparticles(hol, lambda_, pix, np.arange(5e-6, 31e-6, 5e-6), [0.3e-6, 1.5e-6],
                             Particle="sphere", MediumIndex=medium, Margin=100, MaxPasses=2)
    k = int(np.argmin(np.hypot(found.p[:, 0] - beads[0, 0], found.p[:, 1] - beads[0, 1])))
    assert np.all(np.abs(found.p[k] - beads[0, :4]) < 4 * found.se[k]), (found.p[k] - beads[0, :4]) / found.se[k]
