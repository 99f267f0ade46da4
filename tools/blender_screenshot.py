# Takes the README's picture of Ramulon in Blender's own window: the round crown, a leafy tree
# grown in it, the sidebar tab "Ramulon" open. Run under Xvfb with the add-on installed from its
# zip into a temporary user folder (tools/blender_screenshot.sh does both):
#   blender --factory-startup --enable-event-simulate --python tools/blender_screenshot.py -- ZIP SOURCE_DIR OUT.png
import os
import shutil
import sys
import time

import bpy

zip_path, source_dir, out_path = sys.argv[sys.argv.index("--") + 1:][:3]
bpy.context.preferences.view.show_splash = False


def window_parts():
    window = bpy.context.window_manager.windows[0]
    area = max((a for a in window.screen.areas if a.type == "VIEW_3D"), key=lambda a: a.width * a.height)
    return window, area


def steps():
    bpy.ops.preferences.addon_install(filepath=zip_path, overwrite=True)
    bpy.ops.preferences.addon_enable(module="ramulon_blender")
    from ramulon_blender import ui
    # Notes when the Ramulon panel draws, to find its tab below.
    panel = ui.VIEW3D_PT_ramulon
    panel.drawn, plain_draw = 0.0, panel.draw

    def draw(self, context):
        type(self).drawn = time.monotonic()
        plain_draw(self, context)

    panel.draw = draw
    for obj in list(bpy.data.objects):
        if obj.type == "MESH":
            bpy.data.objects.remove(obj)
    # The round crown from the OBJ's numbers, shown as a wireframe.
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    from blender_crown import crown_from_obj
    crown = crown_from_obj(os.path.join(source_dir, "samples", "round_crown.obj"), "Crown")[0]
    crown.display_type = "WIRE"
    bpy.context.view_layer.objects.active = crown
    crown.select_set(True)
    window, area = window_parts()
    with bpy.context.temp_override(window=window, area=area):
        bpy.ops.object.ramulon_tree_add("EXEC_DEFAULT")
    tree = bpy.context.view_layer.objects.active
    # The leafy demo: the shipped preset, put on the shelf and applied from it.
    shelf = os.path.join(os.environ["HOME"], ".ramulon", "shelf")
    os.makedirs(shelf, exist_ok=True)
    for ext in ("preset", "png"):
        shutil.copy(os.path.join(source_dir, "samples", "presets", f"leafy.{ext}"), shelf)
    with bpy.context.temp_override(window=window, area=area):
        bpy.ops.object.ramulon_preset_apply("EXEC_DEFAULT", name="leafy")

    space = area.spaces.active
    space.show_region_ui = True
    space.shading.type = "MATERIAL"
    space.overlay.show_floor = True
    region = next(r for r in area.regions if r.type == "WINDOW")
    with bpy.context.temp_override(window=window, area=area, region=region):
        bpy.ops.view3d.view_selected()
        bpy.ops.view3d.view_axis(type="FRONT")
        bpy.ops.view3d.view_selected()
        bpy.ops.view3d.view_orbit(angle=0.35, type="ORBITUP")
    yield 2.0

    # The sidebar opens on its first tab: click down the tab column until "Ramulon" draws.
    sidebar = next(r for r in area.regions if r.type == "UI")
    x = sidebar.x + sidebar.width - 8
    for y in range(sidebar.y + sidebar.height - 20, sidebar.y + 40, -12):
        ui.VIEW3D_PT_ramulon.drawn = 0.0
        clicked = time.monotonic()
        window.event_simulate(type="MOUSEMOVE", value="NOTHING", x=x, y=y)
        window.event_simulate(type="LEFTMOUSE", value="PRESS", x=x, y=y)
        window.event_simulate(type="LEFTMOUSE", value="RELEASE", x=x, y=y)
        yield 0.3
        if ui.VIEW3D_PT_ramulon.drawn > clicked:
            break
    tree.select_set(False)  # the panel follows the active object; no outline over the leaves
    # Away from the panel, so no tooltip covers it.
    window.event_simulate(type="MOUSEMOVE", value="NOTHING", x=area.x + 40, y=area.y + 40)
    yield 2.0
    bpy.ops.screen.screenshot(filepath=out_path)
    yield 0.5
    bpy.ops.wm.quit_blender()


sequence = steps()


def tick():
    try:
        return next(sequence)
    except StopIteration:
        return None
    except Exception:
        import traceback
        traceback.print_exc()
        os._exit(1)


bpy.app.timers.register(tick, first_interval=2.0)
