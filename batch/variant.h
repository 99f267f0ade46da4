// Growing one variant of a job and writing its files, in a session whose tool is open.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "host/session.h"
#include "job.h"

namespace batch {

// The crown, the preset, the settings and the seed, the build, then every output into out_dir:
// the bytes `ramulon build` writes for the same inputs and options. shelf: the folder a preset
// name is looked up in (empty: the host's). host_lock, when given, is held around the steps
// that reach the host's state shared by every session of the process (the panel, the shelf,
// thumbnails), so that sessions in other threads may build meanwhile. Empty on success, else a
// one-line error; a failed variant leaves none of its files behind that were not there.
std::string grow_variant(host::Session &session, const Job &job, std::int64_t seed, const std::string &out_dir,
                         const std::string &shelf, std::mutex *host_lock = nullptr);

} // namespace batch
