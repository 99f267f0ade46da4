/*
 * grow_tree: a tree from the command line through libramulon.
 *
 *     grow_tree [PRESET] [OUT.glb] [SEED]
 *
 * Applies the preset (if any), sets the seed, builds with a progress line, prints what the tree
 * holds and writes it as glTF with four levels of detail and a far card.
 */
#include <stdio.h>
#include <stdlib.h>

#include <ramulon/ramulon.h>

static int progress(void *user, const char *title, unsigned int done, unsigned int total)
{
    (void)user;
    if (total > 0)
        fprintf(stderr, "\r%s %u/%u", title, done, total);
    return 0; /* nonzero would cancel */
}

static int failed(ramulon_session *session, const char *what)
{
    fprintf(stderr, "grow_tree: %s: %s\n", what, ramulon_last_error(session));
    ramulon_session_free(session);
    return 1;
}

int main(int argc, char **argv)
{
    const char *preset = argc > 1 ? argv[1] : NULL;
    const char *output = argc > 2 ? argv[2] : "tree.glb";
    const char *seed = argc > 3 ? argv[3] : "7";

    if (ramulon_version_number() / 10000 != RAMULON_VERSION_MAJOR) {
        fprintf(stderr, "grow_tree: built for libramulon %s, found %s\n", RAMULON_VERSION, ramulon_version());
        return 1;
    }
    ramulon_session *session = NULL;
    if (ramulon_session_new(NULL, 11, &session) != RAMULON_OK)
        return failed(NULL, "no session");
    if (preset && ramulon_load_preset(session, preset, 0) != RAMULON_OK)
        return failed(session, preset);
    if (ramulon_set(session, "random_seed", seed) != RAMULON_OK)
        return failed(session, "seed");

    ramulon_build_options options;
    ramulon_build_options_init(&options);
    options.progress = progress;
    ramulon_tree *tree = NULL;
    if (ramulon_build(session, &options, &tree) != RAMULON_OK)
        return failed(session, "build");
    fputc('\n', stderr);

    const double *xyz = NULL;
    size_t points = 0, polygons = 0, maps = 0;
    ramulon_tree_points(tree, &xyz, &points);
    ramulon_tree_polygons(tree, NULL, NULL, NULL, NULL, &polygons);
    ramulon_tree_map_count(tree, &maps);
    printf("%zu points, %zu polygons, %zu maps\n", points, polygons, maps);
    for (size_t i = 0; i < maps; ++i) {
        ramulon_map map;
        ramulon_tree_map_at(tree, i, &map);
        printf("  %s %s: %d values a point, %zu points hold one\n", map.kind_text, map.name, map.dim, map.stored);
    }

    ramulon_write_options write;
    ramulon_write_options_init(&write);
    write.lod = 4;
    write.impostor = 1;
    if (ramulon_tree_write(tree, output, &write) != RAMULON_OK) {
        fprintf(stderr, "grow_tree: %s\n", ramulon_last_error(NULL));
        ramulon_tree_free(tree);
        ramulon_session_free(session);
        return 1;
    }
    printf("wrote %s\n", output);
    ramulon_tree_free(tree);
    ramulon_session_free(session);
    return 0;
}
