// The C interface's batch variants: what `ramulon batch` does per variant, for callers that
// spread the variants over threads, processes or machines themselves (Python's executors).
#include <filesystem>

#include <nlohmann/json.hpp>

#include "batch/job.h"
#include "batch/ledger.h"
#include "batch/variant.h"
#include "embedded_modules.h"
#include "handles.h"
#include "ramulon/ramulon.h"

using namespace library;

namespace {

std::string base_of(const char *base_dir) { return base_dir ? base_dir : ""; }

// One job line, or the failure recorded.
std::optional<batch::Job> job_of(const char *line, const char *base_dir, int &status)
{
    if (!line) {
        status = fail(RAMULON_ERROR_ARGUMENT, "job is NULL");
        return std::nullopt;
    }
    ramulon::Result<batch::Job> job = batch::parse_job(line, 1, base_of(base_dir));
    if (!job) {
        status = fail(RAMULON_ERROR_ARGUMENT, "bad job: " + job.error().message);
        return std::nullopt;
    }
    return std::move(job).value();
}

bool seed_of(const batch::Job &job, int64_t seed, int &status)
{
    if (seed >= job.first_seed && seed <= job.last_seed)
        return true;
    status = fail(RAMULON_ERROR_ARGUMENT, "the seed " + std::to_string(seed) + " is not one of the job's (" +
                                              std::to_string(job.first_seed) + " to " + std::to_string(job.last_seed) + ")");
    return false;
}

bool writable_folder(const char *out_dir, int &status)
{
    if (!out_dir) {
        status = fail(RAMULON_ERROR_ARGUMENT, "out_dir is NULL");
        return false;
    }
    std::error_code ec;
    std::filesystem::create_directories(out_dir, ec);
    if (ec || !std::filesystem::is_directory(out_dir, ec)) {
        status = fail(RAMULON_ERROR_IO, std::string("cannot make the output folder ") + out_dir +
                                            (ec ? ": " + ec.message() : ": a file of that name is in the way"));
        return false;
    }
    return true;
}

} // namespace

extern "C" {

int ramulon_batch_variant(const char *line, const char *base_dir, int64_t seed, const char *out_dir, const char *shelf)
{
    int status = RAMULON_OK;
    try {
        const std::optional<batch::Job> job = job_of(line, base_dir, status);
        if (!job || !seed_of(*job, seed, status) || !writable_folder(out_dir, status))
            return status;
        // The tool goes under the host lock: its panel and subscription are shared host state.
        struct Closing {
            std::unique_ptr<host::Session> session = std::make_unique<host::Session>();
            ~Closing()
            {
                std::lock_guard lock(host_lock());
                session.reset();
            }
        } open;
        host::Session &session = *open.session;
        session.services().echo_messages = false;
        session.services().show_progress = false;
        if (!session.load_copy(embedded_module(job->generation), embedded_module_name(job->generation)))
            return fail(RAMULON_ERROR_MODULE, session.error());
        {
            std::lock_guard lock(host_lock());
            if (session.activate(job->generation) != AFUNC_OK)
                return fail(RAMULON_ERROR_MODULE, session.error());
            session.start();
            session.panel();
        }
        const std::string error = batch::grow_variant(session, *job, seed, out_dir, shelf ? shelf : "", &host_lock());
        if (!error.empty())
            return fail(RAMULON_ERROR_REFUSED, batch::variant_name(*job, seed) + ": " + error);
        return RAMULON_OK;
    } catch (const std::bad_alloc &) {
        return fail(RAMULON_ERROR_MEMORY, "out of memory");
    }
}

int ramulon_batch_plan(const char *jobs_text, const char *base_dir, const char *out_dir, const char **plan_json)
{
    if (!jobs_text || !out_dir || !plan_json)
        return fail(RAMULON_ERROR_ARGUMENT, std::string(!jobs_text ? "jobs_text" : !out_dir ? "out_dir" : "plan_json") + " is NULL");
    try {
        static thread_local std::string text;
        const batch::JobFile file = batch::parse_jobs(jobs_text, base_of(base_dir));
        const batch::Ledger ledger(out_dir);
        nlohmann::json plan{{"variants", nlohmann::json::array()}, {"errors", nlohmann::json::array()}};
        for (const batch::Job &job : file.jobs) {
            const std::string key = batch::job_key(job);
            for (int64_t seed = job.first_seed; seed <= job.last_seed; ++seed)
                plan["variants"].push_back({{"line", job.line},
                                            {"name", batch::variant_name(job, seed)},
                                            {"seed", seed},
                                            {"job", job.text},
                                            {"files", batch::variant_files(job, seed)},
                                            {"done", ledger.done(job, seed, batch::variant_key(key, seed))}});
        }
        for (const auto &[line, message] : file.errors)
            plan["errors"].push_back({{"line", line}, {"message", message}});
        text = plan.dump();
        *plan_json = text.c_str();
        return RAMULON_OK;
    } catch (const std::bad_alloc &) {
        return fail(RAMULON_ERROR_MEMORY, "out of memory");
    }
}

int ramulon_batch_record(const char *line, const char *base_dir, int64_t seed, const char *out_dir)
{
    int status = RAMULON_OK;
    try {
        const std::optional<batch::Job> job = job_of(line, base_dir, status);
        if (!job || !seed_of(*job, seed, status) || !writable_folder(out_dir, status))
            return status;
        batch::Ledger ledger(out_dir);
        if (std::string error = ledger.record(*job, seed, batch::variant_key(*job, seed)); !error.empty())
            return fail(RAMULON_ERROR_IO, error);
        return RAMULON_OK;
    } catch (const std::bad_alloc &) {
        return fail(RAMULON_ERROR_MEMORY, "out of memory");
    }
}

} // extern "C"
