#include "handles.h"

#include <atomic>
#include <cstdint>
#include <unordered_map>

#include "tree.h"

namespace library {

namespace {

template <typename T> struct Registry {
    std::mutex mutex;
    std::unordered_map<std::uintptr_t, std::shared_ptr<T>> live;
};

Registry<Session> &sessions()
{
    static Registry<Session> r;
    return r;
}

Registry<Tree> &trees()
{
    static Registry<Tree> r;
    return r;
}

// Handle numbers count up and are never given out twice; they are no addresses.
std::uintptr_t next_handle()
{
    static std::atomic<std::uintptr_t> next{1};
    return next.fetch_add(1) * 16 + 8;
}

template <typename T> std::uintptr_t add(Registry<T> &r, std::shared_ptr<T> object)
{
    const std::uintptr_t id = next_handle();
    std::lock_guard lock(r.mutex);
    r.live.emplace(id, std::move(object));
    return id;
}

template <typename T> std::shared_ptr<T> find(Registry<T> &r, const void *handle, bool remove)
{
    const auto id = reinterpret_cast<std::uintptr_t>(handle);
    std::lock_guard lock(r.mutex);
    const auto it = r.live.find(id);
    if (it == r.live.end())
        return nullptr;
    std::shared_ptr<T> object = it->second;
    if (remove)
        r.live.erase(it);
    return object;
}

thread_local std::string last_thread_error;

} // namespace

std::mutex &host_lock()
{
    static std::mutex m;
    return m;
}

Session::~Session()
{
    std::lock_guard lock(host_lock());
    host.reset();
}

ramulon_session *add_session(std::shared_ptr<Session> session)
{
    return reinterpret_cast<ramulon_session *>(add(sessions(), std::move(session)));
}
std::shared_ptr<Session> find_session(const ramulon_session *handle) { return find(sessions(), handle, false); }
std::shared_ptr<Session> remove_session(const ramulon_session *handle) { return find(sessions(), handle, true); }

ramulon_tree *add_tree(std::shared_ptr<Tree> tree)
{
    return reinterpret_cast<ramulon_tree *>(add(trees(), std::move(tree)));
}
std::shared_ptr<Tree> find_tree(const ramulon_tree *handle) { return find(trees(), handle, false); }
std::shared_ptr<Tree> remove_tree(const ramulon_tree *handle) { return find(trees(), handle, true); }

int fail(int status, const std::string &message, Session *session)
{
    last_thread_error = message;
    if (session) {
        std::lock_guard lock(session->error_mutex);
        session->error = message;
    }
    return status;
}

const char *thread_error() { return last_thread_error.c_str(); }

int bad_handle(const char *what)
{
    return fail(RAMULON_ERROR_HANDLE, std::string("not a live ") + what + " (null, freed, or never one)");
}

} // namespace library
