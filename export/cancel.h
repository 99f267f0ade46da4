// An export that is no longer wanted stops part way: the server's client has gone, or the
// server is stopping. Whoever asks for an export on a thread may give that thread a check; the
// writers ask it between their steps (each subdivision level, each level of detail, each view of
// the far card, each megabyte of OBJ text) and give up with "the export was cancelled" (an error
// of kind cancelled), their temporaries removed as they unwind.
#pragma once

#include <exception>
#include <functional>
#include <string>

namespace exporter {

struct Cancelled : std::exception {
    const char *what() const noexcept override { return "the export was cancelled"; }
};

// The check of the calling thread's exports while the object lives (true: stop now).
class CancelCheck {
public:
    explicit CancelCheck(std::function<bool()> cancelled);
    ~CancelCheck();
    CancelCheck(const CancelCheck &) = delete;
    CancelCheck &operator=(const CancelCheck &) = delete;

private:
    std::function<bool()> *outer_;
    std::function<bool()> cancelled_;
};

// Throws Cancelled when the calling thread's export is to stop.
void stop_if_cancelled();

} // namespace exporter
