#include "files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>

namespace host {

namespace {

std::string failure(const std::string &path, int error_number)
{
    return "cannot write " + path + ": " + std::strerror(error_number ? error_number : EIO);
}

// Opens a new private file beside path; its name goes to temporary. -1 with the error set.
int open_temporary(const std::string &path, std::string &temporary, std::string &error)
{
    temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        error = failure(path, errno);
    return fd;
}

// mkstemp makes the file private; a finished file gets the usual permissions of a new file.
void publish_permissions(const std::string &temporary)
{
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(temporary.c_str(), 0666 & ~mask);
}

bool write_all(int fd, std::string_view bytes)
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

bool write_file_atomically(const std::string &path, const std::function<bool(std::FILE *)> &fill,
                           std::string &error)
{
    std::string tmp;
    const int fd = open_temporary(path, tmp, error);
    if (fd < 0)
        return false;
    std::FILE *f = fdopen(fd, "w");
    if (!f) {
        error = failure(path, errno);
        close(fd);
        unlink(tmp.c_str());
        return false;
    }
    errno = 0;
    bool ok = fill(f);
    ok = std::fflush(f) == 0 && ok;
    ok = std::ferror(f) == 0 && ok;
    ok = ok && ::fsync(fileno(f)) == 0;
    const int saved = errno;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        error = failure(path, saved ? saved : errno);
        unlink(tmp.c_str());
        return false;
    }
    publish_permissions(tmp);
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        error = failure(path, errno);
        unlink(tmp.c_str());
        return false;
    }
    return true;
}

bool write_text_file(const std::string &path, const std::string &text, std::string &error)
{
    return write_file_atomically(
        path,
        [&](std::FILE *f) { return std::fwrite(text.data(), 1, text.size(), f) == text.size(); },
        error);
}

StagedFiles::~StagedFiles()
{
    for (const Entry &entry : entries_) {
        if (entry.fd >= 0)
            ::close(entry.fd);
        if (!entry.renamed)
            ::unlink(entry.temporary.c_str());
    }
}

bool StagedFiles::stage(const std::string &path, const std::string &bytes, std::string &error)
{
    return stage(path, {std::string_view(bytes)}, error);
}

bool StagedFiles::stage(const std::string &path, std::initializer_list<std::string_view> pieces,
                        std::string &error)
{
    return stage(path, std::span<const std::string_view>(pieces.begin(), pieces.size()), error);
}

bool StagedFiles::stage(const std::string &path, std::span<const std::string_view> pieces, std::string &error)
{
    const int file = open(path, error);
    return file >= 0 && write_at(file, 0, pieces, error) && finish(file, error);
}

int StagedFiles::open(const std::string &path, std::string &error)
{
    std::string temporary;
    const int fd = open_temporary(path, temporary, error);
    if (fd < 0)
        return -1;
    entries_.push_back(Entry{path, temporary, {}, false, fd});
    return static_cast<int>(entries_.size()) - 1;
}

bool StagedFiles::write_at(int file, std::uint64_t offset, std::span<const std::string_view> pieces,
                           std::string &error)
{
    Entry &entry = entries_.at(static_cast<std::size_t>(file));
    if (entry.fd < 0) {
        error = failure(entry.target, EBADF);
        return false;
    }
    if (::lseek(entry.fd, static_cast<off_t>(offset), SEEK_SET) < 0) {
        error = failure(entry.target, errno);
        return false;
    }
    for (const std::string_view piece : pieces)
        if (!write_all(entry.fd, piece)) {
            error = failure(entry.target, errno);
            return false;
        }
    return true;
}

bool StagedFiles::finish(int file, std::string &error)
{
    Entry &entry = entries_.at(static_cast<std::size_t>(file));
    const bool synced = entry.fd >= 0 && ::fsync(entry.fd) == 0;
    const int saved = entry.fd >= 0 ? errno : EBADF;
    const bool closed = entry.fd >= 0 && ::close(entry.fd) == 0;
    entry.fd = -1;
    if (!synced || !closed) {
        error = failure(entry.target, synced ? errno : saved);
        return false;
    }
    publish_permissions(entry.temporary);
    return true;
}

bool StagedFiles::commit(std::string &error)
{
    for (const Entry &entry : entries_)
        if (entry.fd >= 0) {
            error = "cannot write " + entry.target + ": it was not finished";
            return false;
        }
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

} // namespace host
