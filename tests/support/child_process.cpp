#include "support/child_process.h"

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <grp.h>
#include <malloc.h>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace ramulon {

int in_child(const std::function<int()> &body)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        const int code = body();
        std::fflush(nullptr);
        ::_exit(code);
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
    }
    if (WIFEXITED(status))
        return WEXITSTATUS(status);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : -1;
}

bool limit_file_size(long bytes)
{
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit;
    limit.rlim_cur = static_cast<rlim_t>(bytes);
    limit.rlim_max = static_cast<rlim_t>(bytes);
    return ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
}

bool limit_memory_growth(long bytes)
{
    long pages = 0;
    if (std::FILE *statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1)
            pages = 0;
        std::fclose(statm);
    }
    if (pages == 0)
        return false;
    struct rlimit limit;
    limit.rlim_cur = limit.rlim_max = static_cast<rlim_t>(pages * ::sysconf(_SC_PAGESIZE) + bytes);
    return ::setrlimit(RLIMIT_AS, &limit) == 0;
}

void occupy_free_heap()
{
    // Blocks below the size the allocator maps on its own, taken (never touched, so they cost
    // no memory) until what the heap holds free is small; never given back: the child ends.
    for (int k = 0; k < 1 << 20 && mallinfo2().fordblks > (std::size_t(1) << 20); ++k)
        if (!std::malloc(32 * 1024))
            break;
}

bool drop_root()
{
    if (::geteuid() != 0)
        return true;
    constexpr gid_t nobody_group = 65534;
    constexpr uid_t nobody = 65534;
    return ::setgroups(0, nullptr) == 0 && ::setgid(nobody_group) == 0 && ::setuid(nobody) == 0 &&
           ::geteuid() == nobody;
}

namespace {
namespace fs = std::filesystem;
constexpr fs::perms read_and_search = fs::perms::owner_read | fs::perms::owner_exec |
                                      fs::perms::group_read | fs::perms::group_exec |
                                      fs::perms::others_read | fs::perms::others_exec;
} // namespace

void open_folder(const std::string &folder)
{
    fs::permissions(folder, read_and_search | fs::perms::owner_write);
}

void lock_folder(const std::string &folder) { fs::permissions(folder, read_and_search); }

void unlock_folder(const std::string &folder) { fs::permissions(folder, fs::perms::owner_all); }

pid_t start_serve_process(const std::string &shelf, std::string &first_line)
{
    int out[2];
    if (pipe(out) != 0)
        return -1;
    const std::string module = std::string(RAMULON_MODULE_DIR) + "/RamulonVE11.so";
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(RAMULON_CLI, RAMULON_CLI, "serve", "--port", "0", "--shelf", shelf.c_str(), "--plugin",
              module.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    close(out[1]);
    first_line.clear();
    char ch = 0;
    while (pid > 0 && read(out[0], &ch, 1) == 1 && ch != '\n')
        first_line += ch;
    close(out[0]);
    return pid;
}

std::size_t CommandRun::lines() const
{
    return static_cast<std::size_t>(std::count(output.begin(), output.end(), '\n'));
}

CommandRun run_command_line(const std::vector<std::string> &arguments, long address_space)
{
    CommandRun run;
    int out[2];
    if (pipe(out) != 0)
        return run;
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(out[1], STDOUT_FILENO);
        dup2(out[1], STDERR_FILENO);
        close(out[0]);
        close(out[1]);
        if (address_space > 0) {
            rlimit limit{static_cast<rlim_t>(address_space), static_cast<rlim_t>(address_space)};
            setrlimit(RLIMIT_AS, &limit);
        }
        std::vector<char *> argv{const_cast<char *>(RAMULON_CLI)};
        for (const std::string &a : arguments)
            argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        execv(RAMULON_CLI, argv.data());
        _exit(127);
    }
    close(out[1]);
    char buf[4096];
    ssize_t n;
    while ((n = read(out[0], buf, sizeof buf)) > 0)
        run.output.append(buf, static_cast<std::size_t>(n));
    close(out[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return run;
}

} // namespace ramulon
