#include "export/cancel.h"

namespace exporter {

namespace {

thread_local std::function<bool()> *current = nullptr;

} // namespace

CancelCheck::CancelCheck(std::function<bool()> cancelled) : outer_(current), cancelled_(std::move(cancelled))
{
    current = &cancelled_;
}

CancelCheck::~CancelCheck() { current = outer_; }

void stop_if_cancelled()
{
    if (current && *current && (*current)())
        throw Cancelled();
}

} // namespace exporter
