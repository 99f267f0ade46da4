// Running part of a test in a forked child whose limits or rights differ from the test's own:
// a small file size limit stands in for a full disk, an unprivileged user for a folder the
// user may not write.
#pragma once

#include <functional>
#include <string>
#include <vector>
#include <sys/types.h>

namespace ramulon {

// Runs body in a child process and returns the child's exit code (body's result), or 128 plus
// the signal that ended it.
int in_child(const std::function<int()> &body);

// In a child: no file may grow past the given size; writes beyond it fail (SIGXFSZ ignored).
bool limit_file_size(long bytes);

// In a child: room for only `bytes` more address space than the process holds now, so that an
// allocation past it fails as it would on a machine out of memory. Not under AddressSanitizer,
// which keeps address space of its own. The memory the heap holds free counts as room too: a
// child forked after earlier work holds some, which occupy_free_heap() takes first.
bool limit_memory_growth(long bytes);
void occupy_free_heap();

// In a child running as root: become the unprivileged user "nobody" (uid and gid 65534), so that
// folder permissions stop writes as they stop everyone else's. Other users keep their rights.
bool drop_root();

// Folder permissions: readable and searchable by everyone, writable by the owner only (0755);
// the same without the owner's write (0555), so that no one but root may write in it; and back
// to the owner's alone (0700).
void open_folder(const std::string &folder);
void lock_folder(const std::string &folder);
void unlock_folder(const std::string &folder);

// What a run of the command line printed (standard output and error together) and its exit
// code (128 plus the signal that ended it).
struct CommandRun {
    int status = -1;
    std::string output;
    std::size_t lines() const; // the lines printed
};

// Runs `ramulon` with these arguments in a child process, with a limit on its address space
// when one is given (bytes).
CommandRun run_command_line(const std::vector<std::string> &arguments, long address_space = 0);

// Starts `ramulon serve --port 0` on a shelf folder with the build's own module in a child
// process, and reads the first line it prints ("Serving on http://127.0.0.1:PORT/"). Returns the
// child's process id, or -1 when it could not be started.
pid_t start_serve_process(const std::string &shelf, std::string &first_line);

} // namespace ramulon
