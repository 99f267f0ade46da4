// Writing output files so that a reader never sees half a file: everything goes to a temporary
// file in the same folder, which is renamed over the target only when complete.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

namespace host {

// Calls fill with an open temporary file; when fill returns true and everything reached the
// disk, renames the file to path. Returns false with a one-line error otherwise, leaving any
// previous file at path untouched.
bool write_file_atomically(const std::string &path, const std::function<bool(std::FILE *)> &fill,
                           std::string &error);

bool write_text_file(const std::string &path, const std::string &text, std::string &error);

} // namespace host
