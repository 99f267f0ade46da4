// Running part of a test in a forked child whose limits or rights differ from the test's own:
// a small file size limit stands in for a full disk, an unprivileged user for a folder the
// user may not write.
#pragma once

#include <functional>
#include <string>

namespace ramulon {

// Runs body in a child process and returns the child's exit code (body's result), or 128 plus
// the signal that ended it.
int in_child(const std::function<int()> &body);

// In a child: no file may grow past the given size; writes beyond it fail (SIGXFSZ ignored).
bool limit_file_size(long bytes);

// In a child running as root: become the unprivileged user "nobody" (uid and gid 65534), so that
// folder permissions stop writes as they stop everyone else's. Other users keep their rights.
bool drop_root();

// Folder permissions: readable and searchable by everyone, writable by the owner only (0755);
// the same without the owner's write (0555), so that no one but root may write in it; and back
// to the owner's alone (0700).
void open_folder(const std::string &folder);
void lock_folder(const std::string &folder);
void unlock_folder(const std::string &folder);

} // namespace ramulon
