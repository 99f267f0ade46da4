"""The package grows the command line's trees bit for bit: journals and GLB bytes of the shipped
presets, and every file of the other formats and options."""
import hashlib

import pytest

import ramulon
from conftest import PRESETS, SAMPLES, digest, run_cli


@pytest.mark.parametrize("preset", PRESETS, ids=lambda p: p.stem)
def test_shipped_presets_give_the_command_lines_journal_and_glb(cli, tmp_path, preset):
    made = run_cli(cli, "build", "--preset", str(preset), "--set", "random_seed=17",
                   "--journal", str(tmp_path / "cli.journal"), "--output", str(tmp_path / "cli.glb"))
    assert made.returncode == 0, made.stderr

    tree = ramulon.grow(preset=preset, seed=17, journal=True)
    tree.write(tmp_path / "py.glb")
    assert hashlib.sha256(tree.journal().encode()).hexdigest() == digest(tmp_path / "cli.journal")
    assert (tmp_path / "py.glb").read_bytes() == (tmp_path / "cli.glb").read_bytes()


@pytest.mark.parametrize("name, cli_options, options", [
    ("tree.obj", ["--subdivide", "1", "--textures", "none", "--crease-angle", "40"],
     dict(subdivide=1, textures="none", crease_angle=40)),
    ("tree.gltf", ["--lod", "3", "--impostor", "--compress", "--no-wind-colours"],
     dict(lod=3, impostor=True, compress=True, wind_colours=False)),
    ("tree.gltf", ["--compress", "quantize", "--wind-colours"], dict(compress="quantize", wind_colours=True)),
])
def test_other_formats_and_options_match_file_for_file(cli, tmp_path, name, cli_options, options):
    crown = SAMPLES / "tall_crown.obj"
    (tmp_path / "cli").mkdir()
    (tmp_path / "py").mkdir()
    made = run_cli(cli, "build", "--background", str(crown), "--set", "Render Type=SubD", "--set", "Branches=60",
                   "--set", "random_seed=2", *cli_options, "--output", str(tmp_path / "cli" / name))
    assert made.returncode == 0, made.stderr

    tree = ramulon.grow(crown=crown, seed=2, settings={"Render Type": "SubD", "Branches": 60})
    tree.write(tmp_path / "py" / name, **options)
    written = sorted(p.name for p in (tmp_path / "cli").iterdir())
    assert sorted(p.name for p in (tmp_path / "py").iterdir()) == written
    assert len(written) > 1
    for file in written:
        assert (tmp_path / "py" / file).read_bytes() == (tmp_path / "cli" / file).read_bytes(), file
