# The add-on's operators. Scripts rely on these names:
#   object.ramulon_tree_add   grow a tree from the active mesh (the crown)
#   object.ramulon_regrow     grow the active tree again from its stored settings and crown
#   object.ramulon_preset_apply / _add / _remove   the preset shelf
# From a script (and in background mode) each runs at once; from the interface a build runs on a
# worker thread with its progress in the status bar, and Esc cancels it.
import bpy

from . import growth, library, shelf


def _report_pending(operator):
    for kind, text in growth.take_reports():
        operator.report({kind}, text)


def _active_tree(context):
    obj = context.active_object
    if obj is None or obj.type != "MESH" or not obj.ramulon.is_tree:
        raise growth.UserError("Select a Ramulon tree")
    return obj


def _on_active_tree(operator, context, action):
    """Runs action(tree) on the active tree once its build in flight has ended; what the artist
    can mend comes back as the operator's one-line report."""
    try:
        tree = _active_tree(context)
        growth.wait(tree.ramulon.tree_id)
        action(tree)
    except growth.expected_errors() as error:
        operator.report({"ERROR"}, growth.one_line(error))
        return {"CANCELLED"}
    return {"FINISHED"}


class _Waiting:
    """Waits for a tree's build in flight as a modal operator: the status bar shows progress,
    Esc cancels and leaves the previous tree, and the operator's undo step holds the new tree."""

    def wait_for(self, context, tree_id):
        self.tree_id = tree_id
        self.timer = context.window_manager.event_timer_add(0.05, window=context.window)
        context.window_manager.modal_handler_add(self)
        return {"RUNNING_MODAL"}

    def modal(self, context, event):
        if event.type == "ESC" and event.value == "PRESS":
            growth.cancel_all()
        if event.type != "TIMER":
            return {"PASS_THROUGH"}
        growth.poll()
        _status(context, growth.progress_text())
        if growth.busy(self.tree_id) or self.tree_id in growth._wanted:
            return {"RUNNING_MODAL"}
        context.window_manager.event_timer_remove(self.timer)
        _status(context, None)
        reports = growth.take_reports()
        for kind, text in reports:
            self.report({kind}, text)
        return self.ended(context, reports)

    def cancel(self, context):
        # Blender ends modal operators itself when a file is opened; a build in flight goes on
        # and the timer puts it into its tree.
        context.window_manager.event_timer_remove(self.timer)
        RAMULON_OT_watch.running = False
        if growth.busy() and not bpy.app.timers.is_registered(_poll_timer):
            bpy.app.timers.register(_poll_timer, first_interval=0.05)


def _status(context, text):
    if context.workspace is not None:
        context.workspace.status_text_set(text or None)
    for area in context.screen.areas if context.screen else ():
        if area.type in ("VIEW_3D", "PROPERTIES"):
            area.tag_redraw()


class RAMULON_OT_tree_add(_Waiting, bpy.types.Operator):
    """Grow a Ramulon tree in the selected mesh, its crown"""
    bl_idname = "object.ramulon_tree_add"
    bl_label = "Ramulon Tree"
    bl_options = {"REGISTER", "UNDO"}

    @classmethod
    def poll(cls, context):
        return context.mode == "OBJECT"

    def _start(self, context):
        if library.ramulon() is None:
            raise growth.UserError(library.error())
        crown = context.active_object
        if crown is None:
            raise growth.UserError("Select a mesh object as the crown")
        if crown.type != "MESH":
            raise growth.UserError(f'"{crown.name}" is no mesh: the crown must be a mesh object')
        if crown.ramulon.is_tree:
            raise growth.UserError(f'"{crown.name}" is a Ramulon tree: select its crown instead')
        growth.read_crown(crown)  # a crown without faces stops here
        return growth.new_tree(crown, context)

    def execute(self, context):
        tree = None
        try:
            tree = self._start(context)
            growth.grow_now(tree)
        except growth.expected_errors() as error:
            _discard(tree)
            self.report({"ERROR"}, growth.one_line(error))
            return {"CANCELLED"}
        growth.place(tree, context)
        return {"FINISHED"}

    def invoke(self, context, event):
        try:
            self.tree = self._start(context)
        except growth.expected_errors() as error:
            self.report({"ERROR"}, growth.one_line(error))
            return {"CANCELLED"}
        self.tree_name = self.tree.name
        if not growth.request(self.tree):
            _discard(self.tree)
            _report_pending(self)
            return {"CANCELLED"}
        return self.wait_for(context, self.tree.ramulon.tree_id)

    def ended(self, context, reports):
        tree = bpy.data.objects.get(self.tree_name)
        if tree is None or growth.stale(tree):  # cancelled or refused: no tree at all
            _discard(tree)
            return {"CANCELLED"}
        growth.place(tree, context)
        return {"FINISHED"}


def _discard(tree):
    if tree is None:
        return
    mesh = tree.data
    bpy.data.objects.remove(tree)
    if mesh is not None and mesh.users == 0:
        bpy.data.meshes.remove(mesh)


class RAMULON_OT_regrow(_Waiting, bpy.types.Operator):
    """Grow the active Ramulon tree again from its settings and its crown"""
    bl_idname = "object.ramulon_regrow"
    bl_label = "Regrow"
    bl_options = {"REGISTER", "UNDO"}

    @classmethod
    def poll(cls, context):
        obj = context.active_object
        return obj is not None and obj.type == "MESH" and obj.ramulon.is_tree

    def execute(self, context):
        return _on_active_tree(self, context, lambda tree: growth.grow_now(tree))

    def invoke(self, context, event):
        try:
            tree = _active_tree(context)
        except growth.expected_errors() as error:
            self.report({"ERROR"}, growth.one_line(error))
            return {"CANCELLED"}
        if not growth.request(tree):
            _report_pending(self)
            return {"CANCELLED"}
        return self.wait_for(context, tree.ramulon.tree_id)

    def ended(self, context, reports):
        if any(kind == "ERROR" or "cancelled" in text for kind, text in reports):
            return {"CANCELLED"}
        return {"FINISHED"}


class RAMULON_OT_watch(_Waiting, bpy.types.Operator):
    """Follows the live regrowth of Ramulon trees (progress in the status bar, Esc cancels)"""
    bl_idname = "object.ramulon_watch"
    bl_label = "Ramulon Regrowth"
    bl_options = {"INTERNAL"}
    running = False

    def invoke(self, context, event):
        if RAMULON_OT_watch.running:
            return {"CANCELLED"}
        RAMULON_OT_watch.running = True
        return self.wait_for(context, None)

    def ended(self, context, reports):
        RAMULON_OT_watch.running = False
        return {"FINISHED"}


def watch():
    """Starts the watcher of live builds in the first window, or a timer where there is none."""
    if RAMULON_OT_watch.running:
        return
    windows = bpy.context.window_manager.windows
    if windows:
        window = windows[0]
        area = next((a for a in window.screen.areas if a.type == "VIEW_3D"), window.screen.areas[0])
        try:
            with bpy.context.temp_override(window=window, area=area, screen=window.screen):
                bpy.ops.object.ramulon_watch("INVOKE_DEFAULT")
            return
        except (RuntimeError, AttributeError, TypeError):
            pass
    if not bpy.app.timers.is_registered(_poll_timer):
        bpy.app.timers.register(_poll_timer, first_interval=0.05)


def _poll_timer():
    return 0.05 if growth.poll() else None


class RAMULON_OT_cancel(bpy.types.Operator):
    """Stop the Ramulon build in flight; the previous tree stays"""
    bl_idname = "object.ramulon_cancel"
    bl_label = "Cancel Build"

    @classmethod
    def poll(cls, context):
        return growth.busy()

    def execute(self, context):
        growth.cancel_all()
        return {"FINISHED"}


class RAMULON_OT_preset_apply(bpy.types.Operator):
    """Apply a preset of the shelf to the active tree and grow it"""
    bl_idname = "object.ramulon_preset_apply"
    bl_label = "Apply Preset"
    bl_options = {"REGISTER", "UNDO"}
    name: bpy.props.StringProperty(name="Preset")

    @classmethod
    def poll(cls, context):
        return RAMULON_OT_regrow.poll(context)

    def execute(self, context):
        def apply(tree):
            shelf.apply(tree, self.name)
            growth.grow_now(tree)
        return _on_active_tree(self, context, apply)


class RAMULON_OT_preset_add(bpy.types.Operator):
    """Put the active tree's settings on the preset shelf, with its thumbnail"""
    bl_idname = "object.ramulon_preset_add"
    bl_label = "Add Preset"
    bl_options = {"REGISTER"}
    name: bpy.props.StringProperty(name="Name", default="My tree")
    replace: bpy.props.BoolProperty(name="Replace a preset of that name", default=False)

    @classmethod
    def poll(cls, context):
        return RAMULON_OT_regrow.poll(context)

    def invoke(self, context, event):
        return context.window_manager.invoke_props_dialog(self)

    def execute(self, context):
        result = _on_active_tree(self, context, lambda tree: shelf.add(tree, self.name.strip(), self.replace))
        if result == {"FINISHED"}:
            self.report({"INFO"}, f'Preset "{self.name.strip()}" is on the shelf')
        return result


class RAMULON_OT_preset_remove(bpy.types.Operator):
    """Take a preset off the shelf"""
    bl_idname = "object.ramulon_preset_remove"
    bl_label = "Remove Preset"
    bl_options = {"REGISTER"}
    name: bpy.props.StringProperty(name="Preset")

    def invoke(self, context, event):
        return context.window_manager.invoke_confirm(self, event)

    def execute(self, context):
        try:
            shelf.remove(self.name)
        except growth.expected_errors() as error:
            self.report({"ERROR"}, growth.one_line(error))
            return {"CANCELLED"}
        return {"FINISHED"}


classes = (RAMULON_OT_tree_add, RAMULON_OT_regrow, RAMULON_OT_watch, RAMULON_OT_cancel,
           RAMULON_OT_preset_apply, RAMULON_OT_preset_add, RAMULON_OT_preset_remove)
