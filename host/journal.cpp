#include "journal.h"

#include <charconv>
#include <cstdio>

#include "files.h"
#include "mesh.h"

namespace host {

namespace {

// Room for one block; a line longer than this gets a block of its own size.
constexpr std::size_t block_bytes = std::size_t{1} << 20;
// Room enough for any line but the rare polygon with thousands of corners.
constexpr std::size_t line_room = 4096;

void append_general(std::string &s, double v, int precision)
{
    char buf[40];
    buf[0] = ' ';
    const auto r = std::to_chars(buf + 1, buf + sizeof buf, v, std::chars_format::general, precision);
    s.append(buf, r.ptr);
}

void append(std::string &s, int v)
{
    char buf[16];
    buf[0] = ' ';
    const auto r = std::to_chars(buf + 1, buf + sizeof buf, v);
    s.append(buf, r.ptr);
}

void append(std::string &s, const char *text)
{
    s += ' ';
    s += text;
}

void append(std::string &s, HostID id)
{
    const char text[5] = {' ', static_cast<char>((id >> 24) & 0xFF), static_cast<char>((id >> 16) & 0xFF),
                          static_cast<char>((id >> 8) & 0xFF), static_cast<char>(id & 0xFF)};
    s.append(text, 5);
}

void append_surface(std::string &s, const char *surface) { append(s, surface ? surface : "-"); }

void append_points(std::string &s, int n, const int *pids)
{
    append(s, n);
    for (int i = 0; i < n; ++i)
        append(s, pids[i]);
}

void append_values(std::string &s, int dim, const float *values)
{
    append(s, dim);
    for (int i = 0; i < dim; ++i)
        append_map_value(s, values[i]);
}

} // namespace

void append_coordinate(std::string &out, double value) { append_general(out, value, 17); }

void append_map_value(std::string &out, float value)
{
    append_general(out, static_cast<double>(value), 9);
}

std::string &Journal::block_for_line()
{
    if (blocks_.empty() || blocks_.back().size() + line_room > block_bytes) {
        blocks_.emplace_back();
        blocks_.back().reserve(block_bytes);
    }
    return blocks_.back();
}

void Journal::add_point(int pid, const double xyz[3])
{
    std::string &s = block_for_line();
    s += "addPoint";
    append(s, pid);
    for (int i = 0; i < 3; ++i)
        append_coordinate(s, xyz[i]);
    s += '\n';
}

void Journal::add_face(int fid, const char *surface, int n, const int *pids)
{
    std::string &s = block_for_line();
    s += "addFace";
    append(s, fid);
    append_surface(s, surface);
    append_points(s, n, pids);
    s += '\n';
}

void Journal::add_poly(int fid, HostID type, const char *surface, int n, const int *pids)
{
    std::string &s = block_for_line();
    s += "addPoly";
    append(s, fid);
    append(s, type);
    append_surface(s, surface);
    append_points(s, n, pids);
    s += '\n';
}

void Journal::pol_tag(int fid, HostID tag_type, const char *value)
{
    std::string &s = block_for_line();
    s += "polTag";
    append(s, fid);
    append(s, tag_type);
    append(s, value);
    s += '\n';
}

void Journal::pnt_vmap(int pid, HostID type, const char *name, int dim, const float *values)
{
    std::string &s = block_for_line();
    s += "pntVMap";
    append(s, pid);
    append(s, type);
    append(s, name);
    append_values(s, dim, values);
    s += '\n';
}

void Journal::pnt_vpmap(int pid, int fid, HostID type, const char *name, int dim,
                        const float *values)
{
    std::string &s = block_for_line();
    s += "pntVPMap";
    append(s, pid);
    append(s, fid);
    append(s, type);
    append(s, name);
    append_values(s, dim, values);
    s += '\n';
}

std::vector<std::string> Journal::lines() const
{
    std::vector<std::string> out;
    for (const std::string &block : blocks_) {
        std::size_t begin = 0;
        for (std::size_t end = block.find('\n'); end != std::string::npos;
             begin = end + 1, end = block.find('\n', begin))
            out.emplace_back(block, begin, end - begin);
    }
    return out;
}

std::string Journal::text() const
{
    std::size_t size = 0;
    for (const std::string &block : blocks_)
        size += block.size();
    std::string all;
    all.reserve(size);
    for (const std::string &block : blocks_)
        all += block;
    return all;
}

ramulon::Status Journal::write(const std::string &path) const
{
    return write_file_atomically(path, [&](std::FILE *f) {
        for (const std::string &block : blocks_)
            if (std::fwrite(block.data(), 1, block.size(), f) != block.size())
                return false;
        return true;
    });
}

} // namespace host
