"""The frames of a recording: image files, folders of them, multi-page TIFF
stacks, NumPy .npy stacks, HDF5 datasets and grey video files, read as
arrays; and what turns a frame into the hologram the search takes (a dark
frame, the background, a region of interest).

A frame is named by its file as given (a folder's files as folder/name), with
":<index>" (from 1) for the frames of a stack: a TIFF's pages, the first axis
of a 3-D .npy array or HDF5 dataset, a video's frames. An HDF5 dataset is
named FILE.h5:/path/to/dataset (a file of one 2-D or 3-D dataset needs no
path). The first array axis is the image's rows, which is x in the particle
tables, as with imread in Octave.
"""

import logging
import os
import re
from collections import namedtuple

import numpy as np

IMAGE_SUFFIXES = (".tif", ".tiff", ".png", ".pgm", ".ppm", ".pnm", ".bmp", ".jpg", ".jpeg")
TIFF_SUFFIXES = (".tif", ".tiff")
HDF5_SUFFIXES = (".h5", ".hdf5")
VIDEO_SUFFIXES = (".avi", ".mp4", ".mov", ".mkv")

# page: from 0, None for a file of one image; problem: why an input yields
# no frame (a corrupt file, a folder without images), reported as that
# input's failure instead of dropping it unseen; dataset: an HDF5 file's.
Frame = namedtuple("Frame", "id path page problem dataset", defaults=(None, None))


class FrameError(Exception):
    """A frame that cannot be used; the message says why (the run goes on)."""


def _natural_key(name):
    # frame_2 before frame_10, as a camera numbers them
    return [int(t) if t.isdigit() else t for t in re.split(r"(\d+)", name)]


class _ReaderMessages(logging.Handler):
    """Collects what the TIFF reader logs (it names no file) while a file is
    read, so that a failure's reason can carry it and nothing reaches the
    terminal unattributed."""

    def __init__(self):
        super().__init__(logging.WARNING)
        self.messages = []

    def emit(self, record):
        self.messages.append(record.getMessage())

    def __enter__(self):
        log = logging.getLogger("tifffile")
        self.propagate, log.propagate = log.propagate, False
        log.addHandler(self)
        return self

    def __exit__(self, *exc):
        log = logging.getLogger("tifffile")
        log.removeHandler(self)
        log.propagate = self.propagate

    def detail(self):
        return " (the reader: %s)" % "; ".join(self.messages[:2]) if self.messages else ""


def _tiff_pages(path):
    """The page count of a TIFF file, and why it yields no frame (None when
    it holds pages)."""
    import tifffile
    with _ReaderMessages() as said:
        try:
            with tifffile.TiffFile(path) as tif:
                pages = len(tif.pages)
        except Exception as e:
            return 0, "cannot read the TIFF file (%s: %s)%s" % (type(e).__name__, e, said.detail())
    if pages == 0:
        return 0, "the TIFF file holds no readable image%s" % said.detail()
    return pages, None


def list_frames(inputs):
    """The frames of the inputs, in order: each file's pages, each folder's
    image files in natural order of their names (not its subfolders).
    A missing input raises FileNotFoundError."""
    frames = []
    for given in inputs:
        dataset = None
        if ":" in given and not os.path.exists(given):
            head, _, tail = given.rpartition(":")
            if head.lower().endswith(HDF5_SUFFIXES) and tail.startswith("/"):
                given, dataset = head, tail
        if given.lower().endswith(HDF5_SUFFIXES + (".npy",) + VIDEO_SUFFIXES) and \
                os.path.isfile(given):
            frames.extend(_stack_frames(given, dataset))
            continue
        if os.path.isdir(given):
            names = sorted((n for n in os.listdir(given) if not n.startswith(".")
                            and n.lower().endswith(IMAGE_SUFFIXES)
                            and os.path.isfile(os.path.join(given, n))), key=_natural_key)
            paths = [os.path.join(given, n) for n in names]
            if not paths:
                frames.append(Frame(os.path.normpath(given), os.path.abspath(given), None,
                                    "the folder holds no image files (%s)"
                                    % " ".join(IMAGE_SUFFIXES)))
        elif os.path.isfile(given):
            paths = [given]
        else:
            raise FileNotFoundError("no such file or folder: %s" % given)
        for name in paths:
            # named as given; read by the full path (a cluster's workers
            # start in other folders)
            name, path = os.path.normpath(name), os.path.abspath(name)
            pages, problem = (_tiff_pages(path) if path.lower().endswith(TIFF_SUFFIXES)
                              else (1, None))
            if pages <= 1:
                frames.append(Frame(name, path, None, problem))
            else:
                frames.extend(Frame("%s:%d" % (name, k + 1), path, k) for k in range(pages))
    once = {}  # an input named twice is processed once
    for frame in frames:
        once.setdefault(frame.id, frame)
    return list(once.values())


def _stack_frames(given, dataset):
    """The frames of a .npy array, an HDF5 dataset or a video file: a 2-D
    array is one frame, a 3-D one a frame for each index of its first axis."""
    name, path = os.path.normpath(given), os.path.abspath(given)
    try:
        count, dataset = _Source.count(path, dataset)
    except FrameError as e:
        return [Frame(name, path, None, str(e))]
    if dataset is not None:
        name = "%s:%s" % (name, dataset)
    if count is None:
        return [Frame(name, path, None, None, dataset)]
    return [Frame("%s:%d" % (name, k + 1), path, k, None, dataset) for k in range(count)]


def _video_frames(reader, path):
    """A video's frame count: its packets as ffprobe counts them without
    decoding (one a frame), else by decoding it once. The container's own
    figure is an estimate from its duration."""
    import shutil
    import subprocess
    if shutil.which("ffprobe"):
        probe = subprocess.run(["ffprobe", "-v", "error", "-select_streams", "v:0",
                                "-count_packets", "-show_entries", "stream=nb_read_packets",
                                "-of", "csv=p=0", path], capture_output=True, text=True)
        if probe.returncode == 0 and probe.stdout.strip().isdigit():
            return int(probe.stdout.strip())
    try:
        return sum(1 for _ in reader)
    except Exception as e:
        raise FrameError("cannot read the video's frames (%s)" % e)


class _Source:
    """The .npy, HDF5 or video file last read, kept open (memory-mapped, or
    its reader): a stack's frames are read one at a time."""
    path = dataset = handle = current = None

    @classmethod
    def count(cls, path, dataset):
        """The frame count (None for one 2-D image) and the dataset used."""
        if path.lower().endswith(VIDEO_SUFFIXES):
            return _video_frames(cls._open(path, None), path), None
        if path.lower().endswith(HDF5_SUFFIXES) and dataset is None:
            dataset = cls._only_dataset(path)
        array = cls._open(path, dataset)
        if array.ndim not in (2, 3):
            raise FrameError("the array is %s, not 2-D (one frame) or 3-D (frames along its first "
                             "axis)" % "x".join(str(s) for s in array.shape))
        return (array.shape[0] if array.ndim == 3 else None), dataset

    @classmethod
    def frame(cls, frame):
        source = cls._open(frame.path, frame.dataset)
        if frame.path.lower().endswith(VIDEO_SUFFIXES):
            image = np.asarray(source.get_data(frame.page))
            if image.ndim == 3:  # decoded as RGB: grey only when the channels agree
                if not (image == image[..., :1]).all():
                    raise FrameError("the video's frames are in colour; record grey frames")
                image = image[..., 0]
            return image
        return np.asarray(source if frame.page is None else source[frame.page])

    @classmethod
    def _only_dataset(cls, path):
        import h5py
        found = []
        try:
            with h5py.File(path, "r") as f:
                f.visititems(lambda n, o: found.append("/" + n) if isinstance(o, h5py.Dataset)
                             and o.ndim in (2, 3) else None)
        except OSError as e:
            raise FrameError("cannot read the HDF5 file (%s)" % e)
        if len(found) != 1:
            raise FrameError("name the dataset as FILE:/path (the file holds %s)"
                             % (", ".join(found[:5]) or "no 2-D or 3-D dataset"))
        return found[0]

    @classmethod
    def _open(cls, path, dataset):
        if (cls.path, cls.dataset) == (path, dataset):
            return cls.current
        cls.close()
        try:
            if path.lower().endswith(".npy"):
                cls.current = np.load(path, mmap_mode="r")
            elif path.lower().endswith(HDF5_SUFFIXES):
                import h5py
                cls.handle = h5py.File(path, "r")
                if dataset not in cls.handle:
                    raise FrameError("the HDF5 file has no dataset %s" % dataset)
                cls.current = cls.handle[dataset]
            else:
                import imageio
                cls.handle = cls.current = imageio.get_reader(path, "ffmpeg")
        except FrameError:
            cls.close()
            raise
        except Exception as e:
            cls.close()
            raise FrameError("cannot read %s (%s: %s)" % (os.path.basename(path), type(e).__name__, e))
        cls.path, cls.dataset = path, dataset
        return cls.current

    @classmethod
    def close(cls):
        if cls.handle is not None:
            cls.handle.close()
        cls.path = cls.dataset = cls.handle = cls.current = None


class _OpenStack:
    """The TIFF file last read, kept open: the pages of a stack are read one
    after another without parsing the file's page chain again each time.
    Only page offsets are kept, so memory does not grow with the stack."""
    path = None
    tif = None

    @classmethod
    def page(cls, path, k):
        import tifffile
        if cls.path != path:
            cls.close()
            cls.tif = tifffile.TiffFile(path)
            cls.tif.pages.cache = False
            cls.path = path
        return cls.tif.pages[k].asarray()

    @classmethod
    def close(cls):
        if cls.tif is not None:
            cls.tif.close()
        cls.path = cls.tif = None


def read_frame(frame):
    """A frame of the recording as a 2-D array of its own type."""
    return read_image(frame.path, frame.page, frame.dataset)


def read_image(path, page=None, dataset=None):
    """One image as a 2-D array of its own type (integers as recorded)."""
    with _ReaderMessages() as said:
        try:
            if path.lower().endswith(HDF5_SUFFIXES + (".npy",) + VIDEO_SUFFIXES):
                image = _Source.frame(Frame(path, path, page, None, dataset))
            elif path.lower().endswith(TIFF_SUFFIXES):
                image = _OpenStack.page(path, page or 0)
            else:
                from PIL import Image
                with Image.open(path) as im:
                    image = np.asarray(im)
        except FrameError:
            raise
        except FileNotFoundError:
            raise FrameError("file not found")
        except IsADirectoryError:
            raise FrameError("a folder, not an image file")
        except Exception as e:  # a truncated or foreign file: say what the reader said
            _OpenStack.close()
            raise FrameError("cannot read the image (%s: %s)%s"
                             % (type(e).__name__, e, said.detail()))
    image = np.squeeze(image)
    if image.ndim != 2:
        raise FrameError("the image is %s, not a single-channel 2-D image (a colour image? "
                         "record grey frames, or convert them)"
                         % "x".join(str(s) for s in np.shape(image)))
    if not (np.issubdtype(image.dtype, np.integer) or np.issubdtype(image.dtype, np.floating)):
        raise FrameError("pixels of type %s are not intensities" % image.dtype)
    return image


def intensities(image, saturation=None):
    """The image as float64, with saturated pixels (at or above `saturation`;
    by default the largest value of an integer type) set to NaN, so the
    search ignores them: their intensity is not known."""
    if saturation is None and np.issubdtype(image.dtype, np.integer):
        saturation = np.iinfo(image.dtype).max
    out = image.astype(np.float64)
    if saturation is not None:
        out[out >= saturation] = np.nan
    return out


def background_image(path, saturation=None):
    """A background frame from a file: its pages' mean for a multi-page TIFF."""
    if not os.path.isfile(path):
        raise FrameError("file not found" if not os.path.exists(path) else
                         "a folder, not an image file")
    pages, problem = _tiff_pages(path) if path.lower().endswith(TIFF_SUFFIXES) else (1, None)
    if problem:
        raise FrameError(problem)
    total = None
    for k in range(pages):
        image = intensities(read_image(path, k if pages > 1 else None), saturation)
        total = image if total is None else total + image
    _OpenStack.close()
    return total / pages


def median_background(frames, count, shape, saturation=None):
    """The pixelwise median of the first `count` frames that read with the
    recording's shape: the still background (illumination, dust, fringes)
    of a recording whose particles move. Held as float32 while it is formed,
    count x pixels x 4 bytes. Returns the background and the frames used."""
    stack, used = [], 0
    for frame in frames:
        if used == count:
            break
        if frame.problem:
            continue
        try:
            image = read_frame(frame)
        except FrameError:
            continue
        if image.shape != shape:
            continue
        stack.append(intensities(image, saturation).astype(np.float32))
        used += 1
    _OpenStack.close()
    if not stack:
        raise FrameError("no frame of the recording can be read")
    return np.nanmedian(np.stack(stack), axis=0).astype(np.float64), used


def parse_roi(text, shape):
    """A region of interest "FIRST:LAST,FIRST:LAST" (rows, then columns;
    1-based, inclusive, as in Octave) within frames of `shape`, as the
    0-based slices (rows, columns)."""
    try:
        bounds = [[int(v) for v in part.split(":")] for part in text.split(",")]
        (r0, r1), (c0, c1) = bounds
    except ValueError:
        raise ValueError("--roi must be FIRST:LAST,FIRST:LAST (rows, then columns, from 1), "
                         "got %r" % text)
    if not (1 <= r0 <= r1 <= shape[0] and 1 <= c0 <= c1 <= shape[1]):
        raise ValueError("--roi %s does not lie within the frames (%dx%d)" % (text, *shape))
    return slice(r0 - 1, r1), slice(c0 - 1, c1)


class Correction:
    """What turns a recorded frame into the hologram the search takes: the
    region of interest cut out, the dark frame (the sensor's offset, recorded
    without light) subtracted from the frame and the background alike, then
    the division by the background. Every part is optional."""

    def __init__(self, background=None, dark=None, roi=None):
        self.roi = roi or (slice(None), slice(None))
        self.dark = None if dark is None else dark[self.roi]
        self.background = None if background is None else background[self.roi]
        if self.background is not None and self.dark is not None:
            self.background = self.background - self.dark

    def hologram(self, image, saturation=None):
        return hologram(image[self.roi], self.background, saturation, self.dark)


def hologram(image, background, saturation=None, dark=None):
    """A recorded frame (less the dark frame) divided by its background and
    scaled to mean 1, the form the search takes. Pixels whose background is
    not positive or whose frame pixel is saturated become NaN and are
    ignored. Without a background the frame is divided by its own mean (an
    even illumination)."""
    h = intensities(image, saturation)
    if dark is not None:
        h = h - dark
    if background is not None:
        with np.errstate(divide="ignore", invalid="ignore"):
            h = np.where(background > 0, h / background, np.nan)
    finite = np.isfinite(h)
    if not finite.any():
        raise FrameError("no pixel has a usable intensity")
    mean = h[finite].mean()
    if not mean > 0:
        raise FrameError("the frame's mean intensity is not positive")
    return h / mean
