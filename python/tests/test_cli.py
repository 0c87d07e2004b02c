"""partiscope find and plot on a small synthetic recording: the same table
from one worker, two workers and a Dask cluster; resuming after an
interruption; bad frames logged while the run goes on."""
import csv
import os
import signal
import subprocess
import sys
import time

import numpy as np
import pytest

import partiscope as ps

LAMBDA, PIX = 632.8e-9, 6.7e-6
SIZE, PAGES = 192, 6
GRID = ["--wavelength", "632.8e-9", "--pixel", "6.7e-6", "--depths", "0.03:0.01:0.09",
        "--radii", "20e-6:20e-6:60e-6", "--background", "pngs/background.tif",
        "--particle", "toolbox"]  # synthplate's plates are of the toolbox's model


def partiscope(*args, cwd, check=True):
    run = subprocess.run([sys.executable, "-m", "partiscope", *args, "--no-progress"]
                         if args[0] == "find" else [sys.executable, "-m", "partiscope", *args],
                         cwd=cwd, capture_output=True, text=True, timeout=300)
    if check:
        assert run.returncode == 0, run.stderr
    return run


@pytest.fixture(scope="module")
def recording(tmp_path_factory):
    """A 16-bit camera recording under an uneven illumination: a TIFF stack
    of PAGES frames, a folder of PNG frames with a corrupt file and a frame
    of another size and the background frame. Returns the folder and the
    true particle tables by frame name."""
    import tifffile
    from PIL import Image
    root = tmp_path_factory.mktemp("recording")
    x = np.linspace(-1, 1, SIZE)
    light = 2000 * (1 + 0.2 * x[:, None] - 0.1 * x[None, :] ** 2)
    os.mkdir(root / "pngs")  # the background frame among the frames, as users keep it
    tifffile.imwrite(root / "pngs" / "background.tif", np.round(light).astype(np.uint16))
    truth = {}

    def frame(seed):
        # two particles well inside the sensor, 30 pixels apart or more
        rng = np.random.default_rng(seed)
        while True:
            table = np.column_stack([rng.uniform(-45, 45, (2, 2)), rng.uniform(0.04, 0.08, 2),
                                     rng.uniform(30e-6, 50e-6, 2)])
            if np.hypot(*(table[0, :2] - table[1, :2])) > 30:
                break
        plate = ps.synthplate(2, LAMBDA, PIX, SIZE, SIZE, 1, 6, random_coordinates=0,
                              coordinates=table, meanh=1, seed=seed)
        return np.round(light * plate.hologram).astype(np.uint16), table

    with tifffile.TiffWriter(root / "stack.tif") as stack:
        for k in range(PAGES):
            image, truth["stack.tif:%d" % (k + 1)] = frame(k + 1)
            stack.write(image, contiguous=False)
    for k in (1, 2, 10):
        image, truth["pngs/f%d.png" % k] = frame(100 + k)
        Image.fromarray(image).save(root / "pngs" / ("f%d.png" % k))
    (root / "pngs" / "f3.png").write_bytes(b"\x89PNG\r\n\x1a\n cut short")
    Image.fromarray(np.full((SIZE, SIZE + 8), 2000, np.uint16)).save(root / "pngs" / "f4.png")
    return root, truth


def rows(path):
    with open(path, newline="") as f:
        return list(csv.DictReader(f))


def log(path):
    with open(str(path) + ".log", newline="") as f:
        return {r[0]: r[1:] for r in csv.reader(f.read().split("\n")[2:], delimiter="\t") if r}


def test_same_table_from_one_worker_two_workers_and_a_dask_cluster(recording, tmp_path):
    from distributed import LocalCluster
    root, truth = recording
    args = ["find", "stack.tif", "pngs", "stack.tif", *GRID]  # the stack named twice
    one = partiscope(*args, "--output", str(tmp_path / "one.csv"), cwd=root)
    partiscope(*args, "--output", str(tmp_path / "two.csv"), "--workers", "2", cwd=root)
    with LocalCluster(n_workers=2, threads_per_worker=1, processes=True,
                      dashboard_address=None) as cluster:
        partiscope(*args, "--output", str(tmp_path / "dask.csv"), "--scheduler",
                   cluster.scheduler_address, cwd=root)
    for name in ("two.csv", "dask.csv"):
        for suffix in ("", ".log"):
            assert (tmp_path / (name + suffix)).read_bytes() == \
                (tmp_path / ("one.csv" + suffix)).read_bytes(), name + suffix

    # Every particle found where it is, in its frame; the bad frames logged
    # with their reasons, and the run carried on past them.
    table, frames = rows(tmp_path / "one.csv"), log(tmp_path / "one.csv")
    assert list(frames) == ["stack.tif:%d" % (k + 1) for k in range(PAGES)] + \
        ["pngs/f1.png", "pngs/f2.png", "pngs/f3.png", "pngs/f4.png", "pngs/f10.png"]
    assert frames["pngs/f3.png"][0] == "failed" and "cannot read" in frames["pngs/f3.png"][2]
    assert frames["pngs/f4.png"][:1] == ["failed"] and "200" in frames["pngs/f4.png"][2]
    assert "9 frames done (0 already in the table), 18 particles, 2 failed" in one.stdout
    for name, particles in truth.items():
        found = np.array([[float(r[c]) for c in "xyzr"] for r in table if r["frame"] == name])
        assert frames[name] == ["done", str(len(particles)), frames[name][2]]
        for t in particles:
            err = np.abs(found - t).min(axis=0)
            assert err[0] < 0.5 and err[1] < 0.5 and err[2] < 2e-3 and err[3] < 3e-6, name


def test_interrupted_run_resumes_to_the_same_table(recording, tmp_path):
    root, _ = recording
    args = [sys.executable, "-m", "partiscope", "find", "stack.tif", *GRID, "--no-progress"]
    whole = tmp_path / "whole.csv"
    partiscope(*args[3:-1], "--output", str(whole), cwd=root)
    for workers in ("1", "2"):
        out = tmp_path / ("cut%s.csv" % workers)
        run = subprocess.Popen(args + ["--output", str(out), "--workers", workers], cwd=root,
                               stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
                               preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
        while len(log(out) if os.path.exists(str(out) + ".log") else ()) < 2:
            time.sleep(0.02)
        run.send_signal(signal.SIGINT)  # Ctrl-C
        stdout, _ = run.communicate(timeout=120)
        assert run.returncode == 130 and stdout.startswith("interrupted: ")
        # What is on disk is a valid table: each frame listed as done has
        # all its rows.
        done = {f: int(v[1]) for f, v in log(out).items() if v[0] == "done"}
        assert 2 <= len(done) < PAGES
        assert sorted(r["frame"] for r in rows(out)) == sorted(
            f for f, n in done.items() for _ in range(n))
        again = partiscope(*args[3:-1], "--output", str(out), cwd=root)
        assert "(%d already in the table)" % len(done) in again.stdout
        assert out.read_bytes() == whole.read_bytes()


def test_a_run_killed_between_writes_is_repaired(recording, tmp_path):
    """A process killed after writing a frame's rows but before its log
    line, or in the middle of a line: the rerun drops the unlisted rows and
    does that frame again."""
    root, _ = recording
    out = tmp_path / "t.csv"
    args = ("find", "stack.tif", *GRID, "--output", str(out))
    partiscope(*args, cwd=root)
    whole, whole_log = out.read_bytes(), (tmp_path / "t.csv.log").read_bytes()
    lines = whole_log.split(b"\n")
    (tmp_path / "t.csv.log").write_bytes(b"\n".join(lines[:-3]) + b"\n" + lines[-3][:5])
    with open(out, "ab") as f:
        f.write(b"stack.tif:6,1.5,2")
    again = partiscope(*args, cwd=root)
    assert "2 frames done (%d already in the table)" % (PAGES - 2) in again.stdout
    assert out.read_bytes() == whole
    assert (tmp_path / "t.csv.log").read_bytes() == whole_log


def test_hdf5_table_resumes_and_plots(recording, tmp_path):
    import h5py
    root, _ = recording
    csv_out, h5_out = tmp_path / "t.csv", tmp_path / "t.h5"
    partiscope("find", "stack.tif", *GRID, "--output", str(csv_out), cwd=root)
    partiscope("find", "stack.tif", *GRID, "--output", str(h5_out), cwd=root)
    with h5py.File(h5_out, "a") as f:  # killed after the last frame's rows, before its line
        for name in f["frames"]:
            f["frames"][name].resize((PAGES - 1,))
    again = partiscope("find", "stack.tif", *GRID, "--output", str(h5_out), cwd=root)
    assert "1 frames done (%d already" % (PAGES - 1) in again.stdout
    import pandas as pd
    from partiscope import read_table
    from partiscope.table import read_frames
    a, b = read_table(str(csv_out)), read_table(str(h5_out))
    pd.testing.assert_frame_equal(a, b)
    # The tables carry their geometry: x and y turn into metres and pixels.
    assert a.attrs == b.attrs and (a.attrs["frame_rows"], a.attrs["frame_cols"]) == (SIZE, SIZE)
    assert a.attrs["pixel"] == float(GRID[GRID.index("--pixel") + 1])
    assert np.array_equal(a["x_m"], a["x"] * a.attrs["pixel"])
    with h5py.File(h5_out, "r") as f:
        assert f.attrs["frame_rows"] == SIZE and f.attrs["particle"] == a.attrs["particle"]
    assert read_frames(str(h5_out)) == read_frames(str(csv_out)) == [2] * PAGES
    # Tracks from either form: the same rows, with frame indices in the
    # recording's order and the settings carried over.
    for table in (csv_out, h5_out):
        linked = partiscope("track", str(table), "--search-range", "3", "--memory", "1", cwd=root)
        assert "%d rows linked" % (2 * PAGES) in linked.stdout
    tracks = [read_table(str(tmp_path / n)) for n in ("t-tracks.csv", "t-tracks.h5")]
    pd.testing.assert_frame_equal(*tracks)
    # Without its log the frames come in the natural order of their names.
    os.remove(str(csv_out) + ".log")
    partiscope("track", str(csv_out), "--search-range", "3", "--memory", "1", "--output",
               str(tmp_path / "nolog.csv"), cwd=root)
    assert (tmp_path / "nolog.csv").read_bytes() == (tmp_path / "t-tracks.csv").read_bytes()
    assert list(tracks[0]["frame_index"]) == [k // 2 + 1 for k in range(2 * PAGES)]
    assert tracks[0].attrs["frame_rows"] == SIZE
    for table in (csv_out, h5_out):
        shown = partiscope("plot", str(table), "--output", str(table) + ".png", cwd=root)
        assert "%d particles drawn" % (2 * PAGES) in shown.stdout
        assert (tmp_path / (table.name + ".png")).read_bytes()[:8] == b"\x89PNG\r\n\x1a\n"


def test_npy_hdf5_and_video_sources_a_dark_frame_and_a_region(recording, tmp_path):
    """The stack's frames as a .npy stack and an HDF5 dataset give the TIFF
    stack's table; a recording with a dark offset, given --dark, gives the
    table without it; --roi gives the table of the frames cut to the region;
    a lossless grey video gives the table of its frames as a .npy stack."""
    import h5py
    import imageio
    import tifffile
    root, _ = recording
    frames = tifffile.imread(str(root / "stack.tif"), key=range(2))  # two frames do
    tifffile.imwrite(tmp_path / "two.tif", frames)
    background = tifffile.imread(str(root / "pngs" / "background.tif"))
    np.save(tmp_path / "stack.npy", frames)
    with h5py.File(tmp_path / "rec.h5", "w") as f:
        f["rec/frames"] = frames
    dark = np.full(background.shape, 100, np.uint16)
    np.save(tmp_path / "offset.npy", frames + dark)
    tifffile.imwrite(tmp_path / "offset-background.tif", background + dark)
    tifffile.imwrite(tmp_path / "dark.tif", dark)
    rows_, cols_ = slice(20, 180), slice(10, 190)
    np.save(tmp_path / "cut.npy", frames[:, rows_, cols_])
    tifffile.imwrite(tmp_path / "cut-background.tif", background[rows_, cols_])
    grid = GRID[:GRID.index("--background")] + GRID[GRID.index("--background") + 2:]

    def table(name, *more, background="pngs/background.tif"):
        out = tmp_path / (name + ".csv")
        partiscope("find", *more, *grid, "--background", str(background), "--output", str(out),
                   cwd=root)
        return [line.split(",", 1)[1] for line in out.read_text().splitlines()[1:]]
    tiff = table("tiff", str(tmp_path / "two.tif"))
    assert len(tiff) == 4
    assert table("npy", str(tmp_path / "stack.npy")) == tiff
    assert table("h5", str(tmp_path / "rec.h5") + ":/rec/frames") == tiff
    assert table("dark", str(tmp_path / "offset.npy"), "--dark", str(tmp_path / "dark.tif"),
                 background=tmp_path / "offset-background.tif") == tiff
    assert table("roi", str(tmp_path / "two.tif"), "--roi", "21:180,11:190") == table(
        "cut", str(tmp_path / "cut.npy"), background=tmp_path / "cut-background.tif")
    grey = (frames // 16).astype(np.uint8)
    np.save(tmp_path / "grey.npy", grey)
    tifffile.imwrite(tmp_path / "grey-background.tif", (background // 16).astype(np.uint8))
    with imageio.get_writer(str(tmp_path / "grey.avi"), "ffmpeg", fps=10, codec="ffv1",
                            pixelformat="gray", macro_block_size=1) as w:
        for f in grey:
            w.append_data(f)
    assert table("avi", str(tmp_path / "grey.avi"), background=tmp_path / "grey-background.tif") \
        == table("grey", str(tmp_path / "grey.npy"), background=tmp_path / "grey-background.tif")


def test_settings_from_a_file_and_refused_settings(recording, tmp_path):
    root, _ = recording
    (tmp_path / "setup.toml").write_text(
        'wavelength = 632.8e-9\npixel = 6.7e-6\ndepths = "0.03:0.01:0.09"\n'
        'radii = [20e-6, 40e-6, 60e-6]\nbackground = "pngs/background.tif"\n'
        'particle = "toolbox"\n')
    out = tmp_path / "t.csv"
    partiscope("find", "stack.tif", "--config", str(tmp_path / "setup.toml"), "--output",
               str(out), cwd=root)
    again = partiscope("find", "stack.tif", *GRID, "--output", str(out), cwd=root)
    assert "0 frames done (%d already" % PAGES in again.stdout  # the same settings
    refused = [  # (option, value, output, message)
        ("--depths", "0.03:0.02:0.09", out, "made with other settings (depths)"),
        ("--threshold", "5", out, "made with other settings (threshold)"),
        ("--margin", "8", out, "made with other settings (margin)"),
        ("--margin", "97", tmp_path / "new.csv",
         "--margin must be a whole number of pixels from 0 to half the frames' smaller side (96)"),
        ("--depths", "0.09:0.01:0.03", out, "STOP >= START"),
        ("--radii", "2e-5:0:6e-5", out, "positive STEP"),
        ("--radii", "4e-5,2e-5", out, "must be increasing"),
        ("--wavelength", "447", out,  # nanometres meant
         "--wavelength must be a wavelength in metres (1e-8 to 1e-5), got 447"),
        ("--pixel", "0.048", out, "--pixel must be a pixel pitch in metres (1e-8 to 1e-3)"),
        ("--background", "nothere.tif", tmp_path / "new.csv",
         "--background nothere.tif: file not found"),
    ]
    for option, value, output, message in refused:
        args = dict(zip(GRID[::2], GRID[1::2]))
        args[option] = value
        run = partiscope("find", "stack.tif", *(a for kv in args.items() for a in kv),
                         "--output", str(output), cwd=root, check=False)
        assert run.returncode == 2 and message in run.stderr, (option, value, run.stderr)
    run = partiscope("find", "stack.tif", "--pixel", "6.7e-6", cwd=root, check=False)
    assert run.returncode == 2 and "--wavelength is needed" in run.stderr
    (tmp_path / "bad.json").write_text('{"wavelength": 6e-7, "pixels": 6e-6}')
    run = partiscope("find", "stack.tif", "--config", str(tmp_path / "bad.json"), cwd=root,
                     check=False)
    assert run.returncode == 2 and "unknown settings pixels" in run.stderr


def test_help_names_every_option_with_its_unit(recording):
    help_text = partiscope("find", "--help", cwd=recording[0]).stdout
    for option in ("--wavelength METRES", "--pixel METRES", "--depths START:STEP:STOP",
                   "--radii START:STEP:STOP", "--background FILE", "--background-median N",
                   "--output FILE", "--workers N", "--scheduler ADDRESS", "--config FILE",
                   "--threads N", "--threshold SNR", "--saturation VALUE", "--dark FILE",
                   "--roi ROWS,COLS"):
        assert option in help_text, option
    assert "in metres" in help_text and "pixels from the grid centre" in help_text


def test_readme_commands_and_settings_file_are_accepted(tmp_path):
    """The README's command lines and settings file, as written, parse into
    settings (the frames themselves are the user's)."""
    import re
    import shlex
    from partiscope import cli
    readme = open(os.path.join(os.path.dirname(__file__), "..", "..", "README.md"),
                  encoding="utf-8").read()
    section = readme[readme.index("## Processing a recording"):readme.index("## Building")]
    toml = re.search(r"```toml\n(.*?)```", section, re.S).group(1)
    (tmp_path / "setup.toml").write_text("\n".join(l.strip() for l in toml.splitlines()))
    commands = [c.replace("\\\n", " ") for c in re.findall(r"^(partiscope find .*?)(?:  +#.*)?$",
                                                          section.replace("\\\n", " "), re.M)]
    assert len(commands) == 2
    for command in commands:
        args = shlex.split(command.replace("setup.toml", str(tmp_path / "setup.toml")))[2:]
        settings = cli.find_settings(cli._find_parser().parse_args(args))
        assert settings["depths"][0] == 0.04 and settings["depths"][-1] == 0.16
        assert settings["radii"] == [20e-6, 40e-6, 60e-6]


def test_describe_exit_names_the_signal_and_the_last_exception():
    from partiscope.batch import describe_exit
    trace = ["Traceback (most recent call last):\n", '  File "x.py", line 1\n',
             "RuntimeError: \n", "        An attempt has been made\n", "        to start\n"]
    assert describe_exit(1, trace) == ("ended with exit code 1; its last message: "
                                       "RuntimeError: An attempt has been made to start")
    assert describe_exit(-9, []).startswith("was killed by SIGKILL (the system's out-of-memory")


def test_installed_command_with_workers_and_bad_inputs(recording, tmp_path):
    """As a user runs it: the command that tools/install-python writes, from
    another folder, with two workers, a corrupt TIFF, a colour image and an
    empty folder among good frames; then an all-failing run."""
    import tifffile
    from PIL import Image
    root, truth = recording
    repo = os.path.join(os.path.dirname(__file__), "..", "..")
    venv = tmp_path / "venv"
    subprocess.run(["/usr/bin/python3", "-m", "venv", "--system-site-packages", str(venv)],
                   check=True)
    subprocess.run([os.path.join(repo, "tools", "install-python"), "--no-build",
                    str(venv / "bin" / "python")], check=True, capture_output=True)
    bad = tmp_path / "bad"
    os.mkdir(bad)
    os.mkdir(bad / "empty")
    (bad / "cut.tif").write_bytes(b"II*\x00" + b"\xff" * 20)  # no readable page
    Image.fromarray(np.full((SIZE, SIZE, 3), 200, np.uint8)).save(bad / "colour.png")
    env = {k: v for k, v in os.environ.items() if k != "PYTHONPATH"}  # the installed package
    setup = [a if not a.endswith(".tif") else str(root / a) for a in GRID]

    def run(*inputs, out):
        return subprocess.run([str(venv / "bin" / "partiscope"), "find", *inputs, *setup,
                               "--output", str(out), "--workers", "2", "--no-progress"],
                              cwd=tmp_path, env=env, capture_output=True, text=True, timeout=300)

    good = run(str(root / "stack.tif"), str(bad / "cut.tif"), str(bad / "colour.png"),
               str(bad / "empty"), out=tmp_path / "t.csv")
    assert good.returncode == 0, good.stderr
    assert "%d frames done (0 already in the table), %d particles, 3 failed" % (
        PAGES, 2 * PAGES) in good.stdout
    frames = log(tmp_path / "t.csv")
    for name, reason in (("cut.tif", "holds no readable image"), ("colour.png", "colour image"),
                         ("empty", "the folder holds no image files")):
        line = frames[str(bad / name)]
        assert line[0] == "failed" and reason in line[2], line
        assert "%s: failed: " % (bad / name) in good.stderr

    failing = run(str(bad / "colour.png"), str(bad / "cut.tif"), out=tmp_path / "f.csv")
    assert failing.returncode == 1 and "0 frames done" in failing.stdout, failing.stderr

    # A script without a main guard: its spawned workers cannot start. The
    # run says why, fails, and leaves no table behind.
    (tmp_path / "noguard.py").write_text(
        "from partiscope.cli import main\nmain(%r)\n" % (
            ["find", str(root / "stack.tif"), *setup, "--output", str(tmp_path / "n.csv"),
             "--workers", "2", "--no-progress"]))
    noguard = subprocess.run([str(venv / "bin" / "python"), "noguard.py"], cwd=tmp_path, env=env,
                             capture_output=True, text=True, timeout=300)
    assert "a worker process could not start: it ended with exit code 1; its last message: " \
        "RuntimeError: An attempt has been made to start a new process" in noguard.stderr
    assert not os.path.exists(tmp_path / "n.csv") and not os.path.exists(tmp_path / "n.csv.log")


def test_failures_before_the_first_frame_and_a_full_disk(recording, tmp_path):
    """Nothing is left behind by a run that fails before its first frame, a
    table that cannot be written ends the run with the file named, and the
    rerun resumes to the same table."""
    import resource
    root, _ = recording
    out = tmp_path / "t.csv"
    (tmp_path / "cut.png").write_bytes(b"\x89PNG\r\n\x1a\n cut short")
    # One unreadable input without a background: the frame fails and is
    # named; the log it leaves does not block a corrected rerun.
    run = partiscope("find", str(tmp_path / "cut.png"), *GRID[:8], "--output", str(out), cwd=root,
                     check=False)
    assert run.returncode == 1 and "cut.png: failed: cannot read the image" in run.stderr
    assert "background" not in run.stderr
    partiscope("find", "stack.tif", *GRID, "--output", str(out), cwd=root)
    whole = out.read_bytes()
    head = len(b"".join(open(str(out) + ".log", "rb").readlines()[:2]))

    def limited(size):
        def limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (size, size))
        return subprocess.run([sys.executable, "-m", "partiscope", "find", "stack.tif", *GRID,
                               "--output", str(tmp_path / "d.csv"), "--no-progress"], cwd=root,
                              capture_output=True, text=True, timeout=300, preexec_fn=limit)
    for size in (0, head + 150):  # the disk full at once, and after a frame or two
        run = limited(size)
        assert run.returncode == 1 and "Traceback" not in run.stderr, run.stderr
        assert "error: cannot write the table %s (File too large)" % (tmp_path / "d.csv") \
            in run.stderr
        assert os.path.exists(tmp_path / "d.csv") == (size > 0)
    again = partiscope("find", "stack.tif", *GRID, "--output", str(tmp_path / "d.csv"), cwd=root)
    assert "already in the table" in again.stdout
    assert (tmp_path / "d.csv").read_bytes() == whole
