#include "files.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

namespace host {

bool write_file_atomically(const std::string &path, const std::function<bool(std::FILE *)> &fill,
                           std::string &error)
{
    std::string tmp = path + ".XXXXXX";
    const int fd = mkstemp(tmp.data());
    if (fd < 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    std::FILE *f = fdopen(fd, "w");
    if (!f) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        close(fd);
        unlink(tmp.c_str());
        return false;
    }
    bool ok = fill(f);
    ok = std::fflush(f) == 0 && ok;
    ok = std::ferror(f) == 0 && ok;
    const int saved = errno;
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        error = "cannot write " + path + ": " + std::strerror(saved ? saved : EIO);
        unlink(tmp.c_str());
        return false;
    }
    // mkstemp makes the file private; give it the usual permissions of a new file.
    const mode_t mask = umask(0);
    umask(mask);
    chmod(tmp.c_str(), 0666 & ~mask);
    if (std::rename(tmp.c_str(), path.c_str()) != 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
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

} // namespace host
