#include "files.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <memory>
#include <pthread.h>
#include <string_view>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

#include "common/index_cast.h"
#include "file_read.h"

namespace host {

namespace fs = std::filesystem;
using ramulon::ErrorKind;
using ramulon::Status;

namespace {

std::string failure(const std::string &path, int error_number)
{
    return "cannot write " + path + ": " + std::strerror(error_number ? error_number : EIO);
}

ramulon::Error system_failure(const std::string &path, int error_number)
{
    return ramulon::fail(errno_kind(error_number), failure(path, error_number));
}

StepHook step;

std::string folder_of(const std::string &path)
{
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

std::string name_of(const std::string &path) { return fs::path(path).filename().string(); }

// ---- names
//
// A temporary is ".NAME.ramulon-XXXXXX" beside its target NAME, a set's note
// ".NAME.ramulon-set-XXXXXX" beside the set's first target; X is a letter or digit.

constexpr std::string_view temporary_mark = ".ramulon-";
constexpr std::string_view note_mark = ".ramulon-set-";
constexpr std::size_t suffix_length = 6;

bool ends_with_mark(const std::string &name, std::string_view mark)
{
    if (name.size() < 1 + mark.size() + suffix_length || name.front() != '.')
        return false;
    const std::size_t at = name.size() - suffix_length - mark.size();
    return name.compare(at, mark.size(), mark) == 0 &&
           std::all_of(name.end() - suffix_length, name.end(), [](unsigned char c) { return std::isalnum(c); });
}

bool is_temporary_name(const std::string &name) { return ends_with_mark(name, temporary_mark); }
bool is_note_name(const std::string &name) { return ends_with_mark(name, note_mark); }

// Six letters and digits, different on every call of every process.
std::string unique_suffix()
{
    static std::atomic<std::uint64_t> serial{0};
    const auto now = static_cast<std::uint64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
    std::uint64_t x = (static_cast<std::uint64_t>(::getpid()) << 32) ^ (serial++ * 0x9e3779b97f4a7c15ull) ^ now;
    x ^= x >> 31;
    x *= 0xbf58476d1ce4e5b9ull;
    x ^= x >> 29;
    static constexpr char digits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::string out;
    for (std::size_t i = 0; i < suffix_length; ++i, x /= 62)
        out += digits[x % 62];
    return out;
}

std::string marked_path(const std::string &target, std::string_view mark)
{
    // Appended piece by piece: GCC 12 at -O3 takes "." + a temporary for an overlapping copy.
    std::string name = ".";
    name += name_of(target);
    name += mark;
    name += unique_suffix();
    return (fs::path(folder_of(target)) / name).string();
}

// ---- the files themselves

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
        left -= ramulon::index_cast<std::size_t>(n);
    }
    return true;
}

bool lock_now(int fd)
{
    int r;
    do
        r = ::flock(fd, LOCK_EX | LOCK_NB);
    while (r != 0 && errno == EINTR);
    return r == 0;
}

bool proc_links_work()
{
    static const bool work = ::access("/proc/self/fd", X_OK) == 0;
    return work;
}

// A new file for target's bytes, locked by this process: without a name where the file system
// allows (a writer that dies leaves nothing), else named as a temporary. -1 with the error set.
int open_temporary(const std::string &target, std::string &named, std::string &error)
{
    named.clear();
#ifdef O_TMPFILE
    if (proc_links_work()) {
        const int fd = ::open(folder_of(target).c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) {
            lock_now(fd);
            return fd;
        }
        if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL) {
            error = failure(target, errno);
            return -1;
        }
    }
#endif
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = marked_path(target, temporary_mark);
        const int fd = ::open(path.c_str(), O_CREAT | O_EXCL | O_RDWR | O_CLOEXEC, 0666);
        if (fd >= 0) {
            lock_now(fd);
            named = path;
            return fd;
        }
        if (errno != EEXIST) {
            error = failure(target, errno);
            return -1;
        }
    }
    error = failure(target, EEXIST);
    return -1;
}

// Gives an unnamed file a temporary's name beside target. False with errno set.
bool give_name(int fd, const std::string &target, std::string &named)
{
    const std::string source = "/proc/self/fd/" + std::to_string(fd);
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::string path = marked_path(target, temporary_mark);
        if (::linkat(AT_FDCWD, source.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
            named = path;
            return true;
        }
        if (errno != EEXIST)
            return false;
    }
    errno = EEXIST;
    return false;
}

void sync_folder(const std::string &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

bool same_file(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

// Removes path when it is still the file fd has open.
void unlink_if_same(const std::string &path, int fd)
{
    struct stat held, named;
    if (::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && same_file(held, named))
        ::unlink(path.c_str());
}

// Nothing but a regular file (or nothing) is replaced.
bool replaceable(const std::string &target, std::string &error)
{
    struct stat info;
    if (::lstat(target.c_str(), &info) != 0 || S_ISREG(info.st_mode))
        return true;
    error = "cannot write " + target + ": " + (S_ISDIR(info.st_mode) ? "it is a folder" : "it is not a regular file");
    return false;
}

// Ctrl-C or a stop request while a set is renamed takes effect once the set is whole.
class StopSignalsHeld {
public:
    StopSignalsHeld()
    {
        sigset_t stop;
        sigemptyset(&stop);
        for (int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
            sigaddset(&stop, s);
        pthread_sigmask(SIG_BLOCK, &stop, &before_);
    }
    ~StopSignalsHeld() { pthread_sigmask(SIG_SETMASK, &before_, nullptr); }
    StopSignalsHeld(const StopSignalsHeld &) = delete;
    StopSignalsHeld &operator=(const StopSignalsHeld &) = delete;

private:
    sigset_t before_;
};

// ---- notes: "ramulon set", then temporary and target pairs, then "end", each ending in a NUL;
// absolute paths, a temporary always in its target's folder.

constexpr std::string_view note_head = "ramulon set";
constexpr std::string_view note_end = "end";

std::string note_text(const std::vector<std::pair<std::string, std::string>> &renames)
{
    std::string text(note_head);
    text += '\0';
    for (const auto &[temporary, target] : renames) {
        text += temporary;
        text += '\0';
        text += target;
        text += '\0';
    }
    text += note_end;
    text += '\0';
    return text;
}

// The renames of a complete note; nothing for one that broke off while it was written.
std::vector<std::pair<std::string, std::string>> note_renames(const std::string &text)
{
    std::vector<std::string> fields;
    for (std::size_t begin = 0, end; (end = text.find('\0', begin)) != std::string::npos; begin = end + 1)
        fields.push_back(text.substr(begin, end - begin));
    std::vector<std::pair<std::string, std::string>> renames;
    if (fields.size() < 2 || fields.size() % 2 != 0 || fields.front() != note_head || fields.back() != note_end)
        return renames;
    for (std::size_t i = 1; i + 2 < fields.size(); i += 2) {
        const fs::path temporary(fields[i]), target(fields[i + 1]);
        if (temporary.is_absolute() && temporary.parent_path() == target.parent_path() &&
            is_temporary_name(temporary.filename().string()) && !target.filename().empty())
            renames.emplace_back(fields[i], fields[i + 1]);
    }
    return renames;
}

// A note whose writer is gone: its renames are finished (every temporary it lists was complete
// and on the disk before the note was put down), then it goes.
void finish_note(const std::string &note)
{
    const int fd = ::open(note.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return;
    if (!lock_now(fd)) { // its writer is still at it
        ::close(fd);
        return;
    }
    // A note lists a few file names; anything larger is no note of ours.
    if (const auto text = read_to_end(fd, 1u << 20, note + ": "))
        for (const auto &[temporary, target] : note_renames(*text)) {
            struct stat info;
            std::string refused;
            if (::lstat(temporary.c_str(), &info) == 0 && S_ISREG(info.st_mode) && replaceable(target, refused))
                ::rename(temporary.c_str(), target.c_str());
        }
    sync_folder(folder_of(note));
    unlink_if_same(note, fd);
    ::close(fd);
}

// A temporary nobody holds is a dead writer's.
void remove_if_abandoned(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0)
        return;
    struct stat info;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && lock_now(fd))
        unlink_if_same(path, fd);
    ::close(fd);
}

// A note of an earlier writer: its renames are finished, then it goes. Its writer held the
// folder's lock, which is held here, so it is dead.
void finish_earlier_note(const std::string &folder, const std::string &note, const EarlierNotes &earlier)
{
    const std::string path = (fs::path(folder) / note).string();
    if (const auto text = read_regular_file(path, 1u << 20))
        for (const auto &[temporary, target] : earlier.renames(*text)) {
            if (!earlier.is_temporary(temporary) || target.empty() || target.find('/') != std::string::npos)
                continue;
            const std::string from = (fs::path(folder) / temporary).string(), to = (fs::path(folder) / target).string();
            struct stat info;
            std::string refused;
            if (::lstat(from.c_str(), &info) == 0 && S_ISREG(info.st_mode) && replaceable(to, refused))
                ::rename(from.c_str(), to.c_str());
        }
    sync_folder(folder);
    ::unlink(path.c_str());
}

std::string absolute(const std::string &path)
{
    std::error_code ec;
    const fs::path a = fs::absolute(path, ec);
    return ec ? path : a.lexically_normal().string();
}

// Runs fill on the stream and closes it; false with the error when anything failed to write.
bool fill_and_close(std::FILE *f, const std::function<bool(std::FILE *)> &fill, const std::string &path,
                    std::string &error)
{
    errno = 0;
    bool ok = fill(f);
    ok = std::fflush(f) == 0 && ok;
    ok = std::ferror(f) == 0 && ok;
    const int saved = errno;
    ok = std::fclose(f) == 0 && ok;
    if (!ok)
        error = failure(path, saved ? saved : errno);
    return ok;
}

bool write_straight(const std::string &path, const std::function<bool(std::FILE *)> &fill, std::string &error)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        error = failure(path, errno);
        return false;
    }
    std::FILE *f = ::fdopen(fd, "w");
    if (!f) {
        error = failure(path, errno);
        ::close(fd);
        return false;
    }
    return fill_and_close(f, fill, path, error);
}

} // namespace

void set_commit_step_hook(std::function<void(int)> hook) { step.set(std::move(hook)); }

namespace {

// The folders (device, inode) whose locks this thread holds.
thread_local std::vector<std::pair<std::uint64_t, std::uint64_t>> held_folders;

} // namespace

FolderLock::FolderLock(const std::string &folder)
{
    fd_ = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    struct stat info;
    if (fd_ < 0 || ::fstat(fd_, &info) != 0) {
        if (fd_ >= 0)
            ::close(std::exchange(fd_, -1));
        return;
    }
    device_ = info.st_dev;
    inode_ = info.st_ino;
    const std::pair key(device_, inode_);
    if (std::find(held_folders.begin(), held_folders.end(), key) != held_folders.end()) {
        ::close(std::exchange(fd_, -1)); // a lock of another descriptor would wait for our own
        return;
    }
    while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
    }
    held_folders.push_back(key);
}

FolderLock::~FolderLock()
{
    if (fd_ < 0)
        return;
    const auto held = std::find(held_folders.begin(), held_folders.end(), std::pair(device_, inode_));
    if (held != held_folders.end())
        held_folders.erase(held);
    ::close(fd_); // releases the lock
}

ramulon::Result<WriteTarget> resolve_write_target(const std::string &path)
{
    std::string current = path;
    for (int hops = 0; hops < 40; ++hops) {
        struct stat info;
        if (::lstat(current.c_str(), &info) != 0) {
            if (errno != ENOENT)
                return system_failure(path, errno);
            return WriteTarget{WriteTarget::replace, current}; // a new file, where the chain ends
        }
        if (S_ISREG(info.st_mode))
            return WriteTarget{WriteTarget::replace, current};
        if (S_ISCHR(info.st_mode) || S_ISFIFO(info.st_mode))
            return WriteTarget{WriteTarget::straight, current};
        if (!S_ISLNK(info.st_mode))
            return ramulon::fail(ErrorKind::invalid_input, "cannot write " + path + ": " +
                                                               (S_ISDIR(info.st_mode) ? "it is a folder"
                                                                                      : "it is not a regular file"));
        // A link that ends in a device or a pipe (the links of /proc/self/fd among them, which
        // name no path) is written through as it is.
        struct stat end;
        if (::stat(current.c_str(), &end) == 0 && (S_ISCHR(end.st_mode) || S_ISFIFO(end.st_mode)))
            return WriteTarget{WriteTarget::straight, current};
        std::error_code ec;
        const fs::path next = fs::read_symlink(current, ec);
        if (ec)
            return system_failure(path, ec.value());
        current = (next.is_absolute() ? next : fs::path(folder_of(current)) / next).string();
    }
    return ramulon::fail(ErrorKind::invalid_input, failure(path, ELOOP));
}

Status write_file_atomically(const std::string &path, const std::function<bool(std::FILE *)> &fill)
{
    const auto target = resolve_write_target(path);
    if (!target)
        return target.error();
    if (target->kind == WriteTarget::straight) {
        std::string error;
        if (!write_straight(path, fill, error))
            return ramulon::fail(ErrorKind::io, error);
        return {};
    }
    StagedFiles files;
    const ramulon::Result<int> file = files.open(path);
    if (!file)
        return file.error();
    Status done = files.fill(*file, fill);
    if (done)
        done = files.finish(*file);
    if (done)
        done = files.commit();
    return done;
}

Status write_text_file(const std::string &path, const std::string &text)
{
    return write_file_atomically(
        path, [&](std::FILE *f) { return std::fwrite(text.data(), 1, text.size(), f) == text.size(); });
}

void tidy_locked_folder(const std::string &folder, const EarlierNotes *earlier)
{
    std::error_code ec;
    std::vector<std::string> notes, temporaries, earlier_notes, earlier_temporaries;
    for (const auto &entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        if (is_note_name(name))
            notes.push_back(fs::absolute(entry.path(), ec).string());
        else if (is_temporary_name(name))
            temporaries.push_back(entry.path().string());
        else if (earlier && earlier->is_note(name))
            earlier_notes.push_back(name);
        else if (earlier && earlier->is_temporary(name))
            earlier_temporaries.push_back(name);
    }
    for (const std::string &note : notes)
        finish_note(note);
    for (const std::string &note : earlier_notes)
        finish_earlier_note(folder, note, *earlier);
    for (const std::string &temporary : temporaries)
        remove_if_abandoned(temporary);
    for (const std::string &temporary : earlier_temporaries)
        ::unlink((fs::path(folder) / temporary).c_str()); // gone already when a note renamed it
}

void tidy_folder(const std::string &folder, const EarlierNotes *earlier)
{
    FolderLock lock(folder);
    tidy_locked_folder(folder, earlier);
}

StagedFiles::~StagedFiles()
{
    for (Entry &entry : entries_) {
        if (!entry.renamed && !entry.temporary.empty() && entry.fd >= 0)
            unlink_if_same(entry.temporary, entry.fd);
        if (entry.fd >= 0)
            ::close(entry.fd);
        if (entry.backup_fd >= 0) {
            unlink_if_same(entry.backup, entry.backup_fd);
            ::close(entry.backup_fd);
        }
    }
    if (note_fd_ >= 0) {
        unlink_if_same(note_, note_fd_);
        ::close(note_fd_);
    }
}

namespace {

ramulon::Error refused_write(std::string message) { return ramulon::fail(ramulon::ErrorKind::io, std::move(message)); }

} // namespace

ramulon::Status StagedFiles::stage(const std::string &path, const std::string &bytes)
{
    return stage(path, {std::string_view(bytes)});
}

ramulon::Status StagedFiles::stage(const std::string &path, std::initializer_list<std::string_view> pieces)
{
    return stage(path, std::span<const std::string_view>(pieces.begin(), pieces.size()));
}

ramulon::Status StagedFiles::stage(const std::string &path, std::span<const std::string_view> pieces)
{
    const ramulon::Result<int> file = open(path);
    if (!file)
        return file.error();
    if (ramulon::Status written = write_at(*file, 0, pieces); !written)
        return written;
    return finish(*file);
}

ramulon::Result<int> StagedFiles::open(const std::string &path)
{
    const auto target = resolve_write_target(path);
    if (!target)
        return target.error();
    if (target->kind != WriteTarget::replace)
        return ramulon::fail(ramulon::ErrorKind::invalid_input,
                             "cannot write " + path + ": it is not a regular file (a written set replaces regular files only)");
    std::string named, error;
    const int fd = open_temporary(target->path, named, error);
    if (fd < 0)
        return refused_write(error);
    Entry entry;
    entry.target = absolute(target->path);
    entry.temporary = named.empty() ? std::string() : absolute(named);
    entry.fd = fd;
    entries_.push_back(std::move(entry));
    return ramulon::index_cast<int>(entries_.size()) - 1;
}

ramulon::Status StagedFiles::write_at(int file, std::uint64_t offset, std::span<const std::string_view> pieces)
{
    Entry &entry = entries_.at(ramulon::index_cast<std::size_t>(file));
    if (entry.fd < 0 || entry.finished)
        return refused_write(failure(entry.target, EBADF));
    if (entry.run && entry.run->end() == offset)
        return entry.run->append(pieces) ? Status{} : refused_write(failure(entry.target, errno));
    if (ramulon::Status ended = end_run(entry); !ended)
        return ended;
    std::size_t count = 0;
    for (const std::string_view piece : pieces)
        count += piece.size();
    if (count >= DirectRun::least_bytes)
        if ((entry.run = DirectRun::begin(entry.fd, offset)))
            return entry.run->append(pieces) ? Status{} : refused_write(failure(entry.target, errno));
    if (::lseek(entry.fd, static_cast<off_t>(offset), SEEK_SET) < 0)
        return refused_write(failure(entry.target, errno));
    for (const std::string_view piece : pieces)
        if (!write_all(entry.fd, piece))
            return refused_write(failure(entry.target, errno));
    return {};
}

ramulon::Status StagedFiles::fill(int file, const std::function<bool(std::FILE *)> &fill)
{
    Entry &entry = entries_.at(ramulon::index_cast<std::size_t>(file));
    // A run still held is written first: the stream must find the file as it was written.
    if (ramulon::Status ended = end_run(entry); !ended)
        return ended;
    // The stream has a handle of its own, so that closing it leaves the file held.
    const int fd = entry.fd < 0 || entry.finished ? -1 : ::dup(entry.fd);
    std::FILE *f = fd < 0 ? nullptr : ::fdopen(fd, "w");
    if (!f) {
        const int why = entry.fd < 0 ? EBADF : errno;
        if (fd >= 0)
            ::close(fd);
        return refused_write(failure(entry.target, why));
    }
    std::string error;
    if (!fill_and_close(f, fill, entry.target, error))
        return refused_write(error);
    return {};
}

ramulon::Status StagedFiles::end_run(Entry &entry)
{
    if (!entry.run)
        return {};
    const bool written = entry.run->finish();
    const int why = errno;
    entry.run.reset();
    return written ? Status{} : refused_write(failure(entry.target, why));
}

ramulon::Status StagedFiles::finish(int file)
{
    Entry &entry = entries_.at(ramulon::index_cast<std::size_t>(file));
    if (entry.fd < 0 || entry.finished)
        return refused_write(failure(entry.target, EBADF));
    if (ramulon::Status ended = end_run(entry); !ended)
        return ended;
    if (::fsync(entry.fd) != 0)
        return refused_write(failure(entry.target, errno));
    if (!entry.temporary.empty()) {
        // A named temporary was made private to this user's umask only by its mode; the finished
        // file gets the usual permissions of a new file.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(entry.fd, 0666 & ~mask);
    }
    entry.finished = true;
    return {};
}

bool StagedFiles::name_temporaries(std::string &error)
{
    for (Entry &entry : entries_)
        if (entry.temporary.empty() && !give_name(entry.fd, entry.target, entry.temporary)) {
            error = failure(entry.target, errno);
            return false;
        }
    return true;
}

void StagedFiles::roll_back()
{
    for (Entry &entry : entries_) {
        if (!entry.renamed)
            continue;
        if (entry.backup_fd < 0)
            ::unlink(entry.target.c_str());
        else if (std::rename(entry.backup.c_str(), entry.target.c_str()) == 0)
            ::close(std::exchange(entry.backup_fd, -1));
        entry.renamed = false;
    }
}

ramulon::Status StagedFiles::commit()
{
    std::string error;
    if (!commit_set(error))
        return refused_write(error);
    return {};
}

bool StagedFiles::commit_set(std::string &error)
{
    for (const Entry &entry : entries_)
        if (!entry.finished) {
            error = "cannot write " + entry.target + ": it was not finished";
            return false;
        }
    if (entries_.empty())
        return true;

    // One commit at a time in each folder, after what dead writers left there is dealt with.
    std::vector<std::string> folders;
    for (const Entry &entry : entries_)
        folders.push_back(folder_of(entry.target));
    std::sort(folders.begin(), folders.end());
    folders.erase(std::unique(folders.begin(), folders.end()), folders.end());
    std::vector<std::unique_ptr<FolderLock>> locks;
    for (const std::string &folder : folders) {
        locks.push_back(std::make_unique<FolderLock>(folder));
        tidy_locked_folder(folder);
    }
    for (const Entry &entry : entries_)
        if (!replaceable(entry.target, error))
            return false;
    if (!name_temporaries(error))
        return false;

    // The note: from here on the set is decided, and a writer killed part way is finished by
    // the next one.
    if (entries_.size() > 1) {
        std::vector<std::pair<std::string, std::string>> renames;
        for (const Entry &entry : entries_)
            renames.emplace_back(entry.temporary, entry.target);
        const std::string &first = entries_.front().target;
        std::string unnamed;
        const int fd = open_temporary(first, unnamed, error);
        if (fd < 0)
            return false;
        note_fd_ = fd;
        const std::string text = note_text(renames);
        bool ok = write_all(fd, text) && ::fsync(fd) == 0;
        for (int attempt = 0; ok && note_.empty() && attempt < 100; ++attempt) {
            const std::string path = marked_path(first, note_mark);
            if (!unnamed.empty()) {
                if (::access(path.c_str(), F_OK) == 0)
                    continue; // rename would replace it
                ok = ::rename(unnamed.c_str(), path.c_str()) == 0;
            } else if (::linkat(AT_FDCWD, ("/proc/self/fd/" + std::to_string(fd)).c_str(), AT_FDCWD, path.c_str(),
                                AT_SYMLINK_FOLLOW) != 0) {
                ok = errno == EEXIST;
                continue;
            }
            if (ok)
                note_ = path;
        }
        if (!ok || note_.empty()) {
            error = failure(first, errno);
            if (!unnamed.empty() && note_.empty())
                ::unlink(unnamed.c_str());
            return false;
        }
    }
    for (const std::string &folder : folders)
        sync_folder(folder);
    step(1);
    steps_(1);

    // A second name of every earlier target, so that a rename failing now can be undone.
    for (Entry &entry : entries_) {
        struct stat info;
        if (::lstat(entry.target.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
            continue;
        const std::string backup = marked_path(entry.target, temporary_mark);
        if (::link(entry.target.c_str(), backup.c_str()) != 0)
            continue;
        const int fd = ::open(backup.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0 && lock_now(fd)) {
            entry.backup = backup;
            entry.backup_fd = fd;
        } else {
            if (fd >= 0)
                ::close(fd);
            ::unlink(backup.c_str());
        }
    }

    bool ok = true;
    {
        StopSignalsHeld held;
        int k = 0;
        for (Entry &entry : entries_) {
            if (!replaceable(entry.target, error)) {
                ok = false;
                break;
            }
            if (std::rename(entry.temporary.c_str(), entry.target.c_str()) != 0) {
                error = failure(entry.target, errno);
                ok = false;
                break;
            }
            entry.renamed = true;
            step(2 + k);
            steps_(2 + k++);
        }
        if (!ok)
            roll_back();
        for (const std::string &folder : folders)
            sync_folder(folder);
        if (note_fd_ >= 0) {
            unlink_if_same(note_, note_fd_);
            ::close(std::exchange(note_fd_, -1));
        }
    }
    for (Entry &entry : entries_) {
        if (entry.backup_fd >= 0) {
            unlink_if_same(entry.backup, entry.backup_fd);
            ::close(std::exchange(entry.backup_fd, -1));
        }
        if (entry.renamed) {
            ::close(std::exchange(entry.fd, -1));
            entry.temporary.clear();
        }
    }
    return ok;
}

} // namespace host
