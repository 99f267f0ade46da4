"""Many trees at once: `ramulon batch` and ramulon.batch.run on every kind of executor give the
same files, a run goes on where the last stopped, and bad jobs are reported without stopping
the rest."""
import json
import os
from concurrent.futures import ThreadPoolExecutor

import pytest

from ramulon import Error, batch
from conftest import SAMPLES, run_cli

JOBS = [
    {"name": "small", "set": {"Branches": 24, "Render Type": "Polygonal", "Twig/Type": "random"},
     "seeds": [1, 3], "outputs": ["glb", "png", "journal"]},
    {"name": "tall", "crown": "crowns/tall_crown.obj", "set": {"Branches": 20}, "seed": 5,
     "outputs": ["obj", "gltf"], "textures": "none", "lod": 2, "compress": "quantize", "wind_colours": True},
]


@pytest.fixture
def jobs_file(tmp_path):
    (tmp_path / "crowns").mkdir()
    (tmp_path / "crowns" / "tall_crown.obj").write_bytes((SAMPLES / "tall_crown.obj").read_bytes())
    path = tmp_path / "jobs.jsonl"
    lines = [json.dumps(JOBS[0]), "{\"name\": \"broken\" ", json.dumps(JOBS[1]),
             json.dumps({"name": "typo", "set": {"Brnches": 3}, "seed": 1})]
    path.write_text("\n".join(lines) + "\n")
    return path


def files(folder):
    return {p.name: p.read_bytes() for p in sorted(folder.iterdir()) if p.name != "ramulon-batch.ledger"}


def test_the_command_line_and_every_executor_write_the_same_files(cli, jobs_file, tmp_path):
    made = run_cli(cli, "batch", str(jobs_file), "--out", str(tmp_path / "cli"), "-j", "2")
    assert made.returncode == 1  # a broken line and a failing variant
    assert f"{jobs_file}:2: not a JSON object" in made.stderr
    assert "typo-1 failed: unknown parameter \"Brnches\"" in made.stderr
    assert "built 4 variants, skipped 0 already made, 1 failed, 1 broken job lines" in made.stdout
    expected = files(tmp_path / "cli")
    assert {"small-1.glb", "small-3.png", "small-2.journal", "tall-5.obj", "tall-5.gltf", "tall-5.bin"} <= set(expected)

    for name, executor in [("none", None), ("threads", ThreadPoolExecutor(2))]:
        result = batch.run(jobs_file, tmp_path / name, executor=executor)
        assert sorted(result.built) == ["small-1", "small-2", "small-3", "tall-5"]
        assert [f for f, _ in result.failed] == ["line 2", "typo-1"] and not result.ok
        assert files(tmp_path / name) == expected, name

    # The same build from `ramulon build` is the same bytes.
    one = run_cli(cli, "build", "--set", "Branches=24", "--set", "Render Type=Polygonal", "--set",
                  "Twig/Type=random", "--set", "random_seed=2", "--output", str(tmp_path / "one.glb"))
    assert one.returncode == 0, one.stderr
    assert (tmp_path / "one.glb").read_bytes() == expected["small-2.glb"]


def test_a_run_goes_on_where_the_last_stopped(cli, jobs_file, tmp_path):
    out = tmp_path / "out"
    first = batch.run(jobs_file, out)
    assert len(first.built) == 4
    again = run_cli(cli, "batch", str(jobs_file), "--out", str(out))
    assert "built 0 variants, skipped 4 already made" in again.stdout

    (out / "small-2.glb").unlink()
    job = dict(JOBS[1], set={"Branches": 21})  # a changed job line makes its variants again
    lines = jobs_file.read_text().splitlines()
    lines[2] = json.dumps(job)
    jobs_file.write_text("\n".join(lines) + "\n")
    resumed = batch.run(jobs_file, out, executor=ThreadPoolExecutor(2))
    assert sorted(resumed.built) == ["small-2", "tall-5"]
    assert sorted(resumed.skipped) == ["small-1", "small-3"]


def test_bad_folders_and_jobs(cli, jobs_file, tmp_path):
    blocker = tmp_path / "file"
    blocker.write_text("")
    with pytest.raises(Error) as e:
        batch.run([JOBS[0]], blocker / "out")
    assert e.value.code == "io"
    refused = run_cli(cli, "batch", str(jobs_file), "--out", str(blocker / "out"))
    assert refused.returncode == 1 and "cannot write into the output folder" in refused.stderr
    result = batch.run([{"name": "x", "seeds": [3, 1]}, {"name": "../up", "seed": 1},
                        {"name": "y", "seed": 1, "outputs": ["fbx"]}, {"name": "z", "seed": 1, "impostor": True, "outputs": ["obj"]},
                        {"name": "w", "seed": 1, "compress": "zip"}],
                       tmp_path / "out")
    messages = dict(result.failed)
    assert "FIRST <= LAST" in messages["line 1"] and "\"name\"" in messages["line 2"]
    assert "unknown output \"fbx\"" in messages["line 3"] and "need a glb or gltf output" in messages["line 4"]
    assert "\"compress\" must be true, false, \"meshopt\" or \"quantize\"" in messages["line 5"]
    assert not result.built and os.listdir(tmp_path / "out") == []


@pytest.mark.dask
def test_a_dask_cluster_writes_the_command_lines_files(cli, jobs_file, tmp_path):
    distributed = pytest.importorskip("distributed")
    made = run_cli(cli, "batch", str(jobs_file), "--out", str(tmp_path / "cli"))
    assert made.returncode == 1
    with distributed.LocalCluster(n_workers=2, threads_per_worker=1, processes=True, host="127.0.0.1",
                                  dashboard_address=None) as cluster, distributed.Client(cluster) as client:
        result = batch.run(jobs_file, tmp_path / "dask", executor=client)
    assert sorted(result.built) == ["small-1", "small-2", "small-3", "tall-5"]
    assert files(tmp_path / "dask") == files(tmp_path / "cli")
