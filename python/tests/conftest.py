"""What the package's tests share: the checkout, the command line to compare with, scratch."""
import hashlib
import os
import subprocess
from pathlib import Path

import pytest

SOURCE = Path(__file__).resolve().parents[2]
SAMPLES = SOURCE / "samples"
PRESETS = sorted((SAMPLES / "presets").glob("*.preset"))


def pytest_configure(config):
    config.addinivalue_line("markers", "dask: runs a local Dask cluster (ctest: python_dask)")


@pytest.fixture(scope="session")
def cli() -> str:
    """The `ramulon` program of the same build (RAMULON_CLI), or the checkout's build."""
    path = os.environ.get("RAMULON_CLI") or str(SOURCE / "build" / "ramulon")
    if not Path(path).is_file():
        pytest.skip(f"no ramulon program at {path}")
    return path


def run_cli(cli: str, *args: str, cwd=None) -> subprocess.CompletedProcess:
    return subprocess.run([cli, *args], capture_output=True, text=True, cwd=cwd)


def digest(path: Path) -> str:
    return hashlib.sha256(Path(path).read_bytes()).hexdigest()
