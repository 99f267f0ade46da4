#include "journal.h"

#include <cstdio>

#include "files.h"
#include "mesh.h"

namespace host {

namespace {

void append(std::string &s, const char *format, double v)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, format, v);
    s += ' ';
    s += buf;
}

void append(std::string &s, int v) { s += ' ' + std::to_string(v); }

void append(std::string &s, const char *text) { s += ' ' + std::string(text); }

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
        append(s, "%.9g", static_cast<double>(values[i]));
}

} // namespace

void Journal::add_point(int pid, const double xyz[3])
{
    std::string s = "addPoint";
    append(s, pid);
    for (int i = 0; i < 3; ++i)
        append(s, "%.17g", xyz[i]);
    lines_.push_back(std::move(s));
}

void Journal::add_face(int fid, const char *surface, int n, const int *pids)
{
    std::string s = "addFace";
    append(s, fid);
    append_surface(s, surface);
    append_points(s, n, pids);
    lines_.push_back(std::move(s));
}

void Journal::add_poly(int fid, HostID type, const char *surface, int n, const int *pids)
{
    std::string s = "addPoly";
    append(s, fid);
    append(s, id_text(type).c_str());
    append_surface(s, surface);
    append_points(s, n, pids);
    lines_.push_back(std::move(s));
}

void Journal::pol_tag(int fid, HostID tag_type, const char *value)
{
    std::string s = "polTag";
    append(s, fid);
    append(s, id_text(tag_type).c_str());
    append(s, value);
    lines_.push_back(std::move(s));
}

void Journal::pnt_vmap(int pid, HostID type, const char *name, int dim, const float *values)
{
    std::string s = "pntVMap";
    append(s, pid);
    append(s, id_text(type).c_str());
    append(s, name);
    append_values(s, dim, values);
    lines_.push_back(std::move(s));
}

void Journal::pnt_vpmap(int pid, int fid, HostID type, const char *name, int dim,
                        const float *values)
{
    std::string s = "pntVPMap";
    append(s, pid);
    append(s, fid);
    append(s, id_text(type).c_str());
    append(s, name);
    append_values(s, dim, values);
    lines_.push_back(std::move(s));
}

std::string Journal::text() const
{
    std::string all;
    for (const std::string &line : lines_) {
        all += line;
        all += '\n';
    }
    return all;
}

bool Journal::write(const std::string &path, std::string &error) const
{
    return write_file_atomically(
        path,
        [&](std::FILE *f) {
            for (const std::string &line : lines_)
                if (std::fputs(line.c_str(), f) < 0 || std::fputc('\n', f) == EOF)
                    return false;
            return true;
        },
        error);
}

} // namespace host
