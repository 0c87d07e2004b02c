"""Finding the particles of every frame of a recording: in this process, in
local worker processes, or on a Dask cluster.

Frames are independent, so they are handed out one at a time to whatever
computes them. The workers read the frames themselves (a cluster's workers
need the files at the same path), so the pixels never pass through this
process. At most a few frames per worker are in flight, and results are
written in the recording's order as soon as every earlier frame is written:
the table is the same, byte for byte, whatever computed it, and memory does
not grow with the recording's length.
"""

import multiprocessing
import os
import queue
import signal
import sys
import threading
import time
from collections import deque

from . import findparticles
from .recording import FrameError, read_frame
from .settings import FrameResult


_heap_checked = False


def _reuse_freed_buffers():
    """Dask's workers start with MALLOC_TRIM_THRESHOLD_ set, so that they hand
    freed memory back to the system. In glibc that also fixes the threshold
    above which blocks are mapped afresh at 128 kB: every transform buffer
    of a frame (megabytes) is then mapped, zeroed page by page and unmapped
    again, which took a frame 36% longer with six times the page faults
    (2.89 against 2.12 s at 512x512). Restore what glibc's own dynamic
    thresholds reach: buffers up to 32 MB come from the heap and are reused
    by the next frame. Memory stays that of one frame."""
    global _heap_checked
    if _heap_checked:
        return
    _heap_checked = True
    if not any(k in os.environ for k in ("MALLOC_TRIM_THRESHOLD_", "MALLOC_MMAP_THRESHOLD_")):
        return
    try:
        import ctypes
        libc = ctypes.CDLL("libc.so.6")
        M_TRIM_THRESHOLD, M_MMAP_THRESHOLD = -1, -3
        libc.mallopt(M_MMAP_THRESHOLD, 32 << 20)
        libc.mallopt(M_TRIM_THRESHOLD, 64 << 20)
    except (OSError, AttributeError):  # not glibc: nothing to restore
        pass


def find_in_frame(frame, settings, correction, shape, threads):
    """One frame's particles, or why the frame cannot be used. Never raises
    for the frame's content: a bad frame is logged and the run goes on."""
    _reuse_freed_buffers()
    if frame.problem:
        return FrameResult.failed(frame.problem)
    try:
        image = read_frame(frame)
        if shape is not None and image.shape != shape:
            raise FrameError("the image is %dx%d, the recording's frames %dx%d"
                             % (image.shape + shape))
        h = correction.hologram(image, settings.saturation)
        found = findparticles(
            h, settings.wavelength, settings.pixel, settings.depths, settings.radii,
            Model=settings.model, Particle=settings.particle, Contrast=settings.contrast,
            MediumIndex=settings.medium_index, Index=settings.index or 1.5,
            Polarization=settings.polarization or 0.0,
            Threshold=settings.threshold, MinSeparation=settings.min_separation,
            MaxCount=settings.max_count, MaxPasses=settings.max_passes, Margin=settings.margin,
            threads=threads,
            planner="estimate")  # plans chosen by timing would differ from worker to worker
    except (FrameError, ValueError) as e:
        return FrameResult.failed(str(e))
    except Exception as e:  # MemoryError and the like: this frame, not the run
        return FrameResult.failed("%s: %s" % (type(e).__name__, e))
    return FrameResult.of(found)


class _Stopped(Exception):
    pass


class _Stop:
    """Ctrl-C, or SIGTERM (a cluster's job scheduler ending the job): stop
    between frames, so that the table and its log end on the same frame.
    A second Ctrl-C stops at once; the next run then repairs the table. An
    ignored SIGINT (a command started in the background) stays ignored."""

    def __init__(self):
        self.requested, self.previous = False, {}

    def __enter__(self):
        if threading.current_thread() is threading.main_thread():
            for sig in (signal.SIGINT, signal.SIGTERM):
                self.previous[sig] = signal.getsignal(sig)
                if self.previous[sig] is not signal.SIG_IGN:
                    signal.signal(sig, self._request)
        return self

    def _request(self, signum, frame):
        self.requested = True
        if signum == signal.SIGINT:
            signal.signal(signal.SIGINT, signal.default_int_handler)

    def check(self):
        if self.requested:
            raise _Stopped()

    def __exit__(self, *exc):
        for sig, handler in self.previous.items():
            signal.signal(sig, handler)


class _InProcess:
    """Frames computed here, one after another, with every core."""

    def __init__(self, job):
        self.job, self.queued = job, []

    def submit(self, index, frame):
        self.queued.append((index, frame))

    def next_done(self, stop):
        stop.check()
        index, frame = self.queued.pop(0)
        return index, find_in_frame(frame, *self.job)

    def close(self, interrupted):
        pass


class WorkerError(Exception):
    """A worker process that cannot start: the run cannot go on."""


def _worker_main(conn):
    """A local worker: takes the job, says it is ready, then computes the
    frames it is sent until it is sent None."""
    signal.signal(signal.SIGINT, signal.SIG_IGN)  # Ctrl-C is the parent's to handle
    job = conn.recv()
    conn.send("ready")
    while True:
        task = conn.recv()
        if task is None:
            return
        index, frame = task
        conn.send((index, find_in_frame(frame, *job)))


def _last_message(lines):
    """The end of what a process wrote to stderr: its last line that is not
    indented, with the indented lines after it (an exception's message and
    its continuation lines, without the traceback's frames)."""
    lines = [line.rstrip() for line in lines if line.strip()]
    if not lines:
        return ""
    start = max((k for k, line in enumerate(lines) if not line[0].isspace()), default=0)
    text = " ".join(line.strip() for line in lines[start:])
    return text if len(text) <= 400 else text[:397] + "..."


def describe_exit(code, lines):
    """Why a worker process ended, from its exit code and what it wrote last."""
    if code is not None and code < 0:
        try:
            why = "was killed by " + signal.Signals(-code).name
        except ValueError:
            why = "was killed by signal %d" % -code
        if -code == signal.SIGKILL:
            why += " (the system's out-of-memory killer, or kill -9)"
    else:
        why = "ended with exit code %s" % code
    said = _last_message(lines)
    return why + ("; its last message: " + said if said else "")


class _Worker:
    """One spawned worker process: its pipe, the frame it holds, and the
    last lines it wrote to stderr. Its stderr is a pipe read here and passed
    on to ours, so that a failure before our code runs in it (an import, a
    script without a main guard) can be reported too."""

    _stderr_lock = threading.Lock()

    def __init__(self, context, job):
        self.conn, child = context.Pipe()
        self.process = context.Process(target=_worker_main, args=(child,), daemon=True)
        self.lines = deque(maxlen=200)
        self.ready, self.task = False, None
        read_end, write_end = os.pipe()
        with _Worker._stderr_lock:
            # The child inherits descriptor 2 as it is while it is started.
            sys.stderr.flush()
            saved = os.dup(2)
            try:
                os.dup2(write_end, 2)
                self.process.start()
            finally:
                os.dup2(saved, 2)
                os.close(saved)
                os.close(write_end)
        child.close()
        self.reader = threading.Thread(target=self._relay, args=(read_end,), daemon=True)
        self.reader.start()
        # The job (with the background image) goes through our pipe, not the
        # process's start: multiprocessing writes that to a child that may
        # die before reading it, and a large one would then block for ever.
        # Ours fails at once when the child is gone (its sentinel says why).
        try:
            self.conn.send(job)
        except OSError:
            pass

    def _relay(self, fd):
        with os.fdopen(fd, "r", errors="replace") as pipe:
            for line in pipe:
                self.lines.append(line)
                with _Worker._stderr_lock:
                    sys.stderr.write(line)
                    sys.stderr.flush()

    def reason(self):
        self.process.join()
        self.reader.join(timeout=2)  # the rest of what it wrote
        return describe_exit(self.process.exitcode, self.lines)

    def stop(self, now):
        if self.process.is_alive() and not now:
            try:
                self.conn.send(None)
                self.process.join(timeout=30)
            except OSError:
                pass
        if self.process.is_alive():
            self.process.terminate()
            self.process.join(timeout=10)
        if self.process.is_alive():
            self.process.kill()
            self.process.join()
        self.conn.close()
        self.reader.join(timeout=2)


class _LocalPool:
    """N worker processes on this machine, started afresh (not forked from a
    process that holds threads), each given the job once. A worker that
    dies fails the frame it held, with its exit code or signal and its last
    message, and is replaced; one that dies before it is ready stops the
    run, since its replacements would die alike."""

    def __init__(self, job, workers):
        self.context = multiprocessing.get_context("spawn")
        self.job, self.pending, self.workers = job, deque(), []
        try:
            for _ in range(workers):
                self.workers.append(_Worker(self.context, job))
        except BaseException:
            self.close(True)
            raise

    def submit(self, index, frame):
        self.pending.append((index, frame))
        self._hand_out()

    def _hand_out(self):
        for w in self.workers:
            if w.task is None and self.pending:
                w.task = self.pending.popleft()
                try:
                    w.conn.send(w.task)
                except OSError:  # it died; its sentinel tells
                    pass

    def _dead(self, w):
        """The frame a dead worker held (or None) and why it died; the
        worker is replaced."""
        why = w.reason()
        if not w.ready:
            raise WorkerError("a worker process could not start: it " + why)
        w.stop(now=True)
        self.workers[self.workers.index(w)] = _Worker(self.context, self.job)
        self._hand_out()
        return w.task, why

    def next_done(self, stop):
        from multiprocessing.connection import wait
        while True:
            stop.check()
            handles = {}
            for w in self.workers:
                handles[w.conn] = handles[w.process.sentinel] = w
            for w in {handles[h] for h in wait(list(handles), timeout=0.2)}:  # Ctrl-C is seen
                try:
                    message = w.conn.recv() if w.conn.poll() else None
                except (EOFError, OSError):
                    message = None
                if message == "ready":
                    w.ready = True
                elif message is not None:
                    w.task = None
                    self._hand_out()
                    return message
                elif not w.process.is_alive():
                    held, why = self._dead(w)
                    if held is not None:
                        return held[0], FrameResult.failed("the worker process computing it " + why)

    def close(self, interrupted):
        # Interrupted: the frames in flight stop now; the table holds those done.
        for w in self.workers:
            w.stop(now=interrupted)


class _Finished:
    """Futures of a cluster, collected as they finish."""

    def __init__(self):
        self.finished = queue.Queue()

    def watch(self, index, future):
        future.add_done_callback(lambda f: self.finished.put((index, f)))

    def next_done(self, stop):
        while True:
            stop.check()
            try:  # a timeout, so that Ctrl-C is seen while waiting
                index, future = self.finished.get(timeout=0.2)
                break
            except queue.Empty:
                continue
        try:
            return index, future.result()
        except Exception as e:
            return index, FrameResult.failed(self.lost(e))


class _Dask(_Finished):
    """The workers of a Dask cluster. Each task computes one frame with
    `threads` threads; the background is sent to every worker once."""

    def __init__(self, job, address):
        super().__init__()
        from distributed import Client
        self.client = Client(address)
        settings, correction, shape, threads = job
        correction = self.client.scatter(correction, broadcast=True)
        self.job = (settings, correction, shape, threads)
        self.slots = max(1, sum(self.client.nthreads().values()))
        self.futures = {}

    def lost(self, e):
        return "%s on the cluster: %s" % (type(e).__name__, e)

    def submit(self, index, frame):
        future = self.client.submit(find_in_frame, frame, *self.job, pure=False)
        self.futures[index] = future
        self.watch(index, future)

    def next_done(self, stop):
        index, result = super().next_done(stop)
        del self.futures[index]  # the cluster may forget it
        return index, result

    def close(self, interrupted):
        if self.futures:
            self.client.cancel(list(self.futures.values()))
        self.client.close()


def _in_order(executor, todo, limit, stop):
    """(frame, result) in the recording's order, with at most `limit` frames
    between the last one written and the last one handed out."""
    done, handed, written = {}, 0, 0
    while written < len(todo):
        while handed < len(todo) and handed - written < limit:
            executor.submit(handed, todo[handed])
            handed += 1
        while written not in done:
            index, result = executor.next_done(stop)
            done[index] = result
        yield todo[written], done.pop(written)
        written += 1


class Summary:
    def __init__(self, skipped):
        self.frames = self.particles = self.failed = 0
        self.skipped, self.interrupted, self.start = skipped, False, time.monotonic()

    def line(self, output):
        seconds = time.monotonic() - self.start
        rate = self.frames / seconds if seconds > 0 else 0.0
        return ("%s%d frames done (%d already in the table), %d particles, %d failed, %.1f s "
                "(%.2f frames/s); table %s" % ("interrupted: " if self.interrupted else "",
                                               self.frames, self.skipped, self.particles,
                                               self.failed, seconds, rate, output))


def run(frames, table, job, workers=1, scheduler=None, progress=True, report=sys.stderr):
    """Processes the frames not yet in `table` and adds each as it is done.
    job: (settings, correction, shape, threads). Returns a Summary; Ctrl-C
    stops the run with every frame written so far in the table. Raises
    TableError when the table cannot be written and WorkerError when a
    local worker cannot start."""
    from tqdm import tqdm
    todo = [f for f in frames if f.id not in table.done]
    summary = Summary(len(frames) - len(todo))
    try:
        if scheduler:
            executor = _Dask(job, scheduler)
            limit = 2 * executor.slots + 2
        elif workers > 1:
            executor, limit = _LocalPool(job, workers), 2 * workers + 2
        else:
            executor, limit = _InProcess(job), 1
    except BaseException:  # no cluster at that address, or Ctrl-C while connecting
        table.close()
        raise
    # No bar when the output is not a terminal (a cluster job's log file).
    bar = tqdm(total=len(todo), unit="frame", disable=None if progress else True, file=report,
               dynamic_ncols=True, smoothing=0.1)
    finished = False
    try:
        with _Stop() as stop:
            for frame, result in _in_order(executor, todo, limit, stop):
                table.add(frame.id, result)
                if result.done:
                    summary.frames += 1
                    summary.particles += result.count
                else:
                    summary.failed += 1
                    bar.write("%s: failed: %s" % (frame.id, result.reason), file=report)
                bar.set_postfix(particles=summary.particles, failed=summary.failed,
                                refresh=False)
                bar.update()
        finished = True
    except (_Stopped, KeyboardInterrupt):
        summary.interrupted = True
    finally:  # also on a table that cannot be written or a worker that cannot start
        bar.close()
        executor.close(not finished)
        table.close()
    return summary


def default_threads(workers, scheduler):
    """Threads a frame: every core for one local worker, the cores shared
    among local workers, one on a cluster (a worker's thread slots are its
    parallelism there)."""
    if scheduler:
        return 1
    return 0 if workers <= 1 else max(1, (os.cpu_count() or 1) // workers)
