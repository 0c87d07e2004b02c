"""Trajectories: the particles of consecutive frames linked into tracks.

Frame after frame, the particles found are matched to the tracks still open
(seen within the last `memory` + 1 frames) by a globally optimal assignment:
the candidate pairs within the search ranges come from a k-d tree, the pairs'
connected groups are solved one by one (linear_sum_assignment on a group, never
a matrix of all pairs), and a particle left unmatched starts a track. A pair's
cost is its squared displacement in units of the two rows' standard errors
(depth's is tens of times x's), or in units of the search ranges where the
table has no standard errors. With `predict="velocity"` a track's next
position is extrapolated from its last two, for flows.

Only the open tracks and a window of recent frames are held, so a recording of
any length is linked in bounded memory; rows are released (written) once
their track is known to reach `min_length` or has ended shorter.
"""

import os
from collections import deque

import numpy as np

TRACKING_MARK = "# partiscope track options: "
# How the coordinates a row is linked by are named in a table.
POSITION, ERRORS = ("x", "y", "z"), ("se_x", "se_y", "se_z")


class TrackError(Exception):
    """Options or a table that cannot be linked; the message says why."""


class _Track:
    __slots__ = ("id", "last", "previous", "frame", "previous_frame", "se", "length", "kept")

    def __init__(self, id_, position, se, frame):
        self.id, self.last, self.previous = id_, position, None
        self.frame, self.previous_frame, self.se = frame, None, se
        self.length, self.kept = 1, False

    def predicted(self, frame, velocity):
        if not velocity or self.previous is None:
            return self.last
        step = (self.last - self.previous) / (self.frame - self.previous_frame)
        return self.last + step * (frame - self.frame)

    def extend(self, position, se, frame):
        self.previous, self.previous_frame = self.last, self.frame
        self.last, self.se, self.frame = position, se, frame
        self.length += 1


class Linker:
    """Links frames given one at a time, in the recording's order.

    search_range: the largest step between linked rows in x and y (pixels);
    depth_range: in z (metres; None: z does not limit a link); memory: how
    many missed frames a track may bridge; min_length: the fewest rows a kept
    track has; predict: None or "velocity"."""

    def __init__(self, search_range, depth_range=None, memory=0, min_length=1, predict=None):
        if not search_range > 0:
            raise TrackError("--search-range must be a positive number of pixels")
        if depth_range is not None and not depth_range > 0:
            raise TrackError("--depth-range must be a positive length in metres")
        if int(memory) != memory or memory < 0:
            raise TrackError("--memory must be a whole number of frames, 0 or more")
        if int(min_length) != min_length or min_length < 1:
            raise TrackError("--min-length must be a whole number, 1 or more")
        if predict not in (None, "velocity"):
            raise TrackError("--predict must be 'velocity'")
        self.scale = np.array([search_range, search_range, depth_range or np.inf])
        self.memory, self.min_length, self.velocity = int(memory), int(min_length), bool(predict)
        self.open, self.next_id, self.trajectories = [], 0, 0
        # A row is released once its frame is this far behind: by then its
        # track has reached min_length rows or has ended.
        self.delay = (self.memory + 1) * self.min_length
        self.pending = deque()  # (frame, [(track, row), ...]) not yet released

    def add(self, frame, positions, errors, rows):
        """One frame's rows: positions and errors n-by-3 (x, y, z; errors
        NaN where unknown), rows any per-row payloads. Returns the rows
        released, as (row, particle id, frame) tuples in frame order."""
        self._close(frame)
        tracks = self._match(frame, positions, errors)
        linked = []
        for k, t in enumerate(tracks):
            if t is None:
                t = _Track(self.next_id, positions[k], errors[k], frame)
                self.next_id += 1
                self.open.append(t)
            else:
                t.extend(positions[k], errors[k], frame)
            linked.append((t, rows[k]))
        self.pending.append((frame, linked))
        return self._release(frame - self.delay)

    def finish(self):
        """The rows still held, at the end of the recording."""
        self.open = []
        return self._release(None)

    def _close(self, frame):
        self.open = [t for t in self.open if frame - t.frame <= self.memory + 1]

    def _release(self, up_to):
        out = []
        while self.pending and (up_to is None or self.pending[0][0] <= up_to):
            frame, linked = self.pending.popleft()
            for t, row in linked:
                if t.length >= self.min_length:
                    self.trajectories += not t.kept
                    t.kept = True
                    out.append((row, t.id, frame))
        return out

    def _match(self, frame, positions, errors):
        """The open track each row continues (None: a new track)."""
        n, m = len(positions), len(self.open)
        result = [None] * n
        if n == 0 or m == 0:
            return result
        from scipy.optimize import linear_sum_assignment
        from scipy.spatial import cKDTree

        predicted = np.array([t.predicted(frame, self.velocity) for t in self.open])
        gated = np.isfinite(self.scale)
        scaled = lambda p: np.asarray(p)[:, gated] / self.scale[gated]
        # A row without a finite position (a table edited by hand) links to
        # nothing and starts a track of its own.
        tracks_ok = np.flatnonzero(np.isfinite(scaled(predicted)).all(axis=1))
        rows_ok = np.flatnonzero(np.isfinite(scaled(positions)).all(axis=1))
        if len(tracks_ok) == 0 or len(rows_ok) == 0:
            return result
        pairs = cKDTree(scaled(predicted[tracks_ok])).sparse_distance_matrix(
            cKDTree(scaled(positions[rows_ok])), 1.0, output_type="ndarray")
        if len(pairs) == 0:
            return result
        ti, ri = tracks_ok[pairs["i"]], rows_ok[pairs["j"]]
        # A track and a row that are each other's only candidate are a
        # group of their own, solved at once: most pairs of a frame.
        alone = (np.bincount(ti, minlength=m)[ti] == 1) & (np.bincount(ri, minlength=n)[ri] == 1)
        for i, j in zip(ti[alone], ri[alone]):
            result[j] = self.open[i]
        ti, ri = ti[~alone], ri[~alone]
        if len(ti) == 0:
            return result
        se = np.array([t.se for t in self.open])
        cost = self._cost(predicted[ti], positions[ri], se[ti], errors[ri])
        # Tracks and rows that share candidates form groups; each group's
        # assignment is optimal on its own.
        label = _groups(ti, m + ri)
        for group in np.unique(label):
            sel = label == group
            gt, gr = np.unique(ti[sel]), np.unique(ri[sel])
            # Each track and row may also stay unmatched, at a cost above any
            # candidate's: every candidate pair that can be made is made.
            unmatched = 2.0 * cost[sel].max() + 1.0
            a, b = len(gt), len(gr)
            big = np.full((a + b, b + a), np.inf)
            big[np.searchsorted(gt, ti[sel]), np.searchsorted(gr, ri[sel])] = cost[sel]
            big[:a, b:] = np.where(np.eye(a, dtype=bool), unmatched, np.inf)
            big[a:, :b] = np.where(np.eye(b, dtype=bool), unmatched, np.inf)
            big[a:, b:] = 0.0
            big[np.isinf(big)] = 1e300
            rows_, cols_ = linear_sum_assignment(big)
            for i, j in zip(rows_, cols_):
                if i < a and j < b and big[i, j] < unmatched:
                    result[gr[j]] = self.open[gt[i]]
        return result

    def _cost(self, a, b, se_a, se_b):
        """Squared steps in units of the rows' combined errors; where a row
        has none, in units of the search ranges."""
        step = b - a
        se = np.sqrt(se_a ** 2 + se_b ** 2)
        unit = np.where(np.isfinite(se) & (se > 0), se, self.scale)
        terms = np.where(np.isfinite(unit), (step / unit) ** 2, 0.0)
        return terms.sum(axis=1)


def _groups(a, b):
    """The connected groups of the edges a-b (few: the pairs a frame could
    not match alone), as each edge's group label, by union-find."""
    parent = {}

    def root(v):
        while parent.get(v, v) != v:
            parent[v] = parent.get(parent[v], parent[v])
            v = parent[v]
        return v
    for u, v in zip(a.tolist(), b.tolist()):
        ru, rv = root(u), root(v)
        if ru != rv:
            parent[ru] = rv
    return np.array([root(u) for u in a.tolist()])


def frame_order(names, listed=None):
    """The recording's order of the frames: as a table's log lists them
    (frames without particles included), or else the natural order of the
    names."""
    from .recording import _natural_key
    if listed:
        return list(listed)
    return sorted(set(names), key=_natural_key)


def _positions(t):
    p = np.column_stack([np.asarray(t[c], dtype=float) for c in POSITION])
    e = np.column_stack([np.asarray(t[c], dtype=float) if c in t else np.full(len(p), np.nan)
                         for c in ERRORS])
    return p, e


def track(table, search_range=5.0, depth_range=None, memory=0, min_length=1, predict=None):
    """Links the rows of a particle table (a DataFrame as read_table gives it,
    or any with frame, x, y, z and optionally se_x, se_y, se_z) into
    trajectories. Returns the kept rows in frame order with `frame_index`
    (the frame's place in the recording, from 1: the table's .attrs["frames"],
    else the natural order of the names) and `particle` (the trajectory)."""
    import pandas as pd
    linker = Linker(search_range, depth_range, memory, min_length, predict)
    order = frame_order(table["frame"], table.attrs.get("frames"))
    index = {name: k + 1 for k, name in enumerate(order)}
    unknown = set(table["frame"]) - set(index)
    if unknown:
        raise TrackError("frames missing from the frame list: %s" % ", ".join(sorted(unknown)[:3]))
    positions, errors = _positions(table)
    at = np.array([index[f] for f in table["frame"]])
    by_frame = {}
    for k in np.argsort(at, kind="stable"):
        by_frame.setdefault(at[k], []).append(k)
    kept = []
    for frame in range(1, len(order) + 1):
        rows = by_frame.get(frame, [])
        kept += linker.add(frame, positions[rows], errors[rows], rows)
    kept += linker.finish()
    out = table.iloc[[k for k, _, _ in kept]].copy()
    out["frame_index"] = [f for _, _, f in kept]
    out["particle"] = [p for _, p, _ in kept]
    out.reset_index(drop=True, inplace=True)
    out.attrs.update(table.attrs)
    return out


def _csv_frames(path):
    """A CSV table's frames in the log's order, each with its rows as the
    table holds them (text): a frame's rows follow one another, in the order
    the log lists the frames done."""
    import csv
    from .table import COLUMNS, _SETTINGS_MARK
    log_path = path + ".log"
    with open(path, newline="", encoding="utf-8") as t, \
            open(log_path, newline="", encoding="utf-8") as log:
        if not log.readline().startswith(_SETTINGS_MARK):
            raise TrackError("%s is not a partiscope log" % log_path)
        log.readline()
        table = csv.reader(t)
        if (next(table, None) or [])[:len(COLUMNS)] != list(COLUMNS):
            raise TrackError("%s is not a partiscope table" % path)
        for line in csv.reader(log, delimiter="\t"):
            if len(line) != 4:
                continue
            count = int(line[2]) if line[1] == "done" else 0
            rows = [next(table) for _ in range(count)]
            yield line[0], rows


def _named_frames(path):
    """A CSV table without its log: its rows grouped by frame, the frames in
    the natural order of their names (a frame without particles is not
    known, so it leaves no gap). The whole table is read."""
    import csv
    from .recording import _natural_key
    from .table import COLUMNS
    with open(path, newline="", encoding="utf-8") as t:
        table = csv.reader(t)
        if (next(table, None) or [])[:len(COLUMNS)] != list(COLUMNS):
            raise TrackError("%s is not a partiscope table" % path)
        frames = {}
        for row in table:
            frames.setdefault(row[0], []).append(row)
    for name in sorted(frames, key=_natural_key):
        yield name, frames[name]


def _hdf5_frames(f, block=65536):
    """An HDF5 table's frames in its /frames order, each with its rows as
    tuples. The particle columns are read a block of rows at a time, not a
    frame at a time (a dataset read has a fixed cost), so memory stays that
    of one block."""
    from .table import COLUMNS
    frames, particles = f["frames"], f["particles"]
    rows, start = [], 0  # rows read ahead, and the table row they start at
    at = 0
    for name, status, count in zip(frames["frame"].asstr()[:], frames["status"].asstr()[:],
                                   frames["particles"][:]):
        n = int(count) if status == "done" else 0
        while start + len(rows) < at + n:
            stop = min(start + len(rows) + max(block, n), particles["frame"].shape[0])
            columns = [particles[c][start + len(rows):stop] for c in COLUMNS]
            columns[0] = [v.decode() if isinstance(v, bytes) else v for v in columns[0]]
            rows += list(zip(*columns))
        yield name, rows[at - start:at - start + n]
        at += n
        if at - start >= block:  # drop what has been handed out
            rows, start = rows[at - start:], at


def _link_rows(frames, linker, write):
    """Links a stream of (frame, rows) and writes each kept row with its
    frame index and trajectory. Returns rows read and rows written."""
    from .table import COLUMNS
    read = written = 0
    columns = {c: COLUMNS.index(c) for c in POSITION + ERRORS}
    for index, (name, rows) in enumerate(frames, start=1):
        read += len(rows)
        values = np.array([[float(r[columns[c]]) for c in POSITION + ERRORS] for r in rows],
                          dtype=float).reshape(-1, 6)
        kept = linker.add(index, values[:, :3], values[:, 3:], rows)
        write(kept)
        written += len(kept)
    kept = linker.finish()
    write(kept)
    return read, written + len(kept)


def track_file(path, output, linker, options):
    """Links the table at `path` (CSV with its log, or HDF5) into `output`
    (CSV, or HDF5 for .h5/.hdf5): the table's columns, then frame_index and
    particle, written as frames are linked; the run's settings and the
    linking options (a dict) beside them as in find's tables (the CSV's
    log, the HDF5 attributes). Returns rows read and written."""
    import json
    from .table import COLUMNS, _SETTINGS_MARK, _read_table
    hdf5_in = path.lower().endswith((".h5", ".hdf5"))
    hdf5_out = output.lower().endswith((".h5", ".hdf5"))
    names = COLUMNS + ("frame_index", "particle")
    if hdf5_in or hdf5_out:
        import h5py
    source = h5py.File(path, "r") if hdf5_in else None
    try:
        if hdf5_in:
            settings, frames = source.attrs.get("settings", "{}"), _hdf5_frames(source)
        else:
            settings = json.dumps(_read_table(path)[1], sort_keys=True)
            frames = _csv_frames(path) if os.path.exists(path + ".log") else _named_frames(path)
        if hdf5_out:
            with h5py.File(output, "w") as out:
                out.attrs["settings"] = settings
                out.attrs["tracking"] = json.dumps(options, sort_keys=True)
                g = out.create_group("particles")
                for c in names:
                    kind = h5py.string_dtype() if c == "frame" else (
                        "i8" if c in ("converged", "frame_index", "particle") else "f8")
                    g.create_dataset(c, (0,), dtype=kind, maxshape=(None,), chunks=(1024,))

                def write(kept):
                    if not kept:
                        return
                    for k, c in enumerate(names):
                        d, n = g[c], g[c].shape[0]
                        d.resize((n + len(kept),))
                        values = [(row[k] if k < len(COLUMNS) else (f if c == "frame_index"
                                                                      else p))
                                  for row, p, f in kept]
                        d[n:] = np.array(values, dtype=object if d.dtype.kind == "O" else d.dtype)
                return _link_rows(frames, linker, write)
        import csv
        with open(output + ".log", "w", encoding="utf-8") as log:
            log.write(_SETTINGS_MARK + settings + "\n")
            log.write(TRACKING_MARK + json.dumps(options, sort_keys=True) + "\n")
        with open(output, "w", newline="", encoding="utf-8") as out:
            writer = csv.writer(out, lineterminator="\n")
            writer.writerow(names)

            def write(kept):
                writer.writerows(list(row) + [f, p] for row, p, f in kept)
            return _link_rows(frames, linker, write)
    except (OSError, ValueError, KeyError, StopIteration) as e:
        raise TrackError("%s cannot be linked (%s: %s)" % (path, type(e).__name__, e))
    finally:
        if source is not None:
            source.close()
