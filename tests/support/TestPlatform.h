#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// What the tests need of the platform, one file per platform (testsupport_posix.cpp,
// testsupport_win32.cpp), so that a test reads the same on Linux and under wine.
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
// the kernel should the test process die first. Linux only: a Windows build under wine cannot
// read the output of a host program, so there Started() is false.
class ChildProcess {
public:
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const;
    // One line of its output without the newline; empty at its end.
    std::string ReadLine();

private:
    struct Handles;
    std::unique_ptr<Handles> m_handles;
};

// Runs a program to its end with its output discarded; its exit status, or -1 when it could
// not run or was killed.
int RunProgram(const std::vector<std::string>& argv);

struct ProgramResult {
    int exitCode = -1; // -1: could not run, killed, or timed out
    std::string out;   // standard output
    std::string err;   // standard error
};
// Runs a program to its end with the given variables added to (or, with no value, removed
// from) its environment and collects both of its outputs. A program that runs longer than
// timeoutSeconds is killed.
ProgramResult RunCapturing(
    const std::vector<std::string>& argv,
    const std::vector<std::pair<std::string, std::optional<std::string>>>& environment = {},
    int timeoutSeconds = 120);

std::string ReadFileBytes(const std::string& path);
void WriteFileBytes(const std::string& path, const std::string& bytes);
// Deterministic bytes that differ from position to position, so a shifted or truncated copy
// never compares equal.
std::string PatternBytes(std::size_t size, unsigned seed);

// The process environment, as the engine reads it (on Windows: the Unicode block and the C
// runtime's copy both).
std::optional<std::string> GetEnv(const std::string& name);
void SetEnv(const std::string& name, const std::optional<std::string>& value);

// Sets or unsets an environment variable for the life of the object.
class ScopedEnv {
public:
    ScopedEnv(const char* name, const char* value); // value null: unset
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_old;
};

// Points the engine's per-user folders (settings file, backups and journal, downloads) into
// root for the life of the object, so that tests running at once never share them. The
// settings in the Windows registry are shared by design and stay where they are.
class PrivateUserFolders {
public:
    explicit PrivateUserFolders(const std::string& root);
    ~PrivateUserFolders();
    PrivateUserFolders(const PrivateUserFolders&) = delete;
    PrivateUserFolders& operator=(const PrivateUserFolders&) = delete;

    // The variables that do it, for a program the test starts.
    static std::vector<std::pair<std::string, std::optional<std::string>>>
    Variables(const std::string& root);
    // Where the engine then keeps its own files (backups, the journal).
    static std::string DataFolder(const std::string& root);

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> m_saved;
};

} // namespace dormane::test
