// The tests' platform layer on Linux: fork and exec, pipes, mkdtemp, setenv.
#include "TestPlatform.h"

#include <chrono>
#include <poll.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace dormane::test {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "dormane-test-XXXXXX").string();
    if (char* made = mkdtemp(pattern.data()))
        m_path = made;
}

TempDir::~TempDir() {
    if (m_path.empty())
        return;
    std::error_code ec;
    // Tests make folders read-only; give access back so that everything can go.
    for (auto it = std::filesystem::recursive_directory_iterator(m_path, ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        if (it->is_directory(ec) && !it->is_symlink(ec))
            std::filesystem::permissions(it->path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
    std::filesystem::remove_all(m_path, ec);
}

namespace {

std::vector<char*> ArgvPointers(const std::vector<std::string>& argv) {
    std::vector<char*> ptrs;
    for (const auto& a : argv)
        ptrs.push_back(const_cast<char*>(a.c_str()));
    ptrs.push_back(nullptr);
    return ptrs;
}

// In the child after fork: the variables, the standard handles (-1: left as they are), then
// the program. Never returns. A child of a test that must not outlive it (tiedToParent) dies
// with it.
[[noreturn]] void ExecChild(std::vector<char*>& args, const Environment& environment, int in,
                            int out, int err, pid_t tiedToParent = 0) {
    if (tiedToParent != 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != tiedToParent)
            _exit(127);
    }
    for (const auto& [name, value] : environment) {
        if (value)
            setenv(name.c_str(), value->c_str(), 1);
        else
            unsetenv(name.c_str());
    }
    const int handles[3] = {in, out, err};
    for (int target = 0; target < 3; ++target)
        if (handles[target] >= 0)
            dup2(handles[target], target);
    execv(args[0], args.data());
    _exit(127);
}

int OpenNull(int flags) {
    return open("/dev/null", flags | O_CLOEXEC);
}

} // namespace

struct ChildProcess::Handles {
    pid_t pid = -1;
    int input = -1;
    int output = -1;
};

ChildProcess::ChildProcess(const std::vector<std::string>& argv)
    : m_handles(std::make_unique<Handles>()) {
    int in[2], out[2];
    if (argv.empty() || pipe2(in, O_CLOEXEC) != 0)
        return;
    if (pipe2(out, O_CLOEXEC) != 0) {
        close(in[0]);
        close(in[1]);
        return;
    }
    std::vector<char*> args = ArgvPointers(argv);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0)
        ExecChild(args, {}, in[0], out[1], -1, parent);
    close(in[0]);
    close(out[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        return;
    }
    m_handles->pid = pid;
    m_handles->input = in[1];
    m_handles->output = out[0];
}

ChildProcess::~ChildProcess() {
    if (m_handles->input >= 0)
        close(m_handles->input);
    if (m_handles->pid > 0) {
        kill(m_handles->pid, SIGTERM);
        int status = 0;
        while (waitpid(m_handles->pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (m_handles->output >= 0)
        close(m_handles->output);
}

bool ChildProcess::Started() const {
    return m_handles->pid > 0;
}

std::string ChildProcess::ReadLine() {
    std::string line;
    char c;
    while (m_handles->output >= 0) {
        const ssize_t n = read(m_handles->output, &c, 1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0 || c == '\n')
            break;
        line += c;
    }
    return line;
}

int RunProgram(const std::vector<std::string>& argv) {
    if (argv.empty())
        return -1;
    std::vector<char*> args = ArgvPointers(argv);
    const pid_t pid = fork();
    if (pid == 0) {
        const int null = OpenNull(O_WRONLY);
        ExecChild(args, {}, -1, null, null);
    }
    if (pid < 0)
        return -1;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

ProgramResult RunCapturing(const std::vector<std::string>& argv, const Environment& environment,
                           int timeoutSeconds) {
    ProgramResult result;
    int out[2], err[2];
    if (argv.empty() || pipe2(out, O_CLOEXEC) != 0)
        return result;
    if (pipe2(err, O_CLOEXEC) != 0) {
        close(out[0]);
        close(out[1]);
        return result;
    }
    std::vector<char*> args = ArgvPointers(argv);
    const pid_t pid = fork();
    if (pid == 0)
        ExecChild(args, environment, OpenNull(O_RDONLY), out[1], err[1]);
    close(out[1]);
    close(err[1]);
    if (pid < 0) {
        close(out[0]);
        close(err[0]);
        return result;
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
    bool killed = false;
    pollfd fds[2] = {{out[0], POLLIN, 0}, {err[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0 && !killed) {
            kill(pid, SIGKILL);
            killed = true;
        }
        const int ready = poll(fds, 2, killed ? 1000 : static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR)
            break;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0 || (fds[i].revents & (POLLIN | POLLHUP | POLLERR)) == 0)
                continue;
            char buffer[4096];
            const ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
            if (n > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(n));
            } else if (n == 0 || errno != EINTR) {
                close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
    }
    for (auto& fd : fds)
        if (fd.fd >= 0)
            close(fd.fd);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    result.exitCode = !killed && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

ProgramResult RunCommandLine(const std::string& line, const std::string& programFolder,
                             const Environment& environment) {
    auto env = environment;
    const char* path = std::getenv("PATH");
    env.emplace_back("PATH", programFolder + ":" + (path ? path : "/usr/bin:/bin"));
    return RunCapturing({"/bin/sh", "-c", line}, env);
}

struct BackgroundProcess::Handles {
    pid_t pid = -1;
    int output = -1;
    bool reaped = false;
};

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const Environment& environment, const std::string& errFile)
    : m_handles(std::make_unique<Handles>()) {
    int out[2];
    if (argv.empty() || pipe2(out, O_CLOEXEC) != 0)
        return;
    std::vector<char*> args = ArgvPointers(argv);
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid == 0) {
        const int err = open(errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        ExecChild(args, environment, -1, out[1], err, parent);
    }
    close(out[1]);
    if (pid < 0) {
        close(out[0]);
        return;
    }
    m_handles->pid = pid;
    m_handles->output = out[0];
}

BackgroundProcess::~BackgroundProcess() {
    if (m_handles->pid > 0 && !m_handles->reaped) {
        kill(m_handles->pid, SIGKILL);
        waitpid(m_handles->pid, nullptr, 0);
    }
    CloseOutput();
}

long BackgroundProcess::Id() const {
    return m_handles->pid;
}

bool BackgroundProcess::Kill() {
    return m_handles->pid > 0 && kill(m_handles->pid, SIGKILL) == 0;
}

int BackgroundProcess::Wait() {
    while (m_handles->output >= 0 && ReadSome(60000)) {
    }
    int status = 0;
    if (m_handles->pid <= 0 || waitpid(m_handles->pid, &status, 0) != m_handles->pid)
        return -1;
    m_handles->reaped = true;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool BackgroundProcess::ReadSome(int timeoutMs) {
    if (m_handles->output < 0)
        return false;
    pollfd p{m_handles->output, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) != 1)
        return false;
    char chunk[4096];
    const ssize_t n = read(m_handles->output, chunk, sizeof chunk);
    if (n <= 0) {
        CloseOutput();
        return false;
    }
    m_buffer.append(chunk, static_cast<size_t>(n));
    return true;
}

void BackgroundProcess::CloseOutput() {
    if (m_handles->output >= 0)
        close(m_handles->output);
    m_handles->output = -1;
}

std::optional<std::string> GetEnv(const std::string& name) {
    const char* value = std::getenv(name.c_str());
    return value ? std::optional<std::string>(value) : std::nullopt;
}

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
    if (value)
        setenv(name.c_str(), value->c_str(), 1);
    else
        unsetenv(name.c_str());
}

Environment PrivateUserFolders::Variables(const std::string& root) {
    return {{"XDG_CONFIG_HOME", root + "/config"},
            {"XDG_STATE_HOME", root + "/state"},
            {"XDG_DATA_HOME", root + "/data"}};
}

std::string PrivateUserFolders::DataFolder(const std::string& root) {
    return root + "/state/dormane";
}

} // namespace dormane::test
