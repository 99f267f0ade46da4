// ramulon batch JOBS --out DIR: every variant of a job file (batch/job.h), each grown in a
// process of its own, -j at a time. A variant whose files the folder's ledger records as made
// from the same job is skipped, so a run that was stopped goes on where it stopped; a failing
// variant is reported and the others go on; the exit status says whether all succeeded.
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <deque>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <memory>
#include <sys/wait.h>
#include <unistd.h>

#include "batch/job.h"
#include "batch/ledger.h"
#include "batch/variant.h"
#include "command.h"
#include "driver/tool_setup.h"
#include "driver/tree_budget.h"
#include "host/file_read.h"
#include "process_memory.h"

namespace cli {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct BatchOptions {
    std::string jobs;
    std::string out;
    std::string shelf;
    int processes = 0; // 0: one per core
};

struct Variant {
    const batch::Job *job;
    std::int64_t seed;
    std::string key;
};

struct Running {
    Variant variant;
    int pipe = -1; // the child's one-line error comes through it
};

// A job file of a million lines is a mistake, not a batch.
constexpr std::size_t max_job_file_bytes = 64u * 1024u * 1024u;
// What a child sends of its error; the rest of a very long message is cut.
constexpr std::size_t max_message_bytes = 8192;

// The child's side: one variant, its error (if any) down the pipe, then gone without running
// the parent's exit handlers.
[[noreturn]] void grow_in_child(const Variant &v, const BatchOptions &options, std::size_t memory_limit, int pipe)
{
    keep_one_build_on_large_pages();
    batch::Job job = *v.job;
    if (!job.memory_limit)
        job.memory_limit = memory_limit;
    std::string error;
    {
        host::Session session;
        session.services().echo_messages = false;
        session.services().show_progress = false;
        driver::ToolOptions tool;
        tool.generation = job.generation;
        error = driver::open_tool(session, tool).message();
        if (error.empty())
            error = batch::grow_variant(session, job, v.seed, options.out, options.shelf);
    }
    if (error.size() > max_message_bytes)
        error.resize(max_message_bytes);
    for (std::size_t done = 0; done < error.size();) {
        const ssize_t n = ::write(pipe, error.data() + done, error.size() - done);
        if (n <= 0 && errno != EINTR)
            break;
        done += n > 0 ? static_cast<std::size_t>(n) : 0;
    }
    ::_exit(error.empty() ? 0 : 1);
}

std::string read_all(int fd)
{
    std::string text;
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n > 0)
            text.append(buffer, static_cast<std::size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    return text;
}

std::string clock_text(double seconds)
{
    const long s = static_cast<long>(seconds + 0.5);
    char text[32];
    if (s >= 3600)
        std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", s / 3600, s / 60 % 60, s % 60);
    else
        std::snprintf(text, sizeof text, "%ld:%02ld", s / 60, s % 60);
    return text;
}

// The counts on one line: a bar redrawn in place on a terminal, a plain line per variant else.
class Progress {
public:
    explicit Progress(std::size_t total) : total_(total), terminal_(isatty(STDERR_FILENO) != 0) {}

    void finished(const std::string &variant, const std::string &error)
    {
        ++done_;
        if (!error.empty()) {
            ++failed_;
            clear();
            std::fprintf(stderr, "ramulon: %s failed: %s\n", variant.c_str(), error.c_str());
        } else if (!terminal_) {
            std::fprintf(stderr, "ramulon: built %s (%zu/%zu%s)\n", variant.c_str(), done_, total_,
                         done_ < total_ ? (", " + clock_text(left()) + " left").c_str() : "");
        }
        draw();
    }
    void clear()
    {
        if (terminal_ && drawn_) {
            std::fputs("\r\033[K", stderr);
            drawn_ = false;
        }
    }
    std::size_t failed() const { return failed_; }
    double elapsed() const { return std::chrono::duration<double>(Clock::now() - start_).count(); }
    // At the pace so far.
    double left() const
    {
        return done_ ? elapsed() / static_cast<double>(done_) * static_cast<double>(total_ - done_) : 0.0;
    }

private:
    void draw()
    {
        if (!terminal_)
            return;
        constexpr std::size_t width = 30;
        const std::size_t filled = total_ ? done_ * width / total_ : width;
        std::fprintf(stderr, "\r[%s%s] %zu/%zu variants", std::string(filled, '#').c_str(),
                     std::string(width - filled, ' ').c_str(), done_, total_);
        if (failed_)
            std::fprintf(stderr, ", %zu failed", failed_);
        if (done_ < total_)
            std::fprintf(stderr, ", %s left", clock_text(left()).c_str());
        std::fflush(stderr);
        drawn_ = true;
    }

    std::size_t total_, done_ = 0, failed_ = 0;
    bool terminal_, drawn_ = false;
    Clock::time_point start_ = Clock::now();
};

int run_batch(const BatchOptions &options)
{
    const auto text = host::read_regular_file(options.jobs, max_job_file_bytes);
    if (!text)
        return fail(text.error().message);
    const batch::JobFile file = batch::parse_jobs(*text, fs::path(options.jobs).parent_path().string());
    for (const auto &[line, message] : file.errors)
        std::fprintf(stderr, "ramulon: %s:%d: %s\n", options.jobs.c_str(), line, message.c_str());

    std::error_code ec;
    fs::create_directories(options.out, ec);
    if (ec || !fs::is_directory(options.out, ec) || ::access(options.out.c_str(), W_OK) != 0)
        return fail("cannot write into the output folder " + options.out + (ec ? ": " + ec.message() : ""));

    batch::Ledger ledger(options.out);
    std::deque<Variant> todo;
    std::size_t skipped = 0;
    for (const batch::Job &job : file.jobs) {
        const std::string key = batch::job_key(job);
        for (std::int64_t seed = job.first_seed; seed <= job.last_seed; ++seed) {
            Variant v{&job, seed, batch::variant_key(key, seed)};
            if (ledger.done(job, seed, v.key))
                ++skipped;
            else
                todo.push_back(std::move(v));
        }
    }

    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    const int processes = options.processes > 0 ? options.processes : static_cast<int>(std::max(1L, cores));
    // Every process builds at once: each gets its share of the memory.
    const std::size_t share = driver::memory_budget(0) / static_cast<std::size_t>(processes);

    Progress progress(todo.size());
    std::map<pid_t, Running> running;
    std::size_t built = 0;
    std::string ledger_error;
    while (!todo.empty() || !running.empty()) {
        while (!todo.empty() && running.size() < static_cast<std::size_t>(processes)) {
            int fds[2];
            if (::pipe2(fds, O_CLOEXEC) != 0)
                return fail(std::string("cannot start a build: ") + std::strerror(errno));
            std::fflush(nullptr);
            const pid_t pid = ::fork();
            if (pid < 0) {
                ::close(fds[0]);
                ::close(fds[1]);
                if (running.empty())
                    return fail(std::string("cannot start a build: ") + std::strerror(errno));
                break; // try again when one has finished
            }
            if (pid == 0) {
                ::close(fds[0]);
                grow_in_child(todo.front(), options, share, fds[1]);
            }
            ::close(fds[1]);
            running[pid] = Running{std::move(todo.front()), fds[0]};
            todo.pop_front();
        }
        int status = 0;
        const pid_t pid = ::waitpid(-1, &status, 0);
        if (pid < 0) {
            if (errno == EINTR)
                continue;
            return fail(std::string("lost track of the builds: ") + std::strerror(errno));
        }
        auto it = running.find(pid);
        if (it == running.end())
            continue;
        Running done = std::move(it->second);
        running.erase(it);
        std::string message = read_all(done.pipe);
        ::close(done.pipe);
        if (WIFSIGNALED(status))
            message = std::string("the build process died (") + strsignal(WTERMSIG(status)) + ")";
        else if (message.empty() && WEXITSTATUS(status) != 0)
            message = "the build process failed";
        const std::string name = batch::variant_name(*done.variant.job, done.variant.seed);
        if (message.empty()) {
            message = ledger.record(*done.variant.job, done.variant.seed, done.variant.key);
            if (!message.empty())
                ledger_error = message;
        }
        built += message.empty();
        progress.finished(name, message);
    }
    progress.clear();
    std::printf("built %zu variants, skipped %zu already made, %zu failed", built, skipped, progress.failed());
    if (!file.errors.empty())
        std::printf(", %zu broken job lines", file.errors.size());
    std::printf(" (%s, %d processes)\n", clock_text(progress.elapsed()).c_str(), processes);
    return progress.failed() == 0 && file.errors.empty() && ledger_error.empty() ? 0 : 1;
}

Command setup(CLI::App &app)
{
    CLI::App *sub = app.add_subcommand("batch", "Grow every variant of a job file (JSON Lines), in parallel");
    auto options = std::make_shared<BatchOptions>();
    sub->add_option("JOBS", options->jobs,
                    "Job file: one JSON object a line with name, crown, preset, set, seed or seeds, outputs "
                    "and export options")
        ->required();
    sub->add_option("--out", options->out, "Folder for the variants' files, NAME-SEED.EXT")->required();
    sub->add_option("-j,--jobs", options->processes, "Builds at once, each in a process (default: one per core)")
        ->check(CLI::Range(1, 1024));
    sub->add_option("--shelf", options->shelf, "Folder of the preset shelf for presets given by name "
                                               "(default: ~/.ramulon/shelf)");
    return {sub, [options] { return run_batch(*options); }};
}

const bool registered = register_command(15, setup);

} // namespace
} // namespace cli
