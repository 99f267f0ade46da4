#include "obj_loader.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include <tiny_obj_loader.h>

#include "common/index_cast.h"
#include "file_read.h"
#include "number_text.h"
#include "quoted_text.h"

namespace host {

using ramulon::Status;

// Defined in the source generated from samples/round_crown.obj.
extern const char default_crown_data[];
extern const std::size_t default_crown_size;

std::string_view default_crown_obj() { return {default_crown_data, default_crown_size}; }

namespace {

// What a crown file holds cannot be used: nothing of it is taken.
ramulon::Error invalid(std::string message) { return ramulon::fail(ramulon::ErrorKind::invalid_input, std::move(message)); }

std::vector<std::string> split(const std::string &line)
{
    std::vector<std::string> tokens;
    std::istringstream in(line);
    std::string t;
    while (in >> t)
        tokens.push_back(t);
    return tokens;
}

bool parse_int(const std::string &token, long &value)
{
    const char *s = token.c_str();
    char *end = nullptr;
    errno = 0;
    value = std::strtol(s, &end, 10);
    return end != s && *end == '\0' && errno == 0;
}

// One `f`/`l` corner: v, v/t, v//n or v/t/n; the vertex index must name a vertex already read
// (counting from 1, or back from the last with a negative index).
bool check_corner(const std::string &token, long vertices, std::string &why)
{
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = token.find('/', start);
        parts.push_back(token.substr(start, slash - start));
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    long v = 0;
    if (parts.size() > 3 || !parse_int(parts[0], v) || v == 0) {
        why = "bad corner " + quoted_text(token);
        return false;
    }
    for (std::size_t i = 1; i < parts.size(); ++i) {
        long other = 0;
        if (!parts[i].empty() && !parse_int(parts[i], other)) {
            why = "bad corner " + quoted_text(token);
            return false;
        }
    }
    if (v > vertices || v < -vertices) {
        why = "corner " + quoted_text(token) + " names vertex " + std::to_string(v) + " of " +
              std::to_string(vertices) + " read so far";
        return false;
    }
    return true;
}

const std::set<std::string> &ignored_statements()
{
    // Grouping, smoothing, materials and display attributes: nothing a crown envelope needs.
    static const std::set<std::string> names = {
        "g", "o", "s", "mg", "usemtl", "mtllib", "usemap", "maplib", "lod", "shadow_obj",
        "trace_obj", "bevel", "c_interp", "d_interp", "vp", "p"};
    return names;
}

const std::set<std::string> &freeform_statements()
{
    static const std::set<std::string> names = {
        "cstype", "deg", "bmat", "step", "curv", "curv2", "surf", "parm", "trim", "hole",
        "scrv", "sp", "end", "con", "ctech", "stech", "call", "csh"};
    return names;
}

struct Counts {
    std::size_t vertices = 0, faces = 0, lines = 0;
    // x, y, z of every `v` in file order, each the double nearest to its text: the points of the
    // layer come from here, the OBJ parser only supplies the faces and lines.
    std::vector<double> coordinates;
};

// Checks every statement and keeps those the OBJ parser should see, one normalised line each.
Status prescan(std::string_view text, const std::string &name, std::string &kept, Counts &counts)
{
    if (text.find('\0') != std::string_view::npos)
        return invalid(name + ": not a text file");
    std::size_t pos = 0;
    long number = 0;
    while (pos < text.size()) {
        std::size_t nl = text.find('\n', pos);
        if (nl == std::string_view::npos)
            nl = text.size();
        std::string line(text.substr(pos, nl - pos));
        pos = nl + 1;
        ++number;
        const auto hash = line.find('#');
        if (hash != std::string::npos)
            line.resize(hash);
        const std::vector<std::string> tokens = split(line);
        if (tokens.empty())
            continue;
        const std::string &keyword = tokens[0];
        const std::size_t args = tokens.size() - 1;
        const std::string where = name + ":" + std::to_string(number) + ": ";
        std::string why;

        if (keyword == "v" || keyword == "vt" || keyword == "vn") {
            // v: x y z, with an optional w or an r g b colour
            const std::size_t min = keyword == "vt" ? 1 : 3;
            const std::size_t max = keyword == "v" ? 7 : 3;
            if (args < min || args > max)
                return invalid(where + quoted_text(keyword) + " needs " + std::to_string(min) +
                               (min == max ? "" : " to " + std::to_string(max)) + " numbers");
            for (std::size_t i = 1; i < tokens.size(); ++i) {
                const std::optional<double> value = parse_finite(tokens[i]);
                if (!value)
                    return invalid(where + quoted_text(tokens[i]) + " is not a finite number");
                if (keyword == "v" && i <= 3)
                    counts.coordinates.push_back(*value);
            }
            if (keyword == "v")
                ++counts.vertices;
        } else if (keyword == "f" || keyword == "l") {
            const bool face = keyword == "f";
            if (face && args < 3)
                return invalid(where + "a face needs at least 3 corners");
            if (face && args > 255)
                return invalid(where + "a face of more than 255 corners");
            if (!face && args < 2)
                return invalid(where + "a line needs at least 2 points");
            for (std::size_t i = 1; i < tokens.size(); ++i)
                if (!check_corner(tokens[i], ramulon::index_cast<long>(counts.vertices), why))
                    return invalid(where + why);
            ++(face ? counts.faces : counts.lines);
        } else if (ignored_statements().count(keyword)) {
            continue;
        } else if (freeform_statements().count(keyword)) {
            return invalid(where + "free-form geometry (" + quoted_text(keyword) + ") is not supported");
        } else {
            return invalid(where + "unknown statement " + quoted_text(keyword));
        }
        for (std::size_t i = 0; i < tokens.size(); ++i) {
            kept += tokens[i];
            kept += i + 1 < tokens.size() ? ' ' : '\n';
        }
    }
    return {};
}

std::string first_line(const std::string &text)
{
    const auto nl = text.find('\n');
    return nl == std::string::npos ? text : text.substr(0, nl);
}

} // namespace

Status load_obj_text(std::string_view text, const std::string &name, Layer &layer)
{
    layer.clear();
    std::string kept;
    Counts counts;
    if (Status checked = prescan(text, name, kept, counts); !checked)
        return checked;

    tinyobj::ObjReaderConfig config;
    config.triangulate = false;
    config.vertex_color = false;
    tinyobj::ObjReader reader;
    if (!reader.ParseFromString(kept, "", config))
        return invalid(name + ": " + first_line(reader.Error()));
    const tinyobj::attrib_t &attrib = reader.GetAttrib();
    // The parser's own number reading is not correctly rounded: it only tells how many points
    // there are, their coordinates are the ones read above.
    const std::size_t vertices = attrib.vertices.size() / 3;
    if (vertices == counts.vertices) {
        const std::vector<double> &xyz = counts.coordinates;
        for (std::size_t i = 0; i < vertices; ++i)
            layer.add_point(Vec3{xyz[3 * i], xyz[3 * i + 1], xyz[3 * i + 2]});
    }

    auto corner = [&](const tinyobj::index_t &ix, std::vector<int> &points) {
        if (ix.vertex_index < 0 || ramulon::index_cast<std::size_t>(ix.vertex_index) >= vertices)
            return false;
        points.push_back(ix.vertex_index);
        return true;
    };
    std::vector<std::vector<int>> lines;
    bool ok = vertices == counts.vertices;
    for (const tinyobj::shape_t &shape : reader.GetShapes()) {
        std::size_t offset = 0;
        for (const unsigned char n : shape.mesh.num_face_vertices) {
            std::vector<int> points;
            for (std::size_t k = 0; k < n && ok; ++k)
                ok = corner(shape.mesh.indices[offset + k], points);
            offset += n;
            layer.add_polygon(ID_FACE, std::move(points));
        }
        offset = 0;
        for (const int n : shape.lines.num_line_vertices) {
            std::vector<int> points;
            for (int k = 0; k < n && ok; ++k)
                ok = corner(shape.lines.indices[offset + ramulon::index_cast<std::size_t>(k)], points);
            offset += ramulon::index_cast<std::size_t>(n);
            lines.push_back(std::move(points));
        }
    }
    // Lines after all faces: the parser keeps the two apart.
    for (std::vector<int> &points : lines) {
        const HostID type = points.size() == 2 ? ID_FACE : ID_CURV;
        layer.add_polygon(type, std::move(points));
    }

    if (!ok || layer.polygon_count() != counts.faces + counts.lines) {
        layer.clear();
        return invalid(name + ": the file could not be read completely");
    }
    layer.check_consistent();
    return {};
}

Status load_obj_file(const std::string &path, Layer &layer)
{
    layer.clear();
    const auto text = read_regular_file(path, max_input_bytes);
    if (!text)
        return text.error();
    return load_obj_text(*text, path, layer);
}

} // namespace host
