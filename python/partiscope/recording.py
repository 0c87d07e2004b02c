"""The frames of a recording: image files, folders of them and multi-page TIFF
stacks, read as arrays, and the background the holograms are divided by.

A frame is named by its file as given (a folder's files as folder/name), with
":<page>" (from 1) for the pages of a multi-page TIFF. The first array axis is
the image's rows, which is x in the particle tables, as with imread in Octave.
"""

import logging
import os
import re
from collections import namedtuple

import numpy as np

IMAGE_SUFFIXES = (".tif", ".tiff", ".png", ".pgm", ".ppm", ".pnm", ".bmp", ".jpg", ".jpeg")
TIFF_SUFFIXES = (".tif", ".tiff")

# page: from 0, None for a file of one image; problem: why an input yields
# no frame (a corrupt file, a folder without images), reported as that
# input's failure instead of dropping it unseen.
Frame = namedtuple("Frame", "id path page problem", defaults=(None,))


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


def read_image(path, page=None):
    """One image as a 2-D array of its own type (integers as recorded)."""
    with _ReaderMessages() as said:
        try:
            if path.lower().endswith(TIFF_SUFFIXES):
                image = _OpenStack.page(path, page or 0)
            else:
                from PIL import Image
                with Image.open(path) as im:
                    image = np.asarray(im)
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
            image = read_image(frame.path, frame.page)
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


def hologram(image, background, saturation=None):
    """A recorded frame divided by its background and scaled to mean 1, the
    form the search takes. Pixels whose background is not positive or whose
    frame pixel is saturated become NaN and are ignored. Without a
    background the frame is divided by its own mean (an even illumination)."""
    h = intensities(image, saturation)
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
