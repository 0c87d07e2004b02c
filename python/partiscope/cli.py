"""The `partiscope` command: `partiscope find` finds and measures the
particles of every frame of a recording; `partiscope plot` draws its table."""

import argparse
import json
import math
import os
import sys

from .settings import FindSettings

FIND_DESCRIPTION = """\
Finds every particle of every frame of a recording and measures it
(findparticles), writing one table row per particle per frame as frames
complete. Each frame is divided by the background (--background, or
--background-median N; without either, by its own mean), scaled to mean 1,
and searched over the grid of depths and radii. Saturated pixels (at the
largest value of the image type, or --saturation) and pixels whose
background is not positive are ignored.

INPUT: image files (TIFF, PNG, PGM, BMP, JPEG), folders of them (their files
in natural order of the names, not subfolders), and multi-page TIFF stacks
(each page a frame). A frame is named by its file as given (a folder's files
as FOLDER/NAME), with :PAGE (from 1) for the pages of a stack.

The table (CSV, or HDF5 for an --output ending in .h5 or .hdf5) has the
columns frame,x,y,z,r,se_x,se_y,se_z,se_r,score,converged,contrast,
zr_correlation: x and y in pixels from the grid centre (x along the image's
rows: row = x + floor(rows/2) + 1), z and r in metres, se_* their standard
errors, score the detection signal-to-noise ratio, converged 1 or 0. Beside a
CSV table, TABLE.log lists each frame processed (done with its particle
count, or failed with the reason). Rerunning the same command skips the
frames already done and retries failed ones; Ctrl-C leaves a valid table.

Settings may also come from --config FILE (JSON, or TOML for any other
suffix), with the long options' names as keys (depths and radii as
"START:STEP:STOP" or lists); the command line overrides the file."""

FIND_EPILOG = """\
examples:
  partiscope find recording/ --wavelength 473.8e-9 --pixel 3.45e-6 \\
      --depths 0.04:0.01:0.16 --radii 20e-6:20e-6:60e-6 --background-median 50
  partiscope find stack.tif --config setup.toml --workers 2 --output run1.csv
  partiscope find recording/ --config setup.toml --scheduler tcp://head:8786

exit status:
  0    the run ended with frames in the table (failed frames, if any, are
       listed with their reasons in the output, the log and the summary)
  1    no frame could be done, a worker process could not start, or the
       table could not be written (the message names the file)
  2    a bad option, setting, input or background, or a table made with
       other settings: nothing computed, no new table left behind
  130  interrupted (Ctrl-C or SIGTERM); rerun the command to resume"""

# Options that change what is computed; a table is resumed only with the same.
_DEFAULTS = {"output": "particles.csv", "workers": 1, "model": "intensity", "particle": "disc",
             "contrast": "1",
             "threshold": 6.5, "min_separation": 8.0, "max_count": 100, "max_passes": 10}


class UsageError(Exception):
    pass


def grid(text, name):
    """START:STEP:STOP (STOP included when the steps reach it, as in
    MATLAB), a comma-separated list, or a list of numbers from a settings
    file, as increasing floats."""
    if isinstance(text, (list, tuple)):
        values = [float(v) for v in text]
    elif isinstance(text, (int, float)):
        values = [float(text)]
    elif ":" in str(text):
        parts = str(text).split(":")
        if len(parts) != 3:
            raise UsageError("--%s must be START:STEP:STOP, got %s" % (name, text))
        start, step, stop = (_number(p, name) for p in parts)
        if not step > 0 or stop < start:
            raise UsageError("--%s needs a positive STEP and STOP >= START, got %s" % (name, text))
        count = math.floor((stop - start) / step * (1 + 1e-12) + 1e-9) + 1
        if count > 10000:
            raise UsageError("--%s has %d values; at most 10000" % (name, count))
        # to 12 digits, as typed: 0.11, not 0.11000000000000001
        values = [float("%.12g" % (start + k * step)) for k in range(count)]
    else:
        values = [_number(p, name) for p in str(text).split(",")]
    if not values or any(b <= a for a, b in zip(values, values[1:])):
        raise UsageError("--%s must be increasing, got %s" % (name, text))
    return values


def _number(text, name):
    try:
        return float(text)
    except ValueError:
        raise UsageError("--%s: %r is not a number" % (name, text))


def _check_margin(options, size):
    """--margin: a whole number of pixels, at most half the frames' smaller
    side (checked before any frame is searched, not frame by frame)."""
    if options.get("margin") is None:
        return
    margin = _number(options["margin"], "margin")
    most = None if size is None else min(size) // 2
    if not (margin >= 0 and margin == int(margin)) or (most is not None and margin > most):
        raise UsageError("--margin must be a whole number of pixels from 0 to half the frames' "
                         "smaller side%s, got %g" % ("" if most is None else " (%d)" % most, margin))
    options["margin"] = int(margin)


def _find_parser():
    p = argparse.ArgumentParser(
        prog="partiscope find", description=FIND_DESCRIPTION, epilog=FIND_EPILOG,
        formatter_class=argparse.RawDescriptionHelpFormatter, argument_default=None)
    p.add_argument("inputs", nargs="+", metavar="INPUT",
                   help="image files, folders of images, multi-page TIFF stacks")
    a = p.add_argument_group("the setup (lengths in metres)")
    a.add_argument("--wavelength", type=float, metavar="METRES",
                   help="wavelength in the medium the light crosses (the vacuum wavelength over "
                        "the medium's refractive index)")
    a.add_argument("--pixel", type=float, metavar="METRES",
                   help="pixel pitch in the object's plane (the camera's pitch over the "
                        "magnification of any optics in front of it)")
    a.add_argument("--depths", metavar="START:STEP:STOP",
                   help="depths (particle-to-sensor distances, metres) to scan, increasing; "
                        "steps of about 10%% of the depth, a step beyond each end of the volume; "
                        "or a comma-separated list")
    a.add_argument("--radii", metavar="START:STEP:STOP",
                   help="particle radii (metres) to scan, increasing; three or four values over "
                        "the expected range; or a comma-separated list")
    b = p.add_mutually_exclusive_group()
    b.add_argument("--background", metavar="FILE",
                   help="background image each frame is divided by (a recording without "
                        "particles; the mean of its pages for a TIFF stack)")
    b.add_argument("--background-median", type=int, metavar="N",
                   help="divide by the pixelwise median of the recording's first N frames (the "
                        "still background of moving particles; holds N frames in memory)")
    p.add_argument("--dark", metavar="FILE",
                   help="dark frame (recorded without light; the mean of its pages for a TIFF "
                        "stack), subtracted from every frame and from the background before "
                        "the division")
    p.add_argument("--roi", metavar="ROWS,COLS",
                   help="region of interest FIRST:LAST,FIRST:LAST (rows, then columns, from 1, "
                        "inclusive); x and y are then from its centre")
    s = p.add_argument_group("the search (as findparticles' options)")
    s.add_argument("--threshold", type=float, metavar="SNR",
                   help="least detection signal-to-noise ratio of a particle, at least 3 "
                        "(default 6.5: about one false particle in a thousand 1024x1024 frames)")
    s.add_argument("--model", choices=("intensity", "linear"),
                   help="hologram model (default intensity)")
    s.add_argument("--particle", choices=("disc", "toolbox", "sphere"),
                   help="the particle's diffraction: disc (default), the exact pattern of an "
                        "opaque disc at any Fresnel number r^2/(lambda z); toolbox, the far-field "
                        "model of synthplate's simulated plates (Fresnel numbers well below "
                        "0.01); sphere, beads under a microscope (Lorenz-Mie, index fitted: "
                        "--wavelength in the medium, --pixel in the sample plane, depths the "
                        "heights above the focal plane; the table adds index and index_se)")
    s.add_argument("--medium-index", type=float, metavar="N",
                   help="the medium's refractive index (required for --particle sphere)")
    s.add_argument("--index", type=float, metavar="N",
                   help="the middle of the spheres' index scan, 0.15 either side (default 1.5)")
    s.add_argument("--polarization", type=float, metavar="RADIANS",
                   help="the illumination's polarization angle from the rows' axis (default 0)")
    s.add_argument("--contrast", metavar="C|free",
                   help="every particle's contrast (default 1, an opaque disc), or 'free' for "
                        "particles that are not opaque")
    s.add_argument("--min-separation", type=float, metavar="PIXELS",
                   help="least distance of candidates of one scan (default 8)")
    s.add_argument("--max-count", type=int, metavar="N",
                   help="most particles a frame, at most 200 (default 100)")
    s.add_argument("--max-passes", type=int, metavar="N",
                   help="most scans of a frame's residual (default 10)")
    s.add_argument("--margin", type=int, metavar="PIXELS",
                   help="pixels searched beyond each edge of the frame, at most half its smaller "
                        "side (default a quarter of it, 0 for spheres; 0: the frame only): particles outside are "
                        "found by the part of their fringes on the sensor, x or y beyond the "
                        "frame's half size")
    s.add_argument("--saturation", type=float, metavar="VALUE",
                   help="pixels at or above this value are ignored (default: the largest value "
                        "of an integer image type, e.g. 4095 must be given for 12-bit data "
                        "stored in 16 bits)")
    o = p.add_argument_group("output and computing")
    o.add_argument("--output", metavar="FILE",
                   help="the table: CSV, or HDF5 if it ends in .h5 or .hdf5 (default "
                        "particles.csv); resumed if it exists")
    o.add_argument("--overwrite", action="store_true", default=None,
                   help="start the table again instead of resuming it")
    o.add_argument("--workers", type=int, metavar="N",
                   help="local worker processes (default 1: frames computed in this process)")
    o.add_argument("--scheduler", metavar="ADDRESS",
                   help="a Dask scheduler (e.g. tcp://head:8786) whose workers compute the "
                        "frames; they need partiscope installed and the input files at the "
                        "same paths")
    o.add_argument("--threads", type=int, metavar="N",
                   help="threads a frame is computed with (default: every core for one local "
                        "worker, the cores shared among local workers, 1 on a cluster)")
    o.add_argument("--no-progress", action="store_true", default=None,
                   help="no progress bar (the summary line is still printed)")
    o.add_argument("--config", metavar="FILE",
                   help="settings file (JSON, or TOML), long option names as keys")
    return p


def _read_config(path):
    try:
        with open(path, "rb") as f:
            data = f.read()
        if path.lower().endswith(".json"):
            config = json.loads(data.decode("utf-8"))
        else:
            import tomllib
            config = tomllib.loads(data.decode("utf-8"))
    except (OSError, ValueError) as e:
        raise UsageError("--config %s: %s" % (path, e))
    if not isinstance(config, dict):
        raise UsageError("--config %s: settings must be a table of names and values" % path)
    return {k.replace("-", "_"): v for k, v in config.items()}


def find_settings(args):
    """The run's options: the command line over the settings file over the
    defaults; checked, with the grids expanded."""
    options = dict(_DEFAULTS)
    if args.config:
        config = _read_config(args.config)
        known = set(vars(args)) - {"inputs", "config"}
        unknown = sorted(set(config) - known)
        if unknown:
            raise UsageError("--config %s: unknown settings %s (known: %s)"
                             % (args.config, ", ".join(unknown), ", ".join(sorted(known))))
        options.update(config)
    options.update({k: v for k, v in vars(args).items() if v is not None})
    for name in ("wavelength", "pixel", "depths", "radii"):
        if options.get(name) is None:
            raise UsageError("--%s is needed (on the command line or in --config)" % name)
    if options.get("background") and options.get("background_median"):
        raise UsageError("give --background or --background-median, not both")
    # The ranges the measuring functions take: a length given in nm or um by
    # mistake is refused, not measured into nonsense.
    for name, what, low, high in (("wavelength", "a wavelength", "1e-8", "1e-5"),
                                  ("pixel", "a pixel pitch", "1e-8", "1e-3")):
        options[name] = _number(options[name], name)
        if not float(low) <= options[name] <= float(high):
            raise UsageError("--%s must be %s in metres (%s to %s), got %g"
                             % (name, what, low, high, options[name]))
    options["depths"] = grid(options["depths"], "depths")
    options["radii"] = grid(options["radii"], "radii")
    contrast = str(options["contrast"]).lower()
    options["contrast"] = "free" if contrast == "free" else _number(contrast, "contrast")
    if options["particle"] == "sphere":
        if options.get("medium_index") is None:
            raise UsageError("--particle sphere needs --medium-index, the medium's refractive index")
        for name in ("medium_index", "index", "polarization"):
            if options.get(name) is not None:
                options[name] = _number(options[name], name)
    else:
        # The other kinds have no optics: a table records none.
        for name in ("medium_index", "index", "polarization"):
            options[name] = None
    for name in ("workers", "background_median", "threads"):
        if options.get(name) is not None and int(options[name]) < (0 if name == "threads" else 1):
            raise UsageError("--%s must be at least %d" % (name.replace("_", "-"),
                                                          0 if name == "threads" else 1))
    for name in ("background", "dark"):
        if options.get(name):
            options[name + "_given"] = options[name]
            options[name] = os.path.abspath(options[name])
    return options


# Exit statuses of `partiscope find`.
EXIT_DONE, EXIT_FAILED, EXIT_USAGE, EXIT_INTERRUPTED = 0, 1, 2, 130


def _error(text):
    print("partiscope find: error: %s" % text, file=sys.stderr)


def find(argv):
    from . import batch
    from .table import TableError, open_table

    args = _find_parser().parse_args(argv)
    try:
        options = find_settings(args)
        frames = _frames(args.inputs, options)
        background, shape = _background(frames, options)
        correction = _correction(background, shape, options)
        # The frames' size (the region's) goes into the table: x and y
        # (pixels from its centre) turn back into rows and columns with it.
        size = None if shape is None else tuple(
            len(range(*s.indices(n))) for s, n in zip(correction.roi, shape))
        options["frame_rows"], options["frame_cols"] = size if size is not None else (None, None)
        _check_margin(options, size)
        settings = FindSettings.of(options)
        table = open_table(options["output"], settings, bool(options.get("overwrite")))
    except UsageError as e:
        _error(e)
        return EXIT_USAGE
    except TableError as e:
        _error(e)
        return EXIT_FAILED if "cannot write" in str(e) else EXIT_USAGE
    except KeyboardInterrupt:
        print("partiscope find: interrupted before the first frame", file=sys.stderr)
        return EXIT_INTERRUPTED

    workers = int(options["workers"])
    threads = options.get("threads")
    if threads is None:
        threads = batch.default_threads(workers, options.get("scheduler"))
    job = (settings, correction, shape, int(threads))
    try:
        summary = batch.run(frames, table, job, workers, options.get("scheduler"),
                            progress=not options.get("no_progress"))
    except (TableError, batch.WorkerError) as e:
        _error(e)
        return EXIT_FAILED
    except (OSError, TimeoutError) as e:
        if not options.get("scheduler"):
            raise
        _error("--scheduler %s: cannot reach the scheduler (%s)" % (options.get("scheduler"), e))
        return EXIT_USAGE
    print(summary.line(options["output"]))
    if summary.interrupted:
        return EXIT_INTERRUPTED
    # Failed frames are listed in the log; the run failed when none is done.
    return EXIT_FAILED if summary.frames + summary.skipped == 0 else EXIT_DONE


def _frames(inputs, options):
    """The recording's frames; the background file is not one of them
    (it often sits in the recording's folder)."""
    from .recording import list_frames
    try:
        frames = [f for f in list_frames(inputs) if f.path != options.get("background")]
    except FileNotFoundError as e:
        raise UsageError("INPUT: %s" % e)
    if not any(f.problem is None for f in frames):
        raise UsageError("no image among the inputs (%s)%s" % (
            " ".join(inputs), "".join("; %s: %s" % (f.id, f.problem) for f in frames[:3])))
    return frames


def _correction(background, shape, options):
    """The dark frame and the region of interest, checked against the
    recording's frames, with the background."""
    from .recording import Correction, FrameError, background_image, parse_roi
    dark = roi = None
    if options.get("dark"):
        try:
            dark = background_image(options["dark"], options.get("saturation"))
        except FrameError as e:
            raise UsageError("--dark %s: %s" % (options["dark_given"], e))
        if shape is not None and dark.shape != shape:
            raise UsageError("--dark %s: the image is %dx%d, the recording's frames %dx%d"
                             % ((options["dark_given"],) + dark.shape + shape))
    if options.get("roi"):
        if shape is None:
            raise UsageError("--roi %s: no frame of the recording can be read" % options["roi"])
        try:
            roi = parse_roi(options["roi"], shape)
        except ValueError as e:
            raise UsageError(e)
    return Correction(background, dark, roi)


def _background(frames, options):
    """The background the frames are divided by (None: each frame by its own
    mean) and the frames' size (None when no frame can be read: each then
    fails with its own reason)."""
    from .recording import FrameError, background_image, median_background, read_frame
    saturation = options.get("saturation")
    if options.get("background"):
        try:
            background = background_image(options["background"], saturation)
        except FrameError as e:
            raise UsageError("--background %s: %s" % (options["background_given"], e))
        return background, background.shape
    shape = None
    for frame in frames:  # the recording's size: that of its first readable frame
        if frame.problem is None:
            try:
                shape = read_frame(frame).shape
                break
            except FrameError:
                continue
    count = options.get("background_median")
    if not count:
        return None, shape
    if shape is None:
        raise UsageError("--background-median %d: no frame of the recording can be read"
                         % count)
    background, used = median_background(frames, count, shape, saturation)
    if used < count:
        print("partiscope find: the median background is of %d readable frames, not %d"
              % (used, count), file=sys.stderr)
    return background, shape


def plot(argv):
    p = argparse.ArgumentParser(
        prog="partiscope plot",
        description="Draws a particle table of partiscope find (CSV or HDF5) to a PNG: the "
                    "particles' positions in x and y coloured by depth, histograms of depth and "
                    "radius, and the particles a frame.")
    p.add_argument("table", metavar="TABLE")
    p.add_argument("--output", metavar="PNG", help="the figure (default TABLE with .png)")
    args = p.parse_args(argv)
    from .plot import plot_table
    from .table import TableError
    output = args.output or os.path.splitext(args.table)[0] + ".png"
    try:
        n = plot_table(args.table, output)
    except (TableError, OSError) as e:
        print("partiscope plot: error: %s" % e, file=sys.stderr)
        return 2
    print("%d particles drawn to %s" % (n, output))
    return 0


TRACK_DESCRIPTION = """\
Links the particles of consecutive frames of a table of partiscope find (CSV
with its log, or HDF5) into trajectories: each frame's particles are matched
to the open tracks by a globally optimal assignment of the pairs within the
search ranges, at costs in units of the rows' standard errors. Writes the
table's rows of the kept tracks with frame_index (the frame's place in the
recording, from 1, frames without particles and failed frames counted) and
particle (the trajectory's number), CSV or HDF5 like find's, as it goes:
only the open tracks and a few recent frames are held."""


def track(argv):
    p = argparse.ArgumentParser(prog="partiscope track", description=TRACK_DESCRIPTION)
    p.add_argument("table", metavar="TABLE")
    p.add_argument("--output", metavar="FILE",
                   help="the tracks (default TABLE-tracks with TABLE's suffix)")
    p.add_argument("--search-range", type=float, default=5.0, metavar="PX",
                   help="largest step in x and y between linked rows, pixels (default 5)")
    p.add_argument("--depth-range", type=float, metavar="M",
                   help="largest step in z, metres (default: z does not limit a link)")
    p.add_argument("--memory", type=int, default=0, metavar="N",
                   help="missed frames a track may bridge (default 0)")
    p.add_argument("--min-length", type=int, default=1, metavar="N",
                   help="fewest rows a kept track has (default 1)")
    p.add_argument("--predict", choices=["velocity"],
                   help="extrapolate each track's next position from its last two (flows)")
    args = p.parse_args(argv)
    from .tracking import Linker, TrackError, track_file
    stem, suffix = os.path.splitext(args.table)
    output = args.output or stem + "-tracks" + suffix
    options = {"search_range": args.search_range, "depth_range": args.depth_range,
               "memory": args.memory, "min_length": args.min_length, "predict": args.predict}
    try:
        linker = Linker(**options)
        read, written = track_file(args.table, output, linker, options)
    except TrackError as e:
        print("partiscope track: error: %s" % e, file=sys.stderr)
        return 2
    print("%d rows linked into %d trajectories; %d rows in %s"
          % (read, linker.trajectories, written, output))
    return 0


USAGE = """usage: partiscope {find,plot,track} ...
  find   find and measure the particles of every frame of a recording
  plot   draw a particle table (or a table of tracks) to a PNG
  track  link a table's particles into trajectories
partiscope COMMAND --help for its options; partiscope --version"""


def main(argv=None):
    argv = sys.argv[1:] if argv is None else list(argv)
    commands = {"find": find, "plot": plot, "track": track}
    if argv[:1] == ["--version"]:
        from importlib.metadata import PackageNotFoundError, version
        try:
            print("partiscope %s" % version("partiscope"))
        except PackageNotFoundError:  # run from a build tree, not installed
            from . import __version__
            print("partiscope %s" % __version__)
        return 0
    if argv[:1] in (["-h"], ["--help"]):
        print(USAGE)
        return 0
    if not argv or argv[0] not in commands:
        print(USAGE, file=sys.stderr)
        return 2
    return commands[argv[0]](argv[1:])
