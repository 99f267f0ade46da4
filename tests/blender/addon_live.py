# The add-on in Blender's window (under Xvfb, run by addon_run.sh):
#   blender --factory-startup --enable-event-simulate --python addon_live.py -- ZIP SOURCE_DIR WORK_DIR
# What needs Blender's event loop: an edit regrows the tree on its own (timers, the worker thread,
# the watcher), undo and redo bring back the matching tree, and Esc stops a build in flight and
# leaves the previous tree. Each step waits for a state, with a generous deadline.
import faulthandler
import os
import sys
import threading
import time

import bpy

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from addon_common import (arguments, blender_to_tool, check, compare, crown_from_obj, install,  # noqa: E402
                          library_tree, problems, select_only)

zip_path, source_dir, work = arguments()[:3]
DEADLINE = 300.0  # seconds a step may take on a loaded machine


def window_context():
    window = bpy.context.window_manager.windows[0]
    area = next(a for a in window.screen.areas if a.type == "VIEW_3D")
    region = next(r for r in area.regions if r.type == "WINDOW")
    return bpy.context.temp_override(window=window, area=area, region=region, screen=window.screen)


def steps():
    ramulon = install(zip_path)
    from ramulon_blender import growth
    for obj in list(bpy.data.objects):
        bpy.data.objects.remove(obj)
    crown, crown_points, faces = crown_from_obj(os.path.join(source_dir, "samples", "round_crown.obj"), "Crown")
    select_only(crown)
    with window_context():
        bpy.ops.object.ramulon_tree_add("EXEC_DEFAULT")
    tree_name = bpy.context.view_layer.objects.active.name

    def tree():
        return bpy.data.objects[tree_name]

    def settled():
        return not growth.busy() and not growth.stale(tree())

    base = {"render_type": "Polygonal", "Twig/Type": "random"}
    tree().ramulon.render_type = "Polygonal"  # "Render Type" regrows whatever the refresh mode
    yield settled
    tree().ramulon.twig_type = "random"
    yield settled
    with window_context():
        bpy.ops.ed.undo_push(message="Twig type")
    session, expected = library_tree(ramulon, blender_to_tool(crown_points), faces, base)
    compare(tree(), expected, "live: polygonal with random twigs")

    # An edit, pushed as the interface pushes a button's edit, regrows by itself.
    tree().ramulon.num_branches = 90
    with window_context():
        bpy.ops.ed.undo_push(message="Branches")
    yield settled
    edited = dict(base, num_branches=90)
    _, expected_edit = library_tree(ramulon, blender_to_tool(crown_points), faces, edited)
    compare(tree(), expected_edit, "live: Branches 90")

    # Undo brings back the tree before the edit; redo the edited one.
    with window_context():
        bpy.ops.ed.undo()
    yield settled
    check(tree().ramulon.num_branches == 150, f"after undo Branches is {tree().ramulon.num_branches}")
    compare(tree(), expected, "after undo")
    with window_context():
        bpy.ops.ed.redo()
    yield settled
    check(tree().ramulon.num_branches == 90, f"after redo Branches is {tree().ramulon.num_branches}")
    compare(tree(), expected_edit, "after redo")

    # Dragging a slider: many edits while a build runs start one more build, with the last value.
    tree().ramulon.num_branches = 100
    yield lambda: growth.busy() or settled()
    for count in range(110, 200, 10):
        tree().ramulon.num_branches = count
    yield settled
    _, dragged = library_tree(ramulon, blender_to_tool(crown_points), faces, dict(base, num_branches=190))
    compare(tree(), dragged, "after a drag to 190")

    # Esc during a long build: the build stops, the previous tree stays, the settings too. The
    # build is held at its first progress step until Esc has been taken: on a loaded machine a
    # whole build can otherwise end within one slow redraw, before anyone could press Esc.
    before = tree().data.get(growth.RECORD_KEY)
    vertices = len(tree().data.vertices)
    esc_taken = threading.Event()
    on_progress = growth.Job.on_progress

    def held(job, title, done, total):
        esc_taken.wait(DEADLINE)
        return on_progress(job, title, done, total)

    growth.Job.on_progress = held
    tree().ramulon.leaf_density = 40
    tree().ramulon.num_branches = 2000
    yield growth.busy
    window = bpy.context.window_manager.windows[0]
    window.event_simulate(type="ESC", value="PRESS")
    window.event_simulate(type="ESC", value="RELEASE")
    yield lambda: all(job.cancelled for job in growth._running.values())
    esc_taken.set()
    growth.Job.on_progress = on_progress
    yield lambda: not growth.busy()
    check(tree().data.get(growth.RECORD_KEY) == before and len(tree().data.vertices) == vertices,
          "Esc did not leave the previous tree")


def where():
    """What the add-on is doing, for a step that did not finish."""
    from ramulon_blender import growth, operators
    return (f"busy {growth.busy()}, wanted {sorted(growth._wanted)}, progress {growth.progress_text()!r}, "
            f"watcher {operators.RAMULON_OT_watch.running}, reports {growth._reports}")


def run():
    sequence = steps()
    state = {"wait": None, "since": time.monotonic()}
    started = time.monotonic()

    def tick():
        try:
            if state["wait"] is not None:
                if not state["wait"]():
                    if time.monotonic() - state["since"] > DEADLINE:
                        check(False, f"a step did not finish in time ({where()})")
                        raise StopIteration
                    return 0.1
            state["wait"] = next(sequence)
            state["since"] = time.monotonic()
            frame = sequence.gi_frame
            print(f"step at line {frame.f_lineno if frame else '?'}, {state['since'] - started:.1f} s in")
            sys.stdout.flush()
            # A main thread held up where no timer runs: every thread's stack, then the end.
            faulthandler.dump_traceback_later(DEADLINE + 60, exit=True)
            return 0.1
        except StopIteration:
            pass
        except Exception as error:  # the test's own failure: report it and stop
            import traceback
            traceback.print_exc()
            problems.append(f"unexpected error: {error}")
        print(f"{len(problems)} problem(s)" if problems else "all checks passed")
        sys.stdout.flush()
        os._exit(1 if problems else 0)

    bpy.app.timers.register(tick, first_interval=1.0)


run()
