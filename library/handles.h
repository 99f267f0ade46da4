// What stands behind the C interface's handles: sessions and trees live in registries keyed by
// numbers that are never reused, so a freed or foreign handle is recognised by every call
// instead of being followed into freed memory; a call holds its own reference while it works,
// so a session freed from another thread goes away only when that call is done.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "host/session.h"
#include "ramulon/ramulon.h"

namespace library {

// The host's state that every session in the process shares: the panel service's forms, the
// preset shelf and its subscriptions, the image service. Every call that reaches it holds this
// lock; builds and writes do not, so sessions in other threads build meanwhile.
std::mutex &host_lock();

struct ControlInfo {
    ramulon_control info{};          // enabled is filled in when asked
    std::vector<const char *> choices;
};

struct Session {
    ~Session(); // unloads the tool under the host lock

    std::mutex use;                  // held by the call working on the session
    std::unique_ptr<host::Session> host;
    LWXPanelID panel = nullptr;
    std::vector<ControlInfo> controls;
    std::string shelf;               // empty: the default folder
    bool built = false;              // a build succeeded (the tool holds its skeleton)

    std::mutex error_mutex;
    std::string error;

    // What the last call returned by pointer.
    std::string text;
    std::vector<std::string> names;
    std::vector<const char *> name_pointers;
    std::string png;
};

struct Tree;

// Handles for new objects, and the objects of live handles (null for any other handle).
ramulon_session *add_session(std::shared_ptr<Session> session);
std::shared_ptr<Session> find_session(const ramulon_session *handle);
std::shared_ptr<Session> remove_session(const ramulon_session *handle);
ramulon_tree *add_tree(std::shared_ptr<Tree> tree);
std::shared_ptr<Tree> find_tree(const ramulon_tree *handle);
std::shared_ptr<Tree> remove_tree(const ramulon_tree *handle);

// Records a failure for the calling thread (and the session, when given); returns status.
int fail(int status, const std::string &message, Session *session = nullptr);
// Clears nothing: a success leaves the last error readable. Returns RAMULON_OK.
inline int ok() { return RAMULON_OK; }
const char *thread_error();

// The failure of an unknown handle.
int bad_handle(const char *what);

// An options structure as the caller's holds it (an older caller's is shorter, known by its
// leading size), the fields it lacks as init sets them.
template <typename Options> Options sized_options(const Options *given, void (*init)(Options *))
{
    Options o;
    init(&o);
    if (given && given->size >= sizeof(given->size))
        std::memcpy(static_cast<void *>(&o), given, std::min(given->size, sizeof(o)));
    o.size = sizeof(o);
    return o;
}

} // namespace library
