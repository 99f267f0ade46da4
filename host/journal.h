// The call journal: one text line per mesh-edit call of a build, so that two builds (or a build
// and a reference) can be compared line by line.
//
//     addPoint <pid> <x> <y> <z>
//     addFace <fid> <surface> <n> <pid> ... <pid>
//     addPoly <fid> <TYPE> <surface> <n> <pid> ... <pid>
//     polTag <fid> <TAGTYPE> <value>
//     pntVMap <pid> <TYPE> <name> <dim> <v1> ... <vdim>
//     pntVPMap <pid> <fid> <TYPE> <name> <dim> <v1> ... <vdim>
//
// pid and fid count the points and polygons of the build from 0; a missing surface is "-";
// coordinates are printed with %.17g, map values (single floats) with %.9g.
#pragma once

#include <string>
#include <vector>

#include "common/error.h"
#include "plugin_api.h"

namespace host {

class Journal {
public:
    void add_point(int pid, const double xyz[3]);
    void add_face(int fid, const char *surface, int n, const int *pids);
    void add_poly(int fid, HostID type, const char *surface, int n, const int *pids);
    void pol_tag(int fid, HostID tag_type, const char *value);
    void pnt_vmap(int pid, HostID type, const char *name, int dim, const float *values);
    void pnt_vpmap(int pid, int fid, HostID type, const char *name, int dim, const float *values);

    std::vector<std::string> lines() const; // every line, without its '\n'
    std::string text() const;               // every line, each ended by '\n'
    void clear() { blocks_.clear(); }

    // Writes text() through a temporary file renamed into place (write_file_atomically, whose
    // error conditions are the only ones).
    ramulon::Status write(const std::string &path) const;

private:
    // The line under way goes straight into the last block; a block is never reallocated once
    // full, so a large build's journal grows without copying what it already holds.
    std::string &block_for_line();

    std::vector<std::string> blocks_; // whole lines, each ended by '\n'
};

// The journal's number texts, the same as "%.17g" and "%.9g" give, appended after a space.
void append_coordinate(std::string &out, double value);
void append_map_value(std::string &out, float value);

} // namespace host
