#include "ledger.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/file.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <openssl/evp.h>

#include "host/file_read.h"

#ifndef RAMULON_VERSION_TEXT
#define RAMULON_VERSION_TEXT "unknown"
#endif

namespace batch {

namespace {

namespace fs = std::filesystem;

std::string hex_sha256(const std::string &bytes)
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
    static const char *digits = "0123456789abcdef";
    std::string hex;
    for (unsigned int i = 0; i < size; ++i) {
        hex += digits[digest[i] >> 4];
        hex += digits[digest[i] & 15];
    }
    return hex;
}

// The bytes a variant reads from a file, or a note that it could not be read (the variant then
// fails, and is tried again next time).
std::string input_bytes(const std::string &path, std::size_t limit)
{
    if (path.empty())
        return "(none)";
    auto bytes = host::read_regular_file(path, limit);
    if (!bytes)
        return "(unreadable)";
    return std::move(bytes).value();
}

} // namespace

std::string job_key(const Job &job)
{
    nlohmann::ordered_json line = nlohmann::ordered_json::parse(job.text, nullptr, false);
    if (line.is_object()) {
        line.erase("seed");
        line.erase("seeds");
    }
    // A shelf entry is known by its name; a file by its bytes.
    const bool shelf_entry = !job.preset.empty() && job.preset.find('/') == std::string::npos &&
                             fs::path(job.preset).extension() != ".preset";
    const std::string preset = shelf_entry ? "shelf " + job.preset : input_bytes(job.preset, host::max_preset_bytes);
    return hex_sha256(std::string("ramulon ") + RAMULON_VERSION_TEXT + "\n" + line.dump() + "\n" +
                      hex_sha256(input_bytes(job.crown, host::max_input_bytes)) + "\n" + hex_sha256(preset) + "\n");
}

std::string variant_key(const std::string &key, std::int64_t seed)
{
    return hex_sha256(key + " " + std::to_string(seed));
}

std::string variant_key(const Job &job, std::int64_t seed) { return variant_key(job_key(job), seed); }

Ledger::Ledger(std::string dir) : dir_(std::move(dir))
{
    std::ifstream in(fs::path(dir_) / file_name);
    std::string text;
    while (std::getline(in, text)) {
        const nlohmann::json entry = nlohmann::json::parse(text, nullptr, false);
        if (entry.is_object() && entry.contains("variant") && entry["variant"].is_string() &&
            entry.contains("key") && entry["key"].is_string())
            keys_[entry["variant"].get<std::string>()] = entry["key"].get<std::string>();
    }
}

bool Ledger::done(const Job &job, std::int64_t seed, const std::string &key) const
{
    const auto it = keys_.find(variant_name(job, seed));
    if (it == keys_.end() || it->second != key)
        return false;
    std::error_code ec;
    for (const std::string &file : variant_files(job, seed))
        if (!fs::is_regular_file(fs::path(dir_) / file, ec))
            return false;
    return true;
}

std::string Ledger::record(const Job &job, std::int64_t seed, const std::string &key)
{
    nlohmann::json entry{{"variant", variant_name(job, seed)}, {"key", key}, {"files", variant_files(job, seed)}};
    const std::string line = entry.dump() + "\n";
    const fs::path path = fs::path(dir_) / file_name;
    // Two runs may share a folder: each line goes in whole, under the file's lock.
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
    if (fd < 0)
        return "cannot write the ledger " + path.string() + ": " + std::strerror(errno);
    while (::flock(fd, LOCK_EX) != 0 && errno == EINTR) {
    }
    const ssize_t n = ::write(fd, line.data(), line.size());
    const int saved = errno;
    ::fdatasync(fd);
    ::close(fd);
    if (n != static_cast<ssize_t>(line.size()))
        return "cannot write the ledger " + path.string() + ": " + std::strerror(n < 0 ? saved : ENOSPC);
    keys_[variant_name(job, seed)] = key;
    return {};
}

} // namespace batch
