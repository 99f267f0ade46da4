// The ledger of a batch's output folder, DIR/ramulon-batch.ledger: one line per finished variant,
// {"variant": "oak-7", "key": "...", "files": ["oak-7.glb", ...]}, appended only once every file
// of the variant is in place. A variant counts as done when the ledger holds it with the same
// key and its files still exist; the key covers everything the variant's bytes depend on (the
// job without its seeds, the seed, the crown's and preset's bytes, Ramulon's version), so a
// changed job line or input file makes the variant again.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "job.h"

namespace batch {

// What every variant of a job depends on (hex SHA-256); its files are read once here.
std::string job_key(const Job &job);
// The key of one variant (hex SHA-256).
std::string variant_key(const std::string &job_key, std::int64_t seed);
std::string variant_key(const Job &job, std::int64_t seed);

class Ledger {
public:
    // Reads the folder's ledger, if any (a line cut short by a killed run is skipped).
    explicit Ledger(std::string dir);

    // Whether the variant is done: recorded with this key, its files present.
    bool done(const Job &job, std::int64_t seed, const std::string &key) const;
    // Appends the variant. Empty on success, else a one-line error.
    std::string record(const Job &job, std::int64_t seed, const std::string &key);

    static constexpr const char *file_name = "ramulon-batch.ledger";

private:
    std::string dir_;
    std::map<std::string, std::string> keys_; // variant -> key of its latest record
};

} // namespace batch
