#include "shelf_store.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/stat.h>
#include <unistd.h>

#include "file_read.h"
#include "files.h"

namespace host {

namespace fs = std::filesystem;
using ramulon::ErrorKind;
using ramulon::Result;
using ramulon::Status;

namespace {

StepHook step;

bool ends_with(const std::string &s, const std::string &tail)
{
    return s.size() > tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// ---- what shelves written before the host's staged files may hold: NAME.preset.XXXXXX,
// NAME.png.XXXXXX and a note's own .NAME.pending.XXXXXX (and the .old second names of such a
// writer), and the note .NAME.pending listing its renames, a temporary and a target a line.

bool is_earlier_temporary(const std::string &file)
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

bool is_earlier_note(const std::string &file)
{
    return file.size() > 9 && file[0] == '.' && file.compare(file.size() - 8, 8, ".pending") == 0;
}

std::vector<std::pair<std::string, std::string>> earlier_renames(const std::string &text)
{
    std::vector<std::pair<std::string, std::string>> renames;
    std::istringstream in(text);
    std::string temporary, target;
    while (std::getline(in, temporary) && std::getline(in, target))
        renames.emplace_back(temporary, target);
    return renames;
}

constexpr EarlierNotes earlier_shelf_notes{is_earlier_note, is_earlier_temporary, earlier_renames};

// With the folder's lock held: every access finishes what a dead writer left first.
void tidy_locked(const fs::path &dir) { tidy_locked_folder(dir.string(), &earlier_shelf_notes); }

bool fsync_folder(const fs::path &dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
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

Result<PairWrite> write_preset_pair(const fs::path &dir, const std::string &name, const std::string &record,
                                    const std::string &png, bool overwrite)
{
    std::error_code ec;
    fs::create_directories(dir, ec);
    if (ec)
        return ramulon::fail(ErrorKind::io, "cannot make the shelf folder " + dir.string() + ": " + ec.message());
    // Held from the choice of the name to the last rename, so that two writers never both take
    // one name; the commit below takes it again at no cost.
    FolderLock lock(dir);
    tidy_locked(dir);
    PairWrite result;
    result.name = name;
    for (int n = 1; result.name.empty(); ++n)
        if (!present(dir, "preset-" + std::to_string(n)))
            result.name = "preset-" + std::to_string(n);
    if (!valid_preset_name(result.name))
        return ramulon::fail(ErrorKind::invalid_input, "\"" + result.name + "\" cannot name a preset: " + preset_name_rule);
    if (!overwrite && present(dir, result.name)) {
        result.outcome = PairWrite::exists;
        return result;
    }

    // Committed as one set: its note is down (step 3) before the preset (4) and the thumbnail
    // (5) are renamed into place, and gone once both are (6).
    StagedFiles files;
    files.on_commit_step([](int at) { step(at + 2); });
    if (Status staged = files.stage((dir / (result.name + ".preset")).string(), record); !staged)
        return staged.error();
    step(1);
    if (Status staged = files.stage((dir / (result.name + ".png")).string(), png); !staged)
        return staged.error();
    step(2);
    if (Status committed = files.commit(); !committed)
        return committed.error();
    step(6);
    result.outcome = PairWrite::written;
    return result;
}

Status remove_preset_pair(const fs::path &dir, const std::string &name)
{
    if (!valid_preset_name(name))
        return ramulon::fail(ErrorKind::invalid_input, "\"" + name + "\" cannot name a preset: " + preset_name_rule);
    const auto missing = [&] {
        return ramulon::fail(ErrorKind::not_found, "no preset \"" + name + "\" on the shelf " + dir.string());
    };
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        return missing();
    FolderLock lock(dir);
    tidy_locked(dir);
    if (!present(dir, name))
        return missing();
    for (const std::string &file : {name + ".preset", name + ".png"})
        if (::unlink((dir / file).c_str()) != 0 && errno != ENOENT)
            return ramulon::fail(errno_kind(errno), "cannot remove " + (dir / file).string() + ": " + std::strerror(errno));
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

Result<std::string> read_shelf_file(const fs::path &dir, const std::string &file)
{
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        return ramulon::fail(ErrorKind::not_found, "cannot read " + (dir / file).string() + ": there is no shelf folder");
    FolderLock lock(dir);
    tidy_locked(dir);
    return read_regular_file((dir / file).string(), max_input_bytes);
}

} // namespace host
