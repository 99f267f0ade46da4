"""Many trees from a job file, on any executor: the variants of ``ramulon batch``.

    from concurrent.futures import ProcessPoolExecutor
    from ramulon import batch

    with ProcessPoolExecutor(4) as pool:
        result = batch.run("jobs.jsonl", "out", executor=pool)
    print(result.built, result.skipped, result.failed)

Each job is a JSON object (one line of a JSON Lines file, or a dict): ``name``, ``crown``,
``preset``, ``set``, ``seed`` or ``seeds`` [first, last], ``outputs`` (glb, gltf, obj, png,
journal) and the export options of ``ramulon build`` (lod, lod-files, impostor, compress,
subdivide, textures, crease-angle, wind-colours). Each variant writes OUT/NAME-SEED.EXT, the
same bytes as ``ramulon batch`` and ``ramulon build --set random_seed=SEED``. Variants recorded
in the folder's ledger as made from the same job are skipped, so a run that was stopped goes on
where it stopped.
"""

from __future__ import annotations

import ctypes
import json
import os
from concurrent.futures import Executor, as_completed
from dataclasses import dataclass, field
from pathlib import Path
from typing import Any, Callable, Dict, Iterable, List, Optional, Sequence, Tuple, Union

from . import _library
from .errors import Error, check
from .tree import PathLike

Jobs = Union[PathLike, Sequence[Union[Dict[str, Any], str]]]


@dataclass
class Result:
    """What a run did: variants built and skipped (as "NAME-SEED"), and the failures as
    (variant or "line N", message)."""

    built: List[str] = field(default_factory=list)
    skipped: List[str] = field(default_factory=list)
    failed: List[Tuple[str, str]] = field(default_factory=list)

    @property
    def ok(self) -> bool:
        return not self.failed


def variant(job: str, base: str, seed: int, out_dir: str, shelf: Optional[str] = None) -> Optional[str]:
    """Builds one variant in this process; None on success, else the one-line error. This is
    what the executor's workers run."""
    status = _library.lib().ramulon_batch_variant(job.encode(), base.encode(), int(seed), os.fsencode(out_dir),
                                                  os.fsencode(shelf) if shelf else None)
    if status == 0:
        return None
    return (_library.lib().ramulon_last_error(None) or b"").decode()


def _job_text(jobs: Jobs) -> Tuple[str, str]:
    """The job lines and the folder their relative paths start from."""
    if isinstance(jobs, (str, os.PathLike)):
        path = Path(jobs)
        try:
            return path.read_text(), str(path.resolve().parent)
        except OSError as e:
            raise Error(f"cannot read the job file {path}: {e.strerror}", 4) from None
    lines = [job if isinstance(job, str) else json.dumps(job) for job in jobs]
    return "\n".join(lines) + "\n", os.getcwd()


def plan(jobs: Jobs, out_dir: PathLike) -> Dict[str, Any]:
    """The variants the jobs make (and whether each is done already), and the broken lines."""
    text, base = _job_text(jobs)
    out = ctypes.c_char_p()
    check(_library.lib().ramulon_batch_plan(text.encode(), base.encode(), os.fsencode(out_dir), ctypes.byref(out)))
    return json.loads((out.value or b"{}").decode())


def _is_dask(executor: Any) -> bool:
    return type(executor).__module__.split(".")[0] == "distributed"


def run(jobs: Jobs, out_dir: PathLike, executor: Optional[Union[Executor, Any]] = None,
        shelf: Optional[PathLike] = None, progress: Optional[Callable[[int, int], None]] = None) -> Result:
    """Makes every variant of the jobs into out_dir that is not made yet.

    ``executor``: None builds one after another in this process; any
    ``concurrent.futures.Executor`` (threads or processes), or a Dask ``distributed.Client``
    (the workers need this package and the inputs at the same paths). Broken job lines and
    failing variants are reported in the result; the others go on. ``progress(done, total)`` is
    called as variants finish."""
    out = os.fspath(out_dir)
    try:
        os.makedirs(out, exist_ok=True)
    except OSError as e:
        raise Error(f"cannot make the output folder {out}: {e.strerror}", 4) from None
    if not os.access(out, os.W_OK):
        raise Error(f"cannot write into the output folder {out}", 4)
    text, base = _job_text(jobs)
    planned = plan(jobs, out)
    result = Result()
    result.failed.extend((f"line {e['line']}", e["message"]) for e in planned["errors"])
    result.skipped.extend(v["name"] for v in planned["variants"] if v["done"])
    todo = [v for v in planned["variants"] if not v["done"]]
    shelf_dir = os.fspath(shelf) if shelf is not None else None

    def finish(v: Dict[str, Any], error: Optional[str]) -> None:
        if error is None:
            status = _library.lib().ramulon_batch_record(v["job"].encode(), base.encode(), v["seed"], os.fsencode(out))
            error = None if status == 0 else (_library.lib().ramulon_last_error(None) or b"").decode()
        if error is None:
            result.built.append(v["name"])
        else:
            result.failed.append((v["name"], error))
        if progress is not None:
            progress(len(result.built) + len(result.failed), len(todo))

    if executor is None:
        for v in todo:
            finish(v, variant(v["job"], base, v["seed"], out, shelf_dir))
        return result

    if _is_dask(executor):
        from distributed import as_completed as dask_completed
        futures = {executor.submit(variant, v["job"], base, v["seed"], out, shelf_dir, pure=False): v for v in todo}
        completed: Iterable[Any] = dask_completed(list(futures))
    else:
        futures = {executor.submit(variant, v["job"], base, v["seed"], out, shelf_dir): v for v in todo}
        completed = as_completed(list(futures))
    for future in completed:
        v = futures[future]
        try:
            error = future.result()
        except Exception as e:  # a worker that died, or could not run the variant at all
            error = f"{type(e).__name__}: {e}"
        finish(v, error)
    return result
