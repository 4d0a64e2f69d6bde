#pragma once

#include <string>
#include <sys/types.h>
#include <vector>

namespace dormane::test {

// A folder under the system's temp folder, removed with everything in it at destruction.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

// A helper program the test runs alongside itself. Its stdin is a pipe the test holds open,
// its stdout a pipe the test reads. It is terminated and reaped at destruction, and killed by
// the kernel should the test process die first.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return m_pid > 0; }
    // One line of its output without the newline; empty at its end.
    std::string ReadLine();

private:
    pid_t m_pid = -1;
    int m_stdin = -1;
    int m_stdout = -1;
};

// Runs a program to its end; its exit status, or -1 when it could not run or was killed.
int RunProgram(const std::vector<std::string>& argv);

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// Deterministic bytes that differ from position to position, so a shifted or truncated copy
// never compares equal.
std::string PatternBytes(std::size_t size, unsigned seed);

// Sets or unsets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value); // value null: unset
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    bool m_had = false;
    std::string m_old;
};

} // namespace dormane::test
