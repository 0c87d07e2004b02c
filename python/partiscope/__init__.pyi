from typing import Any, Dict, Iterator, NamedTuple, Optional, Sequence, Tuple, Union

import numpy as np
import numpy.typing as npt

__version__: str
__license__: str

ArrayLike = npt.ArrayLike
Array = npt.NDArray[np.float64]

class Ringform(NamedTuple):
    real: Optional[Array]
    complex: Optional[npt.NDArray[np.complex128]]
    jinc: Optional[Array]

class Detectscan(NamedTuple):
    row: int
    col: int
    maxim: float
    q0: Array

class Synthplate(NamedTuple):
    hologram: Array
    particles: Array
    mean: float
    noise: Array

class Precbound(NamedTuple):
    deltax: float
    deltay: float
    deltaz: float
    deltar: float

class Detectstack(NamedTuple):
    cand: Array
    best: Array
    zidx: Array
    ridx: Array

class FitResult:
    p: Array
    se: Array
    info: Dict[str, Any]
    def __iter__(self) -> Iterator[Any]: ...
    def __getattr__(self, name: str) -> Any: ...

def ringform(x: float, y: float, z: float, r: float, pix: float, lambda_: float,
             sizeH: Tuple[float, float], flag: float = ..., K: float = ..., threads: int = ..., reproducible: Optional[bool] = ...) -> Ringform: ...
def detectscan(hol: ArrayLike, lambda_: float, pix: float, w: Optional[ArrayLike] = ...,
               r: float = ..., z: float = ..., w_prim: Optional[ArrayLike] = ...,
               MapFOVx: Optional[Tuple[float, float]] = ...,
               MapFOVy: Optional[Tuple[float, float]] = ..., K: float = ...,
               threads: int = ..., planner: Optional[str] = ..., reproducible: Optional[bool] = ...) -> Detectscan: ...
def synthplate(n: int, lambda_: float, pix: float, sX: float, sY: float, I0: float = ...,
               SNR: float = ..., rangeZ: Tuple[float, float] = ...,
               rangeR: Tuple[float, float] = ..., random_coordinates: int = ...,
               coordinates: Optional[ArrayLike] = ..., meanh: int = ..., K: float = ...,
               seed: Optional[int] = ..., threads: int = ..., reproducible: Optional[bool] = ...) -> Synthplate: ...
class Discplate(NamedTuple):
    hologram: Array
    particles: Array
    noise: Array

def discplate(n: int, lambda_: float, pix: float, sX: float, sY: float, I0: float = ...,
              SNR: float = ..., rangeZ: Tuple[float, float] = ...,
              rangeR: Tuple[float, float] = ..., Coordinates: Optional[ArrayLike] = ...,
              Seed: Optional[int] = ..., Sigma: float = ..., Photons: float = ...,
              Pixels: str = ..., Oversampling: int = ..., threads: int = ..., reproducible: Optional[bool] = ...) -> Discplate: ...
def propagate(field: ArrayLike, lambda_: float, pix: float, z: float,
              threads: int = ..., reproducible: Optional[bool] = ...) -> npt.NDArray[np.complex128]: ...
def precbound(x: float, y: float, z: float, r: float, pix: float, lambda_: float,
              sizeH: Tuple[float, float], sigm: float, n: float = ...,
              A: float = ..., threads: int = ..., reproducible: Optional[bool] = ...) -> Precbound: ...
def cylzero(X: ArrayLike, threads: int = ..., reproducible: Optional[bool] = ...) -> Array: ...
def cylone(X: ArrayLike, threads: int = ..., reproducible: Optional[bool] = ...) -> Array: ...
def ringfit(hol: ArrayLike, lambda_: float, pix: float, p0: ArrayLike, Model: str = ...,
            Particle: str = ..., Contrast: Union[float, str] = ..., Background: Optional[float] = ...,
            Offset: Optional[float] = ..., Weights: Optional[ArrayLike] = ...,
            Free: Sequence[bool] = ..., Sigma: Optional[float] = ..., K: Optional[float] = ..., MaxIter: int = ...,
            Tolerance: float = ..., threads: int = ..., reproducible: Optional[bool] = ...) -> FitResult: ...
def detectstack(hol: ArrayLike, lambda_: float, pix: float, depths: ArrayLike, radii: ArrayLike,
                Weights: Optional[ArrayLike] = ..., PositionWeights: Optional[ArrayLike] = ...,
                MapFOVx: Optional[Tuple[float, float]] = ...,
                MapFOVy: Optional[Tuple[float, float]] = ..., K: float = ...,
                Threshold: float = ..., MinSeparation: float = ..., MaxCount: int = ...,
                Sigma: Optional[float] = ..., threads: int = ..., planner: Optional[str] = ...,
                reproducible: Optional[bool] = ...) -> Detectstack: ...
def findparticles(hol: ArrayLike, lambda_: float, pix: float, depths: ArrayLike,
                  radii: ArrayLike, Model: str = ..., Particle: str = ...,
                  Contrast: Union[float, str] = ...,
                  Weights: Optional[ArrayLike] = ..., K: Optional[float] = ..., Threshold: float = ...,
                  MinSeparation: float = ..., MaxCount: int = ..., Sigma: Optional[float] = ...,
                  MaxPasses: int = ..., MaxIter: int = ..., Tolerance: float = ...,
                  MediumIndex: Optional[float] = ..., Index: float = ...,
                  Polarization: float = ..., Margin: Optional[int] = ...,
                  threads: int = ..., planner: Optional[str] = ..., reproducible: Optional[bool] = ...) -> FitResult: ...
def read_table(path: str) -> Any: ...
def track(table: Any, search_range: float = ..., depth_range: Optional[float] = ..., memory: int = ...,
          min_length: int = ..., predict: Optional[str] = ...) -> Any: ...
