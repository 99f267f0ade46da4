#include "serve/failure.h"

#include <new>

namespace serve {

namespace {

// When a client refused for a busy export should try again.
constexpr int retry_seconds = 5;

} // namespace

ramulon::Error error_of(std::exception_ptr thrown)
{
    try {
        std::rethrow_exception(thrown);
    } catch (const Refused &refused) {
        return refused.error;
    } catch (const std::bad_alloc &) {
        return ramulon::fail(ramulon::ErrorKind::out_of_memory, out_of_memory_message);
    } catch (const std::exception &e) {
        return ramulon::fail(ramulon::ErrorKind::internal, std::string("The server failed: ") + e.what());
    } catch (...) {
    }
    return ramulon::fail(ramulon::ErrorKind::internal, "The server failed.");
}

HttpFailure http_failure(ramulon::ErrorKind kind)
{
    using ramulon::ErrorKind;
    switch (kind) {
    case ErrorKind::invalid_input:
        return {400, 0};
    case ErrorKind::not_found:
        return {404, 0};
    case ErrorKind::conflict:
        return {409, 0};
    case ErrorKind::busy:
        return {503, retry_seconds};
    case ErrorKind::out_of_memory:
    case ErrorKind::cancelled:
        return {503, 0};
    case ErrorKind::io:
    case ErrorKind::internal:
        break;
    }
    return {500, 0};
}

} // namespace serve
