// Writing output files so that a reader never sees half a file, nor half of a set of files, and
// so that nothing but a regular file is ever replaced.
//
// A target is resolved first: a symbolic link is followed to the file it names, which is then
// replaced (the link stays a link); a character device or a FIFO (/dev/null, a pipe) is written
// straight, as a shell's redirection would; a folder, a socket or a block device is refused.
// Everything else goes to a temporary file in the target's folder, which is renamed over the
// target only when complete and on the disk.
//
// A temporary has no name while it is written (where the file system allows), so a writer that
// dies leaves nothing behind. A set of files (a glTF and its buffer, an OBJ with its materials
// and textures, levels of detail in files of their own) is committed as one unit: its
// temporaries are named, a note listing their renames is put down beside the first target, and
// only then are they renamed into place. A writer killed part way leaves the note, and the next
// write into that folder finishes the renames it lists. Temporaries and notes are held locked by
// their writer for as long as it lives; one nobody holds belongs to a dead writer and is removed.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>
#include <utility>

#include "common/error.h"
#include "host/direct_run.h"

namespace host {

// Where the bytes for a path go.
struct WriteTarget {
    enum Kind {
        replace,  // a regular file, or none yet: staged beside it and renamed over it
        straight, // a character device or a FIFO: written as it is
    } kind = replace;
    std::string path; // for replace, the end of the path's chain of links
};

// Where path's bytes would go; nothing is created. The only error conditions are a folder, a
// socket, a block device or a link chain that loops (invalid_input) and a link or folder the
// system will not read (io, not_found); the message is "cannot write PATH: why".
ramulon::Result<WriteTarget> resolve_write_target(const std::string &path);

// Calls fill with an open file; when fill returns true and everything reached the disk, renames
// it to path (a device or FIFO is filled straight). Afterwards path holds exactly what fill
// wrote, or (on failure) whatever it held before. The only error conditions are those of
// resolve_write_target and a file that cannot be made, filled (fill returned false) or put on
// the disk (io); the message is one line, "cannot write PATH: why".
ramulon::Status write_file_atomically(const std::string &path, const std::function<bool(std::FILE *)> &fill);

// write_file_atomically with the text's bytes as they are.
ramulon::Status write_text_file(const std::string &path, const std::string &text);

// The notes of writers of an earlier layout (the shelf's, say), finished by the same sweep as
// this host's own: how their notes and temporaries are known by name, and the renames a note's
// text lists as (temporary, target) file names in the note's folder. Such writers held the
// folder's lock throughout, so whatever of theirs the sweep finds under the lock is a dead one's.
struct EarlierNotes {
    bool (*is_note)(const std::string &name) = nullptr;
    bool (*is_temporary)(const std::string &name) = nullptr;
    std::vector<std::pair<std::string, std::string>> (*renames)(const std::string &text) = nullptr;
};

// Finishes the sets a dead writer left in the folder (and the notes of `earlier`, when given)
// and removes the temporaries no living writer holds (every commit does this in its folders
// first). Afterwards the folder holds no note and no temporary of a dead writer.
void tidy_folder(const std::string &folder, const EarlierNotes *earlier = nullptr);
// The same for a caller that holds the folder's lock (FolderLock) already.
void tidy_locked_folder(const std::string &folder, const EarlierNotes *earlier = nullptr);

// Where a test stops a writer at one of its steps: nothing until a hook is set.
class StepHook {
public:
    void set(std::function<void(int step)> hook) { hook_ = std::move(hook); }
    void operator()(int step) const
    {
        if (hook_)
            hook_(step);
    }

private:
    std::function<void(int)> hook_;
};

// Files that belong together (a glTF and its buffer, an OBJ and its materials) appear together
// or not at all: each is written to a temporary beside its target, and only when every one is
// complete are they renamed into place. Every target that exists must be a regular file (or a
// link to one): a set is never written into a device.
class StagedFiles {
public:
    StagedFiles() = default;
    ~StagedFiles(); // removes every temporary that was not committed
    StagedFiles(const StagedFiles &) = delete;
    StagedFiles &operator=(const StagedFiles &) = delete;

    // Every call below fails with a one-line message naming the file. The only error conditions
    // are: a target that exists and is no regular file (invalid_input), a path whose folder is
    // missing (not_found), and the system refusing a write, a sync or a rename (io); a stream
    // filler returning false fails as io too.

    // Writes the bytes to a temporary file in path's folder.
    ramulon::Status stage(const std::string &path, const std::string &bytes);
    // The same for a file written in pieces, one after another (a large file need not be
    // gathered into one string first).
    ramulon::Status stage(const std::string &path, std::initializer_list<std::string_view> pieces);
    ramulon::Status stage(const std::string &path, std::span<const std::string_view> pieces);
    // A file written in place while its bytes are made, so that a large one need not be held
    // in memory at all: open() stages a temporary and returns its handle, write_at() puts
    // pieces one after another from a byte offset, fill() hands a stream that writes from the
    // start, finish() puts the file on the disk. Every opened file is finished before commit.
    ramulon::Result<int> open(const std::string &path);
    ramulon::Status write_at(int file, std::uint64_t offset, std::span<const std::string_view> pieces);
    ramulon::Status fill(int file, const std::function<bool(std::FILE *)> &fill);
    ramulon::Status finish(int file);
    // Renames the temporaries onto their targets, in staging order, as one unit (see above). If
    // one rename fails, the targets already replaced get their earlier file back (or are removed
    // when there was none), so that no half of a set is left.
    ramulon::Status commit();
    // Called after each step of this set's commit, as set_commit_step_hook's hook is.
    void on_commit_step(std::function<void(int step)> hook) { steps_.set(std::move(hook)); }

private:
    struct Entry {
        std::string target;    // the regular file (or new name) to replace
        std::string temporary; // its name, once it has one
        std::string backup;    // a second name of the earlier target file, while committing
        int fd = -1;           // held (and locked) until the set is committed or dropped
        int backup_fd = -1;
        std::unique_ptr<DirectRun> run; // the long run of bytes being written, if any
        bool finished = false;
        bool renamed = false;
    };
    // Writes what the entry's run holds and ends it.
    ramulon::Status end_run(Entry &entry);
    bool name_temporaries(std::string &error);
    bool commit_set(std::string &error);
    void roll_back();
    std::vector<Entry> entries_;
    std::string note_; // the set's note while it is committed
    int note_fd_ = -1;
    StepHook steps_;
};

// A folder's lock (on the folder itself) for as long as the object lives: one commit or tidy of
// a folder at a time, among processes and threads alike. A thread that holds a folder's lock
// already (a shelf deciding a name, then committing its pair) takes it again at no cost; the
// outermost lock releases it.
class FolderLock {
public:
    explicit FolderLock(const std::string &folder);
    ~FolderLock();
    FolderLock(const FolderLock &) = delete;
    FolderLock &operator=(const FolderLock &) = delete;

private:
    int fd_ = -1; // held only by the outermost lock of the folder in this thread
    std::uint64_t device_ = 0, inode_ = 0;
};

// Called after each step of a commit (1: the set's note is down, 2 + k: the k-th file renamed),
// in the committing process: how a test stops a writer part way.
void set_commit_step_hook(std::function<void(int step)> hook);

} // namespace host
