#include "staged_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace exporter {

namespace {

std::string failure(const std::string &path, int error_number)
{
    return "cannot write " + path + ": " + std::strerror(error_number ? error_number : EIO);
}

bool write_all(int fd, const std::string &bytes)
{
    const char *data = bytes.data();
    std::size_t left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, left);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        left -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace

StagedFiles::~StagedFiles()
{
    for (const Entry &entry : entries_)
        if (!entry.renamed)
            ::unlink(entry.temporary.c_str());
}

bool StagedFiles::stage(const std::string &path, const std::string &bytes, std::string &error)
{
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        error = failure(path, errno);
        return false;
    }
    entries_.push_back(Entry{path, temporary, {}, false});
    const bool written = write_all(fd, bytes);
    const int saved = errno;
    if (::close(fd) != 0 || !written) {
        error = failure(path, written ? errno : saved);
        return false;
    }
    // mkstemp makes the file private; give it the usual permissions of a new file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(temporary.c_str(), 0666 & ~mask);
    return true;
}

bool StagedFiles::commit(std::string &error)
{
    // Keep a second name of every earlier target so that a failed set can be put back.
    for (Entry &entry : entries_) {
        struct stat info;
        if (::lstat(entry.target.c_str(), &info) == 0 && S_ISREG(info.st_mode)) {
            const std::string backup = entry.temporary + ".old";
            if (::link(entry.target.c_str(), backup.c_str()) == 0)
                entry.backup = backup;
        }
    }
    bool ok = true;
    for (Entry &entry : entries_) {
        if (std::rename(entry.temporary.c_str(), entry.target.c_str()) != 0) {
            error = failure(entry.target, errno);
            ok = false;
            break;
        }
        entry.renamed = true;
    }
    for (Entry &entry : entries_) {
        if (!ok && entry.renamed) {
            if (entry.backup.empty())
                ::unlink(entry.target.c_str());
            else if (std::rename(entry.backup.c_str(), entry.target.c_str()) == 0)
                entry.backup.clear();
        }
        if (!entry.backup.empty())
            ::unlink(entry.backup.c_str());
    }
    return ok;
}

std::string sibling_path(const std::string &path, const std::string &extension)
{
    return std::filesystem::path(path).replace_extension(extension).string();
}

std::string file_name(const std::string &path)
{
    return std::filesystem::path(path).filename().string();
}

} // namespace exporter
