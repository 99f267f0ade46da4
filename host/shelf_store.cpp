#include "shelf_store.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "files.h"

namespace host {

namespace fs = std::filesystem;

namespace {

StepHook step;

std::string note_name(const std::string &name) { return "." + name + ".pending"; }

bool ends_with(const std::string &s, const std::string &tail)
{
    return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// NAME.preset.XXXXXX, NAME.png.XXXXXX and a note's own .NAME.pending.XXXXXX (and the .old second
// names of an earlier writer).
bool is_temporary(const std::string &file)
{
    std::string base = file;
    if (ends_with(base, ".old"))
        base.resize(base.size() - 4);
    if (base.size() < 8 || base[base.size() - 7] != '.')
        return false;
    const std::string stem = base.substr(0, base.size() - 7);
    const bool ours = ends_with(stem, ".preset") || ends_with(stem, ".png") || (stem[0] == '.' && ends_with(stem, ".pending"));
    return ours && std::all_of(base.end() - 6, base.end(), [](unsigned char c) { return std::isalnum(c); });
}

bool is_note(const std::string &file)
{
    return file.size() > 9 && file[0] == '.' && file.compare(file.size() - 8, 8, ".pending") == 0;
}

// Finishes the renames a note lists (temporary, target: one file name a line), then drops it.
void finish(const fs::path &dir, const std::string &note)
{
    std::ifstream in(dir / note);
    std::string temporary, target;
    while (std::getline(in, temporary) && std::getline(in, target))
        if (is_temporary(temporary) && target.find('/') == std::string::npos && !target.empty())
            ::rename((dir / temporary).c_str(), (dir / target).c_str());
    in.close();
    ::unlink((dir / note).c_str());
}

void tidy_locked(const fs::path &dir)
{
    std::error_code ec;
    std::vector<std::string> notes, temporaries;
    for (const auto &entry : fs::directory_iterator(dir, ec)) {
        const std::string file = entry.path().filename().string();
        if (is_note(file))
            notes.push_back(file);
        else if (is_temporary(file))
            temporaries.push_back(file);
    }
    for (const std::string &note : notes)
        finish(dir, note);
    for (const std::string &file : temporaries)
        ::unlink((dir / file).c_str()); // gone already when a note renamed it
}

bool fsync_folder(const fs::path &dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

// The bytes in a new temporary beside target, on the disk. Its file name goes to temporary.
bool stage(const fs::path &target, const std::string &bytes, std::string &temporary, std::string &error)
{
    std::string path = target.string() + ".XXXXXX";
    const int fd = ::mkstemp(path.data());
    if (fd < 0) {
        error = "cannot write " + target.string() + ": " + std::strerror(errno);
        return false;
    }
    temporary = fs::path(path).filename().string();
    bool ok = true;
    for (std::size_t done = 0; ok && done < bytes.size();) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        ok = n > 0;
        done += ok ? static_cast<std::size_t>(n) : 0;
    }
    ok = ok && ::fsync(fd) == 0;
    const int saved = errno;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::fchmod(fd, 0666 & ~mask); // mkstemp makes it private; a preset gets the usual permissions
    ok = ::close(fd) == 0 && ok;
    if (!ok) {
        error = "cannot write " + target.string() + ": " + std::strerror(saved ? saved : EIO);
        ::unlink(path.c_str());
    }
    return ok;
}

bool present(const fs::path &dir, const std::string &name)
{
    struct stat info;
    return ::lstat((dir / (name + ".preset")).c_str(), &info) == 0;
}

} // namespace

bool valid_preset_name(const std::string &name)
{
    bool ok = !name.empty() && name.size() <= 64;
    for (unsigned char ch : name)
        ok = ok && (std::isalnum(ch) || ch == ' ' || ch == '-' || ch == '_');
    return ok;
}

void set_pair_step_hook(std::function<void(int)> hook) { step.set(std::move(hook)); }

PairWrite write_preset_pair(const fs::path &dir, const std::string &name, const std::string &record,
                            const std::string &png, bool overwrite)
{
    PairWrite result;
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec) {
        result.error = "cannot make the shelf folder " + dir.string() + ": " + ec.message();
        return result;
    }
    FolderLock lock(dir);
    tidy_locked(dir);
    result.name = name;
    for (int n = 1; result.name.empty(); ++n)
        if (!present(dir, "preset-" + std::to_string(n)))
            result.name = "preset-" + std::to_string(n);
    if (!valid_preset_name(result.name)) {
        result.error = "\"" + result.name + "\" cannot name a preset: " + preset_name_rule;
        return result;
    }
    if (!overwrite && present(dir, result.name)) {
        result.outcome = PairWrite::exists;
        return result;
    }

    const std::string preset_file = result.name + ".preset", png_file = result.name + ".png";
    std::string preset_tmp, png_tmp;
    if (!stage(dir / preset_file, record, preset_tmp, result.error))
        return result;
    step(1);
    if (!stage(dir / png_file, png, png_tmp, result.error)) {
        ::unlink((dir / preset_tmp).c_str());
        return result;
    }
    step(2);
    // The note goes down whole or not at all, under the folder's lock held here.
    const std::string note = note_name(result.name);
    std::string note_tmp;
    if (!stage(dir / note, preset_tmp + "\n" + preset_file + "\n" + png_tmp + "\n" + png_file + "\n", note_tmp,
               result.error) ||
        ::rename((dir / note_tmp).c_str(), (dir / note).c_str()) != 0) {
        if (result.error.empty())
            result.error = "cannot write " + (dir / note).string() + ": " + std::strerror(errno);
        for (const std::string &file : {preset_tmp, png_tmp, note_tmp})
            if (!file.empty())
                ::unlink((dir / file).c_str());
        return result;
    }
    fsync_folder(dir);
    step(3);
    // From here on the pair is decided: should a rename fail now, the next access finishes it.
    if (::rename((dir / preset_tmp).c_str(), (dir / preset_file).c_str()) != 0) {
        result.error = "cannot write " + (dir / preset_file).string() + ": " + std::strerror(errno);
        return result;
    }
    step(4);
    if (::rename((dir / png_tmp).c_str(), (dir / png_file).c_str()) != 0) {
        result.error = "cannot write " + (dir / png_file).string() + ": " + std::strerror(errno);
        return result;
    }
    step(5);
    fsync_folder(dir);
    ::unlink((dir / note).c_str());
    step(6);
    result.outcome = PairWrite::written;
    return result;
}

std::string remove_preset_pair(const fs::path &dir, const std::string &name)
{
    if (!valid_preset_name(name))
        return "\"" + name + "\" cannot name a preset: " + preset_name_rule;
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        return "no preset \"" + name + "\" on the shelf " + dir.string();
    FolderLock lock(dir);
    tidy_locked(dir);
    if (!present(dir, name))
        return "no preset \"" + name + "\" on the shelf " + dir.string();
    for (const std::string &file : {name + ".preset", name + ".png"})
        if (::unlink((dir / file).c_str()) != 0 && errno != ENOENT)
            return "cannot remove " + (dir / file).string() + ": " + std::strerror(errno);
    fsync_folder(dir);
    return {};
}

void tidy_shelf(const fs::path &dir)
{
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        return;
    FolderLock lock(dir);
    tidy_locked(dir);
}

std::vector<std::string> shelf_names(const fs::path &dir)
{
    std::vector<std::string> names;
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        return names;
    FolderLock lock(dir);
    tidy_locked(dir);
    for (const auto &entry : fs::directory_iterator(dir, ec))
        if (entry.path().extension() == ".preset" && entry.is_regular_file(ec))
            names.push_back(entry.path().stem().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool read_shelf_file(const fs::path &dir, const std::string &file, std::string &bytes)
{
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        return false;
    FolderLock lock(dir);
    tidy_locked(dir);
    if (!fs::is_regular_file(dir / file, ec))
        return false;
    std::ifstream in(dir / file, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    if (!in)
        return false;
    bytes = out.str();
    return true;
}

} // namespace host
