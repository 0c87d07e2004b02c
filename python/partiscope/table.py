"""The particle table of a recording, written as frames complete and resumed
by a rerun.

CSV (the default): the table, one row per particle, and beside it
TABLE.log, one line per frame processed (done with its particle count, or
failed with the reason), headed by the settings of the run. A frame's rows
are written before its log line, so after an interruption at any point the
rows of a frame without a log line are the only ones that can be
incomplete; a rerun removes them and does the frame again.

HDF5 (a file ending in .h5 or .hdf5, with h5py): the same two tables as the
groups /particles and /frames, one dataset a column, the settings in the
file's attribute "settings".

The settings (JSON, on the log's first line after "# partiscope find
settings: ", or the HDF5 attribute) hold the geometry too: frame_rows and
frame_cols (the frames' size), pixel (the pitch) and wavelength in metres,
particle and model; the HDF5 file also has one attribute each. A row's x and
y are pixels from the frame's centre: image row x + floor(frame_rows/2) + 1
and column y + floor(frame_cols/2) + 1 (1-based), x * pixel metres.
"""

import csv
import io
import json
import os

import numpy as np

COLUMNS = ("frame", "x", "y", "z", "r", "se_x", "se_y", "se_z", "se_r", "score", "converged",
           "contrast", "zr_correlation")
# A table of spheres adds each one's refractive index.
SPHERE_COLUMNS = ("index", "index_se")
LOG_COLUMNS = ("frame", "status", "particles", "detail")
# What turns a row's x and y (pixels from the frame's centre, row
# floor(rows/2)) into positions: recorded with the settings.
GEOMETRY = ("frame_rows", "frame_cols", "pixel", "wavelength", "particle", "model")
_SETTINGS_MARK = "# partiscope find settings: "


class TableError(Exception):
    """An output that cannot be resumed or written."""


def _mismatch(path, old, new):
    keys = sorted(k for k in set(old) | set(new) if old.get(k) != new.get(k))
    return TableError("%s was made with other settings (%s); rerun with those, or give another "
                      "--output, or --overwrite to start again" % (path, ", ".join(keys)))


def table_columns(settings):
    """The particle columns of a run's table (settings as a dict)."""
    return COLUMNS + (SPHERE_COLUMNS if settings.get("particle") == "sphere" else ())


def _particle_rows(frame_id, result):
    """The table's rows of a frame: one list of values a particle."""
    p, se = result.p, result.se
    spheres = result.index is not None and len(result.index) == p.shape[0] > 0
    return [[frame_id] + [float(v) for v in p[k]] + [float(v) for v in se[k]] +
            [float(result.score[k]), int(bool(result.converged[k])),
             float(result.contrast[k]), float(result.zr_correlation[k])] +
            ([float(result.index[k]), float(result.index_se[k])] if spheres else [])
            for k in range(p.shape[0])]


def open_table(path, settings, overwrite=False):
    """The table to write to: a new one, or the one at `path` resumed (its
    `done` holds the frames already in it). Its settings (a FindSettings)
    must be the same."""
    settings = settings.as_dict()
    if path.lower().endswith((".h5", ".hdf5")):
        return Hdf5Table(path, settings, overwrite)
    return CsvTable(path, settings, overwrite)


def _write_error(path, e):
    return TableError("cannot write the table %s (%s)" % (path, e.strerror or e))


class CsvTable:
    def __init__(self, path, settings, overwrite=False):
        self.path, self.log_path = path, path + ".log"
        self.columns = table_columns(settings)
        self.done, self.added, self.rows, self.log = {}, False, None, None
        if overwrite or self._blank():
            self._remove()
        self.new = not (os.path.exists(self.path) or os.path.exists(self.log_path))
        if not self.new:
            self._resume(settings)
        try:
            if self.new:
                self.rows = open(self.path, "w", newline="", encoding="utf-8")
                self.log = open(self.log_path, "w", newline="", encoding="utf-8")
                self._write(self.rows, [self.columns])
                self._write(self.log, [], first=_SETTINGS_MARK + json.dumps(settings,
                                                                             sort_keys=True))
                self._write(self.log, [LOG_COLUMNS], delimiter="\t")
            else:
                self.rows = open(self.path, "a", newline="", encoding="utf-8")
                self.log = open(self.log_path, "a", newline="", encoding="utf-8")
        except OSError as e:
            self.close()
            raise _write_error(e.filename or self.path, e)

    def _blank(self):
        """Whether the table and its log hold no row and no frame done: what
        a run leaves that failed or was stopped before its first frame (an
        empty or header-only table, a log of settings and failures). There is
        nothing to resume, so it counts as new whatever its settings."""
        contents = []
        for p in (self.path, self.log_path):
            if os.path.exists(p):
                if os.path.getsize(p) > 1 << 20:
                    return False
                with open(p, "rb") as f:
                    contents.append(f.read())
            else:
                contents.append(b"")
        table, log = contents
        if not (",".join(self.columns) + "\n").encode().startswith(table):
            return False
        lines = log.split(b"\n")
        mark = _SETTINGS_MARK.encode()
        if not (lines[0].startswith(mark) or mark.startswith(lines[0])):
            return False
        text = [line.decode("utf-8", "replace") for line in lines[2:]]
        return not any(len(r) > 1 and r[1] == "done" for r in csv.reader(text, delimiter="\t"))

    def _remove(self):
        for p in (self.path, self.log_path):
            if os.path.exists(p):
                os.remove(p)

    @staticmethod
    def _write(f, rows, delimiter=",", first=None):
        buf = io.StringIO()
        if first is not None:
            buf.write(first + "\n")
        csv.writer(buf, delimiter=delimiter, lineterminator="\n").writerows(rows)
        f.write(buf.getvalue())  # a frame's lines in one write
        f.flush()

    @staticmethod
    def _complete_lines(path):
        """The file's complete lines and the byte offset after each; a last
        line without its newline was cut by an interruption."""
        with open(path, "rb") as f:
            data = f.read()
        lines, ends, start = [], [], 0
        while True:
            stop = data.find(b"\n", start)
            if stop < 0:
                return lines, ends
            lines.append(data[start:stop].decode("utf-8"))
            ends.append(stop + 1)
            start = stop + 1

    def _resume(self, settings):
        if not (os.path.exists(self.path) and os.path.exists(self.log_path)):
            missing = self.log_path if os.path.exists(self.path) else self.path
            raise TableError("%s is missing, so the table cannot be resumed; give another "
                             "--output, or --overwrite to start again" % missing)
        lines, ends = self._complete_lines(self.log_path)
        if len(lines) < 2 or not lines[0].startswith(_SETTINGS_MARK):
            raise TableError("%s is not a partiscope log; give another --output" % self.log_path)
        old = json.loads(lines[0][len(_SETTINGS_MARK):])
        if old != settings:
            raise _mismatch(self.path, old, settings)
        for row in csv.reader(lines[2:], delimiter="\t"):
            if len(row) == 4 and row[1] == "done":
                self.done[row[0]] = int(row[2])
        self._truncate(self.log_path, ends[-1])

        lines, ends = self._complete_lines(self.path)
        if not lines or next(csv.reader(lines[:1])) != list(self.columns):
            raise TableError("%s is not a partiscope table; give another --output" % self.path)
        seen, keep = {}, ends[0]
        for row, end in zip(csv.reader(lines[1:]), ends[1:]):
            frame = row[0] if row else None
            if seen.get(frame, 0) >= self.done.get(frame, 0):
                break  # rows of a frame not logged as done: it is done again
            seen[frame] = seen[frame] + 1 if frame in seen else 1
            keep = end
        short = [f for f, n in self.done.items() if seen.get(f, 0) != n]
        if short:
            raise TableError("%s lacks rows of %d frames its log lists as done (%s, ...); give "
                             "another --output, or --overwrite to start again"
                             % (self.path, len(short), short[0]))
        self._truncate(self.path, keep)

    @staticmethod
    def _truncate(path, size):
        if os.path.getsize(path) != size:
            with open(path, "r+b") as f:
                f.truncate(size)

    def add(self, frame_id, result):
        """A frame's outcome: its particles, or its failure and reason. A
        write that fails (a full disk) raises TableError; a rerun repairs
        what it cut short."""
        try:
            if result.done:
                rows = _particle_rows(frame_id, result)
                if rows:
                    self._write(self.rows, rows)
                self._write(self.log, [(frame_id, "done", len(rows), result.message)], "\t")
                self.done[frame_id] = len(rows)
            else:
                self._write(self.log, [(frame_id, "failed", 0, result.reason)], "\t")
        except OSError as e:
            raise _write_error(self.path, e)
        self.added = True

    def close(self):
        """Closes the files; a new table that never got a frame is removed,
        so a run that failed before its first frame leaves nothing behind."""
        for f in (self.rows, self.log):
            if f is not None:
                try:
                    f.close()
                except OSError:  # its write already failed and was reported
                    pass
        self.rows = self.log = None
        if self.new and not self.added:
            self._remove()


class Hdf5Table:
    def __init__(self, path, settings, overwrite=False):
        try:
            import h5py
        except ImportError:
            raise TableError("HDF5 output needs h5py (Debian's python3-h5py); or write CSV")
        self.path, self.done, self.added, self.file = path, {}, False, None
        self.columns = table_columns(settings)
        # An empty file (a run stopped as it created the table) is new.
        exists = os.path.exists(path) and os.path.getsize(path) > 0 and not overwrite
        try:
            self.file = h5py.File(path, "a" if exists else "w")
        except OSError as e:
            if not exists:
                raise _write_error(path, e)
            raise TableError("%s cannot be opened as HDF5 (%s); give another --output" % (path, e))
        if exists and self._blank():
            self.file.close()
            self.file, exists = h5py.File(path, "w"), False
        self.new = not exists
        if exists:
            self._resume(settings)
            return
        text = h5py.string_dtype()
        try:
            self.file.attrs["settings"] = json.dumps(settings, sort_keys=True)
            for name in GEOMETRY:  # also one attribute each, for HDF5 viewers
                if settings.get(name) is not None:
                    self.file.attrs[name] = settings[name]
            for group, names in (("particles", self.columns), ("frames", LOG_COLUMNS)):
                g = self.file.create_group(group)
                for name in names:
                    kind = text if name in ("frame", "status", "detail") else (
                        "i8" if name in ("converged", "particles") else "f8")
                    g.create_dataset(name, (0,), dtype=kind, maxshape=(None,), chunks=(1024,))
            self.file.flush()
        except OSError as e:
            self.close()
            raise _write_error(path, e)

    def _blank(self):
        """An HDF5 table without a frame done, or a file with nothing in it:
        left by a run that failed before its first frame; it counts as new."""
        f = self.file
        if not f.keys() and not f.attrs.keys():
            return True
        if "frames" not in f or "particles" not in f or "status" not in f["frames"]:
            return False
        return (all(s != "done" for s in f["frames"]["status"].asstr()[:]) and
                all(f["particles"][c].shape[0] == 0 for c in f["particles"]))

    def _resume(self, settings):
        f = self.file
        if "settings" not in f.attrs or "particles" not in f or "frames" not in f:
            f.close()
            raise TableError("%s is not a partiscope table; give another --output" % self.path)
        old = json.loads(f.attrs["settings"])
        if old != settings:
            f.close()
            raise _mismatch(self.path, old, settings)
        frames = f["frames"]
        n = min(frames[c].shape[0] for c in LOG_COLUMNS)
        for c in LOG_COLUMNS:
            frames[c].resize((n,))  # a frame line cut short by an interruption
        ids = frames["frame"].asstr()[:]
        for frame, status, count in zip(ids, frames["status"].asstr()[:], frames["particles"][:]):
            if status == "done":
                self.done[frame] = int(count)
        total = sum(self.done.values())
        rows = min(f["particles"][c].shape[0] for c in self.columns)
        if rows < total:
            f.close()
            raise TableError("%s lacks rows of frames it lists as done; give another --output, "
                             "or --overwrite to start again" % self.path)
        for c in self.columns:
            f["particles"][c].resize((total,))  # rows of a frame not listed as done

    @staticmethod
    def _append(group, columns, rows):
        for k, name in enumerate(columns):
            d = group[name]
            n = d.shape[0]
            d.resize((n + len(rows),))
            d[n:] = np.array([row[k] for row in rows], dtype=object if d.dtype.kind == "O"
                             else d.dtype)

    def add(self, frame_id, result):
        try:
            if result.done:
                rows = _particle_rows(frame_id, result)
                if rows:
                    self._append(self.file["particles"], self.columns, rows)
                line = (frame_id, "done", len(rows), result.message)
                self.done[frame_id] = len(rows)
            else:
                line = (frame_id, "failed", 0, result.reason)
            self._append(self.file["frames"], LOG_COLUMNS, [line])
            self.file.flush()
        except OSError as e:
            raise _write_error(self.path, e)
        self.added = True

    def close(self):
        if self.file is not None:
            try:
                self.file.close()
            except OSError:  # its write already failed and was reported
                pass
            self.file = None
        if self.new and not self.added and os.path.exists(self.path):
            os.remove(self.path)


def read_table(path):
    """A particle table (CSV or HDF5) as a pandas DataFrame: one row a
    particle, with x_m and y_m (metres from the frame's centre) beside x and
    y when the pitch is known; the run's settings (frame_rows, frame_cols,
    pixel, wavelength, particle, model, depths, ...) in .attrs."""
    try:
        columns, settings = _read_table(path)
    except (ValueError, KeyError, IndexError) as e:  # not ours, or edited by hand
        raise TableError("%s is not a partiscope table (%s)" % (path, e))
    import pandas as pd
    t = pd.DataFrame(columns)
    if settings.get("pixel"):
        for k, c in enumerate(("x", "y")):
            t.insert(3 + k, c + "_m", t[c] * float(settings["pixel"]))
    t.attrs.update(settings)
    log = _frame_log(path)
    if log:  # the recording's order, frames without particles included
        t.attrs["frames"] = [name for name, _, _ in log]
    return t


def _read_table(path):
    if path.lower().endswith((".h5", ".hdf5")):
        import h5py
        with h5py.File(path, "r") as f:
            g = f["particles"]
            columns = {c: (list(g[c].asstr()[:]) if c == "frame" else g[c][:].astype(float))
                       for c in COLUMNS + SPHERE_COLUMNS if c in g}
            columns.update({c: g[c][:] for c in ("frame_index", "particle") if c in g})
            return columns, json.loads(f.attrs.get("settings", "{}"))
    with open(path, newline="", encoding="utf-8") as f:
        reader = csv.reader(f)
        header = next(reader, None)
        if header is None or header[:len(COLUMNS)] != list(COLUMNS):
            raise TableError("%s is not a partiscope table" % path)
        rows = list(reader)
    # A table of tracks adds its columns after the table's.
    extra = {c: np.array([int(r[k]) for r in rows], dtype=np.int64)
             for k, c in enumerate(header) if c in ("frame_index", "particle")}
    extra.update({c: np.array([float(r[k]) for r in rows], dtype=float).reshape(-1)
                  for k, c in enumerate(header) if c in SPHERE_COLUMNS})
    settings = {}
    if os.path.exists(path + ".log"):
        with open(path + ".log", encoding="utf-8") as f:
            first = f.readline()
        if first.startswith(_SETTINGS_MARK):
            settings = json.loads(first[len(_SETTINGS_MARK):])
    columns = {c: ([r[k] for r in rows] if c == "frame" else
                   np.array([float(r[k]) for r in rows], dtype=float).reshape(-1))
               for k, c in enumerate(COLUMNS)}
    columns.update(extra)
    return columns, settings


def _frame_log(path):
    """The frames the run processed, in the recording's order, as (frame,
    done, particles) from the CSV table's log or the HDF5 table's /frames;
    None when there is no such list."""
    if path.lower().endswith((".h5", ".hdf5")):
        import h5py
        with h5py.File(path, "r") as f:
            if "frames" not in f:
                return None
            g = f["frames"]
            return [(name, s == "done", int(n)) for name, s, n in
                    zip(g["frame"].asstr()[:], g["status"].asstr()[:], g["particles"][:])]
    if not os.path.exists(path + ".log"):
        return None
    with open(path + ".log", newline="", encoding="utf-8") as f:
        lines = f.read().split("\n")[2:]
    return [(row[0], row[1] == "done", int(row[2])) for row in csv.reader(lines, delimiter="\t")
            if len(row) == 4]


def read_frames(path):
    """The particle counts of the frames done, in the table's order: from
    the CSV table's log (or the HDF5 table's /frames); from the table's own
    rows when there is no log, which misses frames without particles."""
    log = _frame_log(path)
    if log is not None:
        return [n for _, done, n in log if done]
    counts = {}
    for frame in _read_table(path)[0]["frame"]:
        counts[frame] = counts.get(frame, 0) + 1
    return list(counts.values())
