/*
 * libramulon: Ramulon's tree generator as a library, for C and anything that calls C (C++,
 * Python's ctypes, C#, Rust).
 *
 * A session is one tree tool in one stand-in modeller: it loads a plug-in module, holds a crown
 * in its background layer and the tool's panel, and builds trees. A build gives a tree: flat
 * arrays of points, polygons, maps and tags that the caller reads in place, and that it can
 * write as OBJ or glTF with the options of `ramulon build`.
 *
 *     ramulon_session *s = NULL;
 *     ramulon_tree *tree = NULL;
 *     if (ramulon_session_new(NULL, 11, &s) != RAMULON_OK) { puts(ramulon_last_error(NULL)); ... }
 *     ramulon_set(s, "Render Type", "Polygonal");
 *     ramulon_set(s, "random_seed", "7");
 *     if (ramulon_build(s, NULL, &tree) != RAMULON_OK) { puts(ramulon_last_error(s)); ... }
 *     ramulon_tree_write(tree, "oak.glb", NULL);
 *     ramulon_tree_free(tree);
 *     ramulon_session_free(s);
 *
 * Every call returns a status (RAMULON_OK or an error code below); its one-line explanation is
 * ramulon_last_error(session) for calls on a session, and ramulon_last_error(NULL) for the last
 * failed call of the calling thread (any call).
 *
 * Handles. Sessions and trees are opaque handles. A handle that was freed (or never was one) is
 * recognised by every call, which then returns RAMULON_ERROR_HANDLE: every call is safe with a
 * freed handle, and freeing twice is harmless. Handles are never reused within a process.
 *
 * Threads. Sessions are independent: each loads a copy of its module of its own, so sessions in
 * different threads build at the same time and each gives exactly the tree it gives alone. One
 * session is used by one thread at a time; a call on a session whose build runs in another
 * thread returns RAMULON_ERROR_BUSY, except ramulon_cancel, ramulon_last_error and
 * ramulon_session_free (which cancels the build and frees the session once it has stopped).
 * A tree may be read from any thread; it is never changed after its build.
 *
 * Strings returned (const char *) are UTF-8 and belong to the library: those of a session stay
 * valid until the next call on that session, those of a tree until the tree is freed, unless a
 * function says otherwise.
 */
#ifndef RAMULON_RAMULON_H
#define RAMULON_RAMULON_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(RAMULON_BUILDING_LIBRARY) && defined(__GNUC__)
#define RAMULON_API __attribute__((visibility("default")))
#else
#define RAMULON_API
#endif

/* ---------------------------------------------------------------------------------- version */

#define RAMULON_VERSION_MAJOR 1
#define RAMULON_VERSION_MINOR 6
#define RAMULON_VERSION_PATCH 28
#define RAMULON_VERSION "1.6.28"
/* The interface generation of this header: the shared library's SONAME is libramulon.so.1 and
   changes only when a call changes incompatibly. */
#define RAMULON_ABI_VERSION 1

/* The library's version text ("1.6.28"); compare with RAMULON_VERSION. */
RAMULON_API const char *ramulon_version(void);
/* RAMULON_VERSION_MAJOR * 10000 + MINOR * 100 + PATCH of the library. */
RAMULON_API int ramulon_version_number(void);

/* ----------------------------------------------------------------------------------- status */

typedef struct ramulon_session ramulon_session;
typedef struct ramulon_tree ramulon_tree;

typedef enum ramulon_status {
    RAMULON_OK = 0,
    RAMULON_ERROR_ARGUMENT = 1,  /* a null pointer, an index out of range, a non-finite coordinate,
                                    a value of the wrong kind or one the control does not take */
    RAMULON_ERROR_NOT_FOUND = 2, /* no such control, preset, shelf entry or map */
    RAMULON_ERROR_MODULE = 3,    /* the module cannot be loaded or activated */
    RAMULON_ERROR_IO = 4,        /* a file cannot be read or written (nothing half-written stays) */
    RAMULON_ERROR_REFUSED = 5,   /* the tool refused or failed the build (its message says why) */
    RAMULON_ERROR_CANCELLED = 6, /* the build was cancelled */
    RAMULON_ERROR_BUSY = 7,      /* the session is building in another thread */
    RAMULON_ERROR_NO_TREE = 8,   /* the call needs a build of this session first */
    RAMULON_ERROR_MEMORY = 9,    /* memory ran out */
    RAMULON_ERROR_HANDLE = 10    /* not a live session or tree (null, freed, or never one) */
} ramulon_status;

/* The explanation of the last failed call on this session, or with session NULL the last failed
   call of the calling thread; "" when there was none. Valid until the next failing call. */
RAMULON_API const char *ramulon_last_error(const ramulon_session *session);
/* The name of a status ("ok", "argument", "not_found", "module", "io", "refused", "cancelled",
   "busy", "no_tree", "memory", "handle"); "unknown" for other numbers. */
RAMULON_API const char *ramulon_status_name(int status);

/* ---------------------------------------------------------------------------------- session */

/* Opens a session: loads a copy of the module, activates its tool for a host of this generation
   (9, 10 or 11), picks the tool and makes its panel. module NULL: the module of that generation
   built into the library; otherwise the path of a module file. The crown is the built-in one
   until ramulon_load_crown_*; the shelf folder is ~/.ramulon/shelf until ramulon_set_shelf. */
RAMULON_API int ramulon_session_new(const char *module, int generation, ramulon_session **out);
/* Frees the session; a build running in another thread is cancelled first. NULL and freed
   handles are ignored. Trees of the session stay valid. */
RAMULON_API void ramulon_session_free(ramulon_session *session);

/* ------------------------------------------------------------------------------------ crown */

/* The crown from an OBJ file (its faces grow the tree). */
RAMULON_API int ramulon_load_crown_file(ramulon_session *session, const char *path);
/* The crown from arrays: point_count points as x, y, z doubles (finite), polygon_count polygons
   whose corners are corners[offsets[i]] .. corners[offsets[i + 1] - 1] (offsets has
   polygon_count + 1 entries, offsets[0] = 0, never decreasing; every corner a point index). */
RAMULON_API int ramulon_load_crown_arrays(ramulon_session *session, const double *points,
                                          size_t point_count, const uint64_t *offsets,
                                          const int32_t *corners, size_t polygon_count);
/* The built-in crown again. */
RAMULON_API int ramulon_load_crown_default(ramulon_session *session);

/* ------------------------------------------------------------------------------------ panel */

typedef enum ramulon_control_kind {
    RAMULON_CONTROL_INTEGER = 0,
    RAMULON_CONTROL_NUMBER = 1,
    RAMULON_CONTROL_DISTANCE = 2, /* a number of metres */
    RAMULON_CONTROL_ANGLE = 3,    /* degrees on the panel */
    RAMULON_CONTROL_PERCENT = 4,  /* percent on the panel */
    RAMULON_CONTROL_CHOICE = 5,   /* an index into the choices */
    RAMULON_CONTROL_CHECKBOX = 6, /* 0 or 1 */
    RAMULON_CONTROL_BUTTON = 7,   /* no value: pressed */
    RAMULON_CONTROL_INFO = 8      /* a text shown (the version) */
} ramulon_control_kind;

typedef struct ramulon_control {
    uint32_t id;                 /* the panel's id of the control */
    const char *name;            /* the parameter record's field ("num_branches"), or NULL */
    const char *label;           /* as the panel shows it ("Branches") */
    const char *tab;             /* "Tree", "Twig", "Leaf", "Advanced", or "" outside the tabs */
    int kind;                    /* ramulon_control_kind */
    int has_range;               /* 1: min and max hold the slider's range, in the panel's units */
    double min, max;
    size_t choice_count;         /* choices of a choice control */
    const char *const *choices;
    int enabled;                 /* 0 while the panel greys it out */
} ramulon_control;

/* The panel's controls, in the order the panel lists them (those outside the tabs first). The
   strings of a control stay valid until the session is freed; `enabled` is as of the call. */
RAMULON_API int ramulon_control_count(ramulon_session *session, size_t *count);
RAMULON_API int ramulon_control_at(ramulon_session *session, size_t index, ramulon_control *out);
RAMULON_API int ramulon_control_by_id(ramulon_session *session, uint32_t id, ramulon_control *out);
/* By label, "Tab/Label" or field name, exactly as `ramulon build --set` finds it. */
RAMULON_API int ramulon_control_find(ramulon_session *session, const char *name, ramulon_control *out);

/* Sets a parameter exactly as `ramulon build --set NAME=VALUE`: name is a label, "Tab/Label" or
   a field name, value the text the panel shows (degrees, percent, metres, a choice's text or
   index, on/off); the tool's own setter clamps it. A name that is unknown gives
   RAMULON_ERROR_NOT_FOUND, a value that does not parse RAMULON_ERROR_ARGUMENT. */
RAMULON_API int ramulon_set(ramulon_session *session, const char *name, const char *value);
/* The same by id. */
RAMULON_API int ramulon_set_by_id(ramulon_session *session, uint32_t id, const char *value);
/* A number in the panel's units; an integer, choice or check box takes only whole numbers. */
RAMULON_API int ramulon_set_number(ramulon_session *session, uint32_t id, double value);
/* The value in the panel's units (an integer, choice index or check box as a whole number). */
RAMULON_API int ramulon_get_number(ramulon_session *session, uint32_t id, double *value);
/* The value as the panel shows it ("40 %", "Polygonal", "1.6.28"). */
RAMULON_API int ramulon_get_text(ramulon_session *session, uint32_t id, const char **text);
/* Presses a button ("Add Preset" adds to the shelf under the name "preset-N"). */
RAMULON_API int ramulon_press(ramulon_session *session, uint32_t id);
/* Every parameter back to the tool's defaults. */
RAMULON_API int ramulon_reset(ramulon_session *session);

/* ---------------------------------------------------------------------------------- presets */

/* Applies a preset: a .preset file, or the name of one on the session's shelf. A preset that
   breaks off part way is refused (RAMULON_ERROR_ARGUMENT) unless lenient is nonzero, when the
   fields read so far are kept. */
RAMULON_API int ramulon_load_preset(ramulon_session *session, const char *path_or_name, int lenient);
/* Saves the current parameters as a preset file. */
RAMULON_API int ramulon_save_preset(ramulon_session *session, const char *path);

/* The shelf folder (NULL: ~/.ramulon/shelf). */
RAMULON_API int ramulon_set_shelf(ramulon_session *session, const char *folder);
RAMULON_API int ramulon_shelf_folder(ramulon_session *session, const char **folder);
/* The names on the shelf, sorted; the array and its strings stay valid until the next call on
   the session. */
RAMULON_API int ramulon_shelf_list(ramulon_session *session, const char *const **names, size_t *count);
/* Adds the current parameters with the thumbnail of the last build under this name (letters,
   digits, spaces, - and _). A name on the shelf already is refused (RAMULON_ERROR_ARGUMENT)
   unless replace is nonzero. Needs a build (RAMULON_ERROR_NO_TREE). */
RAMULON_API int ramulon_shelf_add(ramulon_session *session, const char *name, int replace);
RAMULON_API int ramulon_shelf_remove(ramulon_session *session, const char *name);
/* The 128 x 128 thumbnail of the last build as PNG bytes, valid until the next call on the
   session. */
RAMULON_API int ramulon_thumbnail(ramulon_session *session, const uint8_t **png, size_t *size);

/* ------------------------------------------------------------------------------------ build */

/* Called during a build from the building thread: the stage's title, steps done and the total.
   Returning nonzero cancels the build. */
typedef int (*ramulon_progress_fn)(void *user_data, const char *title, unsigned int done,
                                   unsigned int total);

typedef struct ramulon_build_options {
    size_t size;                  /* sizeof(ramulon_build_options), set by ..._init */
    uint64_t memory_limit;        /* bytes the build may use; 0: the available memory less a margin */
    ramulon_progress_fn progress; /* or NULL */
    void *user_data;              /* passed to progress */
    int journal;                  /* nonzero: record the build's journal (ramulon_tree_journal) */
} ramulon_build_options;

RAMULON_API void ramulon_build_options_init(ramulon_build_options *options);

/* Builds a tree from the crown and the panel; options NULL: the defaults. On success *tree is a
   new tree, the caller's to free. A tree too large for the memory budget, or one the tool refuses,
   gives RAMULON_ERROR_REFUSED with the tool's message ("Tree too large: ..."). */
RAMULON_API int ramulon_build(ramulon_session *session, const ramulon_build_options *options,
                              ramulon_tree **tree);
/* Stops the build running in another thread (at its next step), which then returns
   RAMULON_ERROR_CANCELLED. Any thread may call it; without a build running it does nothing. */
RAMULON_API int ramulon_cancel(ramulon_session *session);

/* ------------------------------------------------------------------------------------- tree */

/* Frees a tree; NULL and freed handles are ignored. */
RAMULON_API void ramulon_tree_free(ramulon_tree *tree);

/* The arrays below belong to the tree and stay valid, unchanged, until it is freed. */

/* count points, x, y, z each (metres, y up). */
RAMULON_API int ramulon_tree_points(const ramulon_tree *tree, const double **xyz, size_t *count);
/* count polygons: the corners of polygon i are corners[offsets[i]] .. corners[offsets[i + 1] - 1]
   (point indices); types are four-character codes ('FACE', 'PTCH', the first character in the
   most significant byte); surfaces index the tree's names, -1 for none. Any output may be NULL. */
RAMULON_API int ramulon_tree_polygons(const ramulon_tree *tree, const uint64_t **offsets,
                                      const int32_t **corners, const uint32_t **types,
                                      const int32_t **surfaces, size_t *count);
/* The tree's names: surfaces, tag values and map names, indexed from 0. */
RAMULON_API int ramulon_tree_name_count(const ramulon_tree *tree, size_t *count);
RAMULON_API int ramulon_tree_name(const ramulon_tree *tree, size_t index, const char **name);

typedef struct ramulon_map {
    const char *name;       /* "RM_branch" */
    uint32_t kind;          /* four-character code: 'TXUV', 'WGHT', 'RMVT', 'RMLD', ... */
    char kind_text[5];      /* the same as text, "TXUV" */
    int dim;                /* values per point in `values` */
    const float *values;    /* point_count * dim floats, 0 where a point has no value */
    const uint8_t *presence; /* point_count bytes: 0 no value, else 1 + the dimension stored */
    size_t point_count;     /* the tree's points */
    size_t stored;          /* points holding a value */
} ramulon_map;

/* Per-point maps, in the order the build made them. */
RAMULON_API int ramulon_tree_map_count(const ramulon_tree *tree, size_t *count);
RAMULON_API int ramulon_tree_map_at(const ramulon_tree *tree, size_t index, ramulon_map *out);
/* kind 0: any kind (the first map of that name). */
RAMULON_API int ramulon_tree_map_find(const ramulon_tree *tree, const char *name, uint32_t kind,
                                      ramulon_map *out);

typedef struct ramulon_polygon_map {
    const char *name;
    uint32_t kind;
    char kind_text[5];
    int dim;                /* values per entry */
    size_t count;           /* entries: (polygon, point) pairs with a value of their own */
    const int32_t *polygons;
    const int32_t *points;
    const float *values;    /* count * dim floats */
} ramulon_polygon_map;

/* Polygon-specific values (a point's value within one polygon, such as the texture seams). */
RAMULON_API int ramulon_tree_polygon_map_count(const ramulon_tree *tree, size_t *count);
RAMULON_API int ramulon_tree_polygon_map_at(const ramulon_tree *tree, size_t index,
                                            ramulon_polygon_map *out);

typedef struct ramulon_tags {
    uint32_t kind;          /* 'COLR' (sketch colour), 'PART', ... */
    char kind_text[5];
    const int32_t *values;  /* per polygon: index into the tree's names, -1 for none */
    size_t polygon_count;
} ramulon_tags;

/* Polygon tags, one array per tag type. */
RAMULON_API int ramulon_tree_tag_count(const ramulon_tree *tree, size_t *count);
RAMULON_API int ramulon_tree_tags_at(const ramulon_tree *tree, size_t index, ramulon_tags *out);

/* The build's journal (every mesh-edit call, one a line), when the build recorded it. */
RAMULON_API int ramulon_tree_journal(const ramulon_tree *tree, const char **text, size_t *size);
RAMULON_API int ramulon_tree_write_journal(const ramulon_tree *tree, const char *path);

/* -------------------------------------------------------------------------------- writing */

typedef struct ramulon_write_options {
    size_t size;            /* sizeof(ramulon_write_options), set by ..._init */
    const char *textures;   /* "builtin" (also NULL), "none", or a folder with bark.png, leaves.png, leaf.png */
    int subdivide;          /* -1: automatic (2 for a SubD tree written to glTF, else 0); 0 to 4 */
    double crease_angle;    /* degrees, 0 to 180 (default 60) */
    int wind_colours;       /* nonzero: the wind weights also as glTF COLOR_0, a tint in glTF viewers
                               (default 0: in _WIND only) */
    int lod;                /* levels of detail, 1 to 8 (glTF) */
    int lod_files;          /* each level (and the far card) in a file of its own */
    int impostor;           /* the far-view card */
    int compress;           /* 0 (default) plain; RAMULON_COMPRESS_MESHOPT (or any other nonzero):
                               quantised and meshopt-compressed (three.js, Babylon.js, engines);
                               RAMULON_COMPRESS_QUANTIZE: quantised only (Blender 3.x reads it) */
} ramulon_write_options;

#define RAMULON_COMPRESS_MESHOPT 1
#define RAMULON_COMPRESS_QUANTIZE 2

RAMULON_API void ramulon_write_options_init(ramulon_write_options *options);

/* Writes the tree as path's extension says (.obj, .gltf, .glb), with the bytes `ramulon build
   --output` writes for the same options; options NULL: the defaults. Files appear whole or not
   at all. */
RAMULON_API int ramulon_tree_write(const ramulon_tree *tree, const char *path,
                                   const ramulon_write_options *options);

/* ------------------------------------------------------------------------------------ batch */

/* One variant of a `ramulon batch` job: job is one line of a job file (a JSON object; relative
   paths in it are taken from base_dir, NULL: the working folder), seed the variant's seed.
   Writes out_dir/NAME-SEED.EXT for each output, the same bytes as `ramulon batch` and `ramulon
   build` write. shelf: the folder a preset name is looked up in (NULL: ~/.ramulon/shelf). */
RAMULON_API int ramulon_batch_variant(const char *job, const char *base_dir, int64_t seed,
                                      const char *out_dir, const char *shelf);
/* The plan of a job file's text for out_dir, as JSON text valid until the calling thread's next
   call of this function: {"variants": [{"line": N, "name": "NAME-SEED", "seed": S, "job": "<the
   line>", "files": [...], "done": true|false}], "errors": [{"line": N, "message": "..."}]};
   "done" means out_dir's ledger records the variant as made from the same job and inputs, and
   its files exist. Broken lines are listed in "errors"; the others are planned. */
RAMULON_API int ramulon_batch_plan(const char *jobs_text, const char *base_dir, const char *out_dir,
                                   const char **plan_json);
/* Records in out_dir's ledger that the variant is made (after ramulon_batch_variant succeeded). */
RAMULON_API int ramulon_batch_record(const char *job, const char *base_dir, int64_t seed,
                                     const char *out_dir);

#ifdef __cplusplus
}
#endif

#endif /* RAMULON_RAMULON_H */
