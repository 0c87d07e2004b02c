"""What the command line, the batch code and the tables share: the settings
of a `partiscope find` run and the outcome of one frame."""

from dataclasses import asdict, dataclass, fields
from typing import Any, Optional


@dataclass(frozen=True)
class FindSettings:
    """The settings that decide a run's table (a resumed table must have the
    same), and the geometry its x and y need: the frames' size in pixels
    (None when no frame could be read). Lengths in metres; depths and radii
    as lists of numbers."""
    frame_rows: Optional[int]
    frame_cols: Optional[int]
    wavelength: float
    pixel: float
    depths: list
    radii: list
    background: Optional[str]
    background_median: Optional[int]
    dark: Optional[str]
    roi: Optional[str]
    saturation: Optional[float]
    model: str
    particle: str
    medium_index: Optional[float]  # a sphere's optics (None for the other kinds)
    index: Optional[float]
    polarization: Optional[float]
    contrast: Any  # a number, or "free"
    threshold: float
    min_separation: float
    max_count: int
    max_passes: int
    margin: Optional[int]  # None: findparticles' default

    @classmethod
    def of(cls, options):
        """The run's settings among the command's options (None where one is
        not given)."""
        return cls(**{f.name: options.get(f.name) for f in fields(cls)})

    def as_dict(self):
        """The form a table records (JSON, sorted keys) and compares."""
        return asdict(self)


@dataclass
class FrameResult:
    """One frame's outcome: its particles (n-by-4 tables p and se, and per
    particle score, converged, contrast and z-r correlation, with the
    search's message) when done; otherwise why it failed."""
    done: bool
    reason: str = ""
    p: Any = None
    se: Any = None
    score: Any = None
    converged: Any = None
    contrast: Any = None
    zr_correlation: Any = None
    index: Any = None  # spheres' refractive indices and their errors
    index_se: Any = None
    message: str = ""

    @classmethod
    def failed(cls, reason):
        return cls(False, reason=reason)

    @classmethod
    def of(cls, found):
        """A search's result (findparticles')."""
        return cls(True, p=found.p, se=found.se, score=found.score, converged=found.converged,
                   contrast=found.contrast, zr_correlation=found.zr_correlation,
                   index=found.info.get("index"), index_se=found.info.get("index_se"),
                   message=found.message)

    @property
    def count(self):
        return self.p.shape[0] if self.done else 0
