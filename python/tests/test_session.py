"""The package's own layer: controls, crowns, trees as views, presets and the shelf, cancelling,
and what it does with bad input."""
import gc
import threading

import numpy as np
import pytest

import ramulon
from conftest import PRESETS, SAMPLES, run_cli

LEAFY = SAMPLES / "presets" / "leafy.preset"


@pytest.fixture
def session(tmp_path):
    with ramulon.Session(shelf=tmp_path / "shelf") as s:
        yield s


def test_controls_read_and_set_in_the_panels_units(session):
    controls = session.controls
    labels = [c.label for c in controls]
    assert "Branches" in labels and "Render Type" in labels and len(controls) == len(labels)
    branches = controls["Branches"]
    assert (branches.id, branches.name, branches.tab, branches.kind) == (32770, "num_branches", "Tree", "integer")
    assert controls["num_branches"] is branches and controls[32770] is branches and controls["tree/branches"] is branches
    assert controls["Render Type"].choices == ["Skeleton", "Polygonal", "SubD"]

    controls["Branches"] = 0  # the tool's own clamp, as on its panel
    assert branches.value == 2
    crooked = controls["Tree/Branch crookedness"]
    assert crooked.kind == "angle" and crooked.range == (0.0, 45.0)
    crooked.value = 20.5
    assert crooked.value == pytest.approx(20.5) and crooked.text.endswith("°")
    controls["Tree center"] = "55 %"
    assert controls["Tree center"].value == pytest.approx(55.0)
    controls["Sort branches"] = True
    assert controls["Sort branches"].value is True and controls["Sort branches"].text == "on"
    controls["Render Type"] = "SubD"
    assert controls["Render Type"].value == 2 and controls["Render Type"].text == "SubD"
    controls.set("diverge", 0.5)  # a field without a control, as --set takes it
    assert controls.values()["num_branches"] == 2

    controls.reset()
    assert branches.value == 150 and controls["Render Type"].text == "Skeleton"


def test_control_errors_are_the_command_lines(session, cli):
    refused = run_cli(cli, "build", "--set", "Brnches=10")
    with pytest.raises(ramulon.Error) as e:
        session.controls["Brnches"] = 10
    assert e.value.code == "not_found"
    assert f"ramulon: {e.value}" == refused.stderr.strip()

    refused = run_cli(cli, "build", "--set", "Render Type=Cubes")
    with pytest.raises(ramulon.Error) as e:
        session.controls["Render Type"] = "Cubes"
    assert e.value.code == "argument" and f"ramulon: {e.value}" == refused.stderr.strip()

    with pytest.raises(ramulon.Error, match="no control with the id 4"):
        session.controls[4]
    with pytest.raises(ramulon.Error, match="takes a number, a string"):
        session.controls["Branches"] = [10]
    with pytest.raises(ramulon.Error, match="is a button"):
        session.controls["Add Preset"].value = 1
    assert "Brnches" not in session.controls and "Branches" in session.controls


def test_tree_arrays_are_read_only_views_that_outlive_session_and_tree(tmp_path):
    session = ramulon.Session()
    session.load_preset(LEAFY)
    tree = session.build()
    points, corners = tree.points, tree.polygons.corners
    leaf = tree.map("RM_leaf")
    assert points.dtype == np.float64 and points.shape == (tree.point_count, 3)
    assert corners.dtype == np.int32 and tree.polygons.offsets.dtype == np.uint64
    assert tree.polygons.types.dtype == np.uint32 and tree.polygons.surfaces.dtype == np.int32
    assert leaf.kind == "TXUV" and leaf.values.shape == (tree.point_count, 2) and leaf.values.dtype == np.float32
    assert leaf.presence.dtype == np.uint8 and int(leaf.mask.sum()) == leaf.stored
    assert not points.flags.writeable and not points.flags.owndata
    with pytest.raises(ValueError):
        points[0, 0] = 1.0
    assert set(tree.surface_names) == {"RM_trunk", "RM_branch", "RM_twig", "RM_root", "VF_leaf"}
    colours = tree.tags["COLR"]
    assert {tree.names[i] for i in np.unique(colours) if i >= 0} == {"Brown", "Blue", "Green"}
    seams = [m for m in tree.polygon_maps if m.name == "RM_branch"][0]
    assert seams.kind == "TXUV" and len(seams.points) == len(seams.polygons) == len(seams.values) > 0
    for polygon, point in zip(seams.polygons[::97], seams.points[::97]):
        assert point in tree.polygons[int(polygon)]  # a value of a corner of its own polygon
    first = tree.polygons[0]
    assert list(first) == list(corners[: len(first)]) and tree.polygons.type_name(0) in ("FACE", "PTCH")

    kept = points.copy()
    session.close()
    del tree, session
    gc.collect()
    assert np.array_equal(points, kept)  # the views hold the library's arrays


def test_crowns_from_files_arrays_and_bad_arrays(session):
    session.load_crown(SAMPLES / "flat_crown.obj")
    flat = session.build().point_count
    box = np.array([[-1, 2, -1], [1, 2, -1], [1, 2, 1], [-1, 2, 1],
                    [-1, 4, -1], [1, 4, -1], [1, 4, 1], [-1, 4, 1]], dtype=float)
    faces = [[0, 1, 2, 3], [7, 6, 5, 4], [0, 4, 5, 1], [1, 5, 6, 2], [2, 6, 7, 3], [3, 7, 4, 0]]
    session.load_crown(box, faces)
    as_lists = session.build()
    offsets = np.arange(0, 25, 4)
    session.load_crown(box, (offsets, np.concatenate(faces)))
    as_arrays = session.build()
    assert np.array_equal(as_lists.points, as_arrays.points) and as_lists.point_count != flat

    bad = box.copy()
    bad[3, 1] = np.nan
    for points, polygons, message in [
        (bad, faces, "not a finite number"),
        (box, [[0, 1, 8]], "corner 8"),
        (box, [[0, -1, 2]], "corner -1"),
        (box[:, :2], faces, r"\(N, 3\)"),
        (box, [[0, 1]], "no faces"),
        (box, (np.array([0, 4, 2]), np.concatenate(faces)), "decrease"),
    ]:
        with pytest.raises(ramulon.Error, match=message) as e:
            session.load_crown(points, polygons)
        assert e.value.code == "argument"
    with pytest.raises(ramulon.Error) as e:
        session.load_crown(SAMPLES / "no_such_crown.obj")
    assert e.value.code == "io"
    assert np.array_equal(session.build().points, as_arrays.points)  # the crown before stays


def test_presets_and_the_shelf(session, tmp_path):
    session.load_preset(LEAFY)
    session.controls["Branches"] = 77
    session.save_preset(tmp_path / "mine.preset")
    session.controls.reset()
    session.load_preset(tmp_path / "mine.preset")
    assert session.controls["Branches"].value == 77

    with pytest.raises(ramulon.Error) as e:
        session.shelf.add("oak")
    assert e.value.code == "no_tree"
    tree = session.build()
    session.shelf.add("oak")
    assert session.shelf.list() == ["oak"] and session.shelf.folder == str(tmp_path / "shelf")
    assert session.shelf.thumbnail("oak")[:8] == b"\x89PNG\r\n\x1a\n"
    assert tree.thumbnail() == session.thumbnail() == session.shelf.thumbnail("oak")
    with pytest.raises(ramulon.Error, match="already on the shelf"):
        session.shelf.add("oak")
    session.shelf.add("oak", force=True)
    with pytest.raises(ramulon.Error, match="letters, digits"):
        session.shelf.add("../oak")
    session.controls.reset()
    session.load_preset("oak")  # by name, from the session's shelf
    assert session.controls["Branches"].value == 77
    session.shelf.remove("oak")
    assert session.shelf.list() == []
    with pytest.raises(ramulon.Error) as e:
        session.shelf.remove("oak")
    assert e.value.code == "not_found"
    broken = tmp_path / "broken.preset"
    broken.write_text(LEAFY.read_text()[:40])
    with pytest.raises(ramulon.Error, match="lenient"):
        session.load_preset(broken)
    session.load_preset(broken, lenient=True)


def test_progress_cancel_and_busy(session):
    session.load_preset(LEAFY)
    steps = []
    session.build(progress=lambda title, done, total: steps.append((title, done, total)))
    assert steps[0][0] == "Randomising positions..." and any(t == "Writing the tree" for t, _, _ in steps)

    with pytest.raises(ramulon.Cancelled):
        session.build(progress=lambda title, done, total: done < 3)

    # Another thread cancels while the build is held at its first step.
    started, release = threading.Event(), threading.Event()
    seen = []

    def hold(title, done, total):
        started.set()
        release.wait()

    def build():
        try:
            session.build(progress=hold)
        except ramulon.Error as e:
            seen.append(e)

    builder = threading.Thread(target=build)
    builder.start()
    started.wait()
    with pytest.raises(ramulon.Error) as busy:
        session.controls["Branches"] = 10
    assert busy.value.code == "busy"
    session.cancel()
    release.set()
    builder.join()
    assert len(seen) == 1 and isinstance(seen[0], ramulon.Cancelled)

    def fails(title, done, total):
        raise KeyError("from the callback")

    with pytest.raises(KeyError, match="from the callback"):
        session.build(progress=fails)
    assert session.build().point_count > 0


def test_memory_limit_and_closed_sessions(session):
    with pytest.raises(ramulon.Error, match="^Tree too large") as e:
        session.build(memory_limit="1K")
    assert e.value.code == "refused"
    with pytest.raises(ramulon.Error, match="memory size"):
        session.build(memory_limit="lots")
    session.close()
    with pytest.raises(ramulon.Error) as e:
        session.build()
    assert e.value.code == "handle"


def test_generations_and_module_files(cli):
    import pathlib
    older = ramulon.Session(generation=9)
    assert older.controls[32810].value == "1.6.24"
    module = pathlib.Path(cli).parent / "RamulonVE11.so"
    assert ramulon.Session(module=module).controls[32810].value == "1.6.28"
    with pytest.raises(ramulon.Error) as e:
        ramulon.Session(module="/nonexistent/module.so")
    assert e.value.code == "module" and "cannot load module" in str(e.value)
    with pytest.raises(ramulon.Error):
        ramulon.Session(generation=12)
