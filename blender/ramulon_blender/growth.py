# Growing trees: one library session per tree (so an output-only edit redraws the skeleton it
# keeps), the crown read from Blender, and builds run either at once (operators' execute,
# background mode) or on a worker thread while Blender stays usable, one build in flight per tree
# and the newest settings winning.
#
# A session is used by one thread at a time: the main thread applies settings and loads the
# crown only while no build of that tree runs, the worker only builds, and the main thread reads
# the finished arrays before the next build starts.
import hashlib
import json
import os
import threading
import time
import uuid

import bpy
import numpy

from . import controls, library, mesh_out

RECORD_KEY = "ramulon_record"  # on the mesh: the record it was grown from


class UserError(Exception):
    """Something the artist can mend; its text is the one-line report."""


def one_line(error):
    text = str(error).strip().replace("\n", " ")
    return text or type(error).__name__


def expected_errors():
    return (UserError,) + library.library_errors()


def preferences():
    addon = bpy.context.preferences.addons.get(__package__)
    return addon.preferences if addon else None


def shelf_folder():
    """The shelf folder the preferences name ("" for the library's default), checked."""
    prefs = preferences()
    folder = bpy.path.abspath(prefs.shelf_folder) if prefs and prefs.shelf_folder else ""
    if folder and not os.path.isdir(folder):
        raise UserError(f'The shelf folder "{folder}" does not exist (Preferences > Add-ons > Ramulon)')
    return folder


def memory_limit():
    prefs = preferences()
    return prefs.memory_limit.strip() or None if prefs else None


# ---------------------------------------------------------------- the crown

def read_crown(crown):
    """The crown's faces in world space and the tool's axes: (points, (offsets, corners))."""
    if crown is None:
        raise UserError("Select a mesh object as the crown")
    if crown.type != "MESH":
        raise UserError(f'"{crown.name}" is no mesh: the crown must be a mesh object')
    # A crown without modifiers is read as it is; evaluating the scene for it would also
    # re-evaluate the tree just grown (a tenth of a second for a leafy one).
    evaluated = crown
    if crown.modifiers or (crown.data.shape_keys is not None):
        evaluated = crown.evaluated_get(bpy.context.evaluated_depsgraph_get())
    mesh = evaluated.to_mesh() if evaluated is not crown else crown.data
    try:
        count = len(mesh.vertices)
        co = numpy.empty(count * 3, dtype=numpy.float32)
        mesh.vertices.foreach_get("co", co)
        faces = len(mesh.polygons)
        start = numpy.empty(faces, dtype=numpy.int64)
        total = numpy.empty(faces, dtype=numpy.int64)
        mesh.polygons.foreach_get("loop_start", start)
        mesh.polygons.foreach_get("loop_total", total)
        loops = numpy.empty(len(mesh.loops), dtype=numpy.int32)
        mesh.loops.foreach_get("vertex_index", loops)
        matrix = numpy.array(evaluated.matrix_world, dtype=numpy.float64)
    finally:
        if evaluated is not crown:
            evaluated.to_mesh_clear()
    if faces == 0:
        raise UserError(f'Need something in BG Layer: the crown "{crown.name}" has no faces')
    offsets = numpy.zeros(faces + 1, dtype=numpy.int64)
    numpy.cumsum(total, out=offsets[1:])
    corners = loops[numpy.repeat(start - offsets[:-1], total) + numpy.arange(offsets[-1])]
    world = co.reshape(-1, 3).astype(numpy.float64)
    if not numpy.array_equal(matrix, numpy.identity(4)):
        world = world @ matrix[:3, :3].T + matrix[:3, 3]
    if not numpy.all(numpy.isfinite(world)):
        raise UserError(f'The crown "{crown.name}" has points that are not finite')
    # Blender's (x, y, z) with z up is the tool's (x, z, -y) with y up.
    points = numpy.column_stack((world[:, 0], world[:, 2], -world[:, 1]))
    return points, (offsets, corners.astype(numpy.int32))


def crown_digest(points, polygons):
    digest = hashlib.blake2b(digest_size=16)
    for array in (points, polygons[0], polygons[1]):
        digest.update(numpy.ascontiguousarray(array).tobytes())
    return digest.hexdigest()


# ---------------------------------------------------------------- sessions

class TreeSession:
    """A library session for one tree, with what it was last given."""

    def __init__(self):
        package = library.ramulon()
        if package is None:
            raise UserError(library.error())
        folder = shelf_folder()
        self.shelf = folder
        self.session = package.Session(shelf=folder or None)
        self.applied = {c.name: self.session.controls.get(c.name) for c in controls.controls()}
        self.crown = None  # digest of the crown loaded

    def close(self):
        self.session.close()

    def apply(self, values):
        """Sets each value that differs from what the session holds, as typed into the panel.
        Where the tool clamps a value, values takes the stored one. Raises the library's error
        for a value the tool refuses (values then keeps the session's)."""
        for c in controls.controls():
            wanted = values.get(c.name, self.applied[c.name])
            if wanted == self.applied[c.name]:
                continue
            try:
                self.session.controls.set(c.name, wanted)
            except library.library_errors():
                values[c.name] = self.applied[c.name]
                raise
            stored = self.session.controls.get(c.name)
            if isinstance(stored, float) and isinstance(wanted, (int, float)) and not isinstance(wanted, bool):
                clamped = abs(stored - wanted) > 1e-9 * max(1.0, abs(wanted))
            else:
                clamped = stored != wanted
            if clamped:
                values[c.name] = stored
            self.applied[c.name] = values[c.name]

    def load_crown(self, points, polygons):
        digest = crown_digest(points, polygons)
        if digest != self.crown:
            self.session.load_crown(points, polygons)
            self.crown = digest

    def read_all(self):
        """Every value as the session holds it now (after a preset, say)."""
        self.applied = {c.name: self.session.controls.get(c.name) for c in controls.controls()}
        return dict(self.applied)


_sessions = {}  # tree_id -> TreeSession


def session_for(obj):
    settings = obj.ramulon
    if not settings.tree_id:
        settings.tree_id = uuid.uuid4().hex
    session = _sessions.get(settings.tree_id)
    if session is None:
        session = TreeSession()
        _sessions[settings.tree_id] = session
    return session


def drop_sessions():
    for tree_id in list(_sessions):
        if tree_id not in _running:
            _sessions.pop(tree_id).close()


def find_tree(tree_id):
    for obj in bpy.data.objects:
        if obj.type == "MESH" and obj.ramulon.is_tree and obj.ramulon.tree_id == tree_id:
            return obj
    return None


def own_tree_id(obj):
    """A duplicated tree carries its original's id: it gets one of its own."""
    settings = obj.ramulon
    for other in bpy.data.objects:
        if other != obj and other.type == "MESH" and other.ramulon.is_tree and other.ramulon.tree_id == settings.tree_id:
            settings.tree_id = uuid.uuid4().hex
            break


def prepare(obj):
    """Brings the tree's session to the tree's settings and crown; returns (session, values)."""
    if obj.mode != "OBJECT":
        raise UserError(f'"{obj.name}" is in {obj.mode.title().replace("_", " ")} Mode: leave it to regrow')
    own_tree_id(obj)
    session = session_for(obj)
    settings = obj.ramulon
    values = controls.read_record(settings)
    try:
        session.apply(values)
    finally:
        controls.write_record(settings, values)
        controls.show_record(settings, values)
    crown = settings.crown
    if crown is not None:
        session.load_crown(*read_crown(crown))
    elif session.crown is None:
        raise UserError(f'"{obj.name}" has no crown: pick one in the Ramulon panel')
    return session, values


def record_text(values):
    return json.dumps(values, sort_keys=True)


def finish(obj, tree, values, times=None):
    """Puts a finished build into the tree object."""
    mesh_out.fill(obj, tree, obj.ramulon.subdivision_levels, times)
    obj.data[RECORD_KEY] = record_text(values)


def stale(obj):
    """Whether the tree's mesh was grown from other settings than the tree holds (after an
    undo step that caught an edit before its regrowth)."""
    return obj.data.get(RECORD_KEY) != record_text(controls.read_record(obj.ramulon))


def new_tree(crown, context):
    """A tree object for a crown, with the tool's defaults, not yet grown."""
    mesh = bpy.data.meshes.new("Ramulon Tree")
    obj = bpy.data.objects.new("Ramulon Tree", mesh)
    settings = obj.ramulon
    settings.is_tree = True
    settings.tree_id = uuid.uuid4().hex
    settings.crown = crown
    controls.write_record(settings, controls.defaults())
    collection = crown.users_collection[0] if crown.users_collection else context.scene.collection
    collection.objects.link(obj)
    return obj


def place(obj, context):
    for other in context.selected_objects:
        other.select_set(False)
    obj.select_set(True)
    context.view_layer.objects.active = obj


def grow_now(obj, progress=None):
    """Grows the tree at once; returns the seconds of each step. Raises UserError or the
    library's error, leaving the previous tree as it was."""
    started = time.perf_counter()
    session, values = prepare(obj)
    prepared = time.perf_counter()
    tree = session.session.build(progress=progress, memory_limit=memory_limit())
    built = time.perf_counter()
    times = {"settings": prepared - started, "build": built - prepared}
    finish(obj, tree, values, times)
    return times


# ---------------------------------------------------------------- builds on a worker thread

class Job:
    def __init__(self, tree_id, session, values):
        self.tree_id = tree_id
        self.session = session
        self.values = values
        self.state = "running"
        self.progress = ("", 0, 0)
        self.cancelled = False
        self.tree = None
        self.error = ""
        self.seconds = 0.0
        self.thread = threading.Thread(target=self.run, name="Ramulon build", daemon=True)

    def on_progress(self, title, done, total):
        self.progress = (title, done, total)
        return not self.cancelled

    def run(self):
        package = library.ramulon()
        started = time.perf_counter()
        try:
            self.tree = self.session.session.build(progress=self.on_progress, memory_limit=self._limit)
            self.state = "done"
        except package.Cancelled:
            self.state = "cancelled"
        except package.Error as error:
            self.state = "failed"
            self.error = one_line(error)
        except Exception as error:  # reported as one line like any other refusal
            self.state = "failed"
            self.error = one_line(error)
        self.seconds = time.perf_counter() - started

    def start(self, limit):
        self._limit = limit
        self.thread.start()

    def cancel(self):
        self.cancelled = True
        try:
            self.session.session.cancel()
        except library.library_errors():
            pass


_running = {}   # tree_id -> Job
_wanted = set()  # trees whose newest settings wait for the build in flight to end
_reports = []   # (kind, text) not yet shown


def report(kind, text):
    _reports.append((kind, text))
    del _reports[:-20]


def take_reports():
    out = list(_reports)
    _reports.clear()
    return out


def busy(tree_id=None):
    return tree_id in _running if tree_id else bool(_running)


def progress_text():
    for job in _running.values():
        title, done, total = job.progress
        share = f" {100 * done // total}%" if total else ""
        return f"Ramulon: {title or 'growing'}{share} (Esc cancels)"
    return ""


def request(obj):
    """Asks for the tree to be grown with its newest settings, on the worker thread; a request
    while its build runs is kept for when it ends (the newest settings win)."""
    tree_id = obj.ramulon.tree_id
    if tree_id in _running:
        _wanted.add(tree_id)
        return True
    try:
        session, values = prepare(obj)
    except expected_errors() as error:
        report("ERROR", one_line(error))
        return False
    job = Job(obj.ramulon.tree_id, session, values)
    _running[job.tree_id] = job
    job.start(memory_limit())
    return True


def poll():
    """Runs on the main thread: puts finished builds into their trees and starts the builds that
    waited. Returns whether a build still runs."""
    for tree_id, job in list(_running.items()):
        if job.state == "running":
            continue
        del _running[tree_id]
        if job.cancelled:  # Esc came after the library finished: the tree is not shown either
            job.state = "cancelled"
        obj = find_tree(tree_id)
        if job.state == "done" and obj is not None:
            try:
                if obj.mode != "OBJECT":
                    raise UserError(f'"{obj.name}" is in {obj.mode.title()} Mode: its new tree is not shown')
                finish(obj, job.tree, job.values)
            except expected_errors() as error:
                report("ERROR", one_line(error))
        elif job.state == "failed":
            report("ERROR", job.error)
        elif job.state == "cancelled":
            report("WARNING", "Ramulon: build cancelled, the previous tree stays")
            _wanted.discard(tree_id)
        job.tree = None
        if tree_id in _wanted:
            _wanted.discard(tree_id)
            if obj is not None:
                request(obj)
    return bool(_running)


def cancel_all():
    _wanted.clear()
    for job in _running.values():
        job.cancel()


def wait(tree_id, timeout=None):
    """Waits for a tree's build in flight (background mode and shutdown)."""
    job = _running.get(tree_id)
    if job is not None:
        job.thread.join(timeout)
    poll()


# ---------------------------------------------------------------- edits from the sidebar

def automatic(values):
    refresh = controls.control("refresh_mode")
    if refresh is None:
        return True
    return refresh.choices[int(values.get("refresh_mode", 0))] == "Automatic"


def edited(obj, field):
    """A property of the sidebar changed: record it as the panel's value, let the tool clamp
    it, and regrow when the tool would (Automatic refresh; "Render Type" always)."""
    settings = obj.ramulon
    c = controls.control(field)
    values = controls.read_record(settings)
    if controls.same_in_blender(c, values[field], getattr(settings, field)):
        return
    values[field] = controls.from_blender(c, getattr(settings, field))
    session = _sessions.get(settings.tree_id)
    if session is not None and not busy(settings.tree_id):
        try:
            session.apply(values)
        except library.library_errors() as error:
            report("ERROR", one_line(error))
    controls.write_record(settings, values)
    controls.show_record(settings, values)
    regrow = automatic(values) or field == "render_type"
    if regrow and not bpy.app.background:
        live(obj)


# Live regrowth from the interface: the watcher (operators.py) polls and takes Esc; a timer
# starts it outside the property update that asked.
_live = set()


def live(obj):
    _live.add(obj.ramulon.tree_id)
    if not bpy.app.timers.is_registered(_kick):
        bpy.app.timers.register(_kick, first_interval=0.0)


def _kick():
    for tree_id in list(_live):
        _live.discard(tree_id)
        obj = find_tree(tree_id)
        if obj is not None:
            request(obj)
    from . import operators
    if _running:
        operators.watch()
    return None


def regrow_stale(trees):
    """After an undo or redo step: trees whose mesh is from other settings grow again."""
    for obj in trees:
        if not stale(obj):
            continue
        if bpy.app.background:
            try:
                grow_now(obj)
            except expected_errors() as error:
                report("ERROR", one_line(error))
        else:
            live(obj)
