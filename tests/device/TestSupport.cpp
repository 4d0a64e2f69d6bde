#include "TestSupport.h"

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
    std::string pattern =
        (std::filesystem::temp_directory_path() / "dormane-device-XXXXXX").string();
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

} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv) {
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
    if (pid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(127);
        dup2(in[0], STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        execv(args[0], args.data());
        _exit(127);
    }
    close(in[0]);
    close(out[1]);
    if (pid < 0) {
        close(in[1]);
        close(out[0]);
        return;
    }
    m_pid = pid;
    m_stdin = in[1];
    m_stdout = out[0];
}

ChildProcess::~ChildProcess() {
    if (m_stdin >= 0)
        close(m_stdin);
    if (m_pid > 0) {
        kill(m_pid, SIGTERM);
        int status = 0;
        while (waitpid(m_pid, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (m_stdout >= 0)
        close(m_stdout);
}

std::string ChildProcess::ReadLine() {
    std::string line;
    char c;
    while (m_stdout >= 0) {
        const ssize_t n = read(m_stdout, &c, 1);
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
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, STDOUT_FILENO);
            dup2(null, STDERR_FILENO);
        }
        execv(args[0], args.data());
        _exit(127);
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

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string PatternBytes(std::size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    uint32_t x = seed * 2654435761u + 1;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b = static_cast<char>(x & 0xFF);
    }
    return bytes;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : m_name(name) {
    if (const char* old = std::getenv(name)) {
        m_had = true;
        m_old = old;
    }
    if (value != nullptr)
        setenv(name, value, 1);
    else
        unsetenv(name);
}

ScopedEnv::~ScopedEnv() {
    if (m_had)
        setenv(m_name.c_str(), m_old.c_str(), 1);
    else
        unsetenv(m_name.c_str());
}

} // namespace dormane::test
