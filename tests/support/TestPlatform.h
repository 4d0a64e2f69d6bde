#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// What the tests need of the platform, one file per platform (testsupport_posix.cpp,
// testsupport_win32.cpp), so that a test reads the same on Linux and under wine.
namespace dormane::test {

// Variables to set for a program, or with no value to remove; a later entry wins.
using Environment = std::vector<std::pair<std::string, std::optional<std::string>>>;

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
ProgramResult RunCapturing(const std::vector<std::string>& argv,
                           const Environment& environment = {}, int timeoutSeconds = 120);

// Runs a command line as a user would paste it into the platform's shell (sh on Linux, the
// command prompt's rules on Windows), with programFolder searched first for its program.
ProgramResult RunCommandLine(const std::string& line, const std::string& programFolder,
                             const Environment& environment = {});

// A program started in the background: standard output is a pipe the test reads line by
// line, standard error a file. Killed should the test end first.
class BackgroundProcess {
public:
    // What Wait returns for a process ended by Kill.
    static constexpr int kKilled = 137;

    BackgroundProcess(const std::vector<std::string>& argv, const Environment& environment,
                      const std::string& errFile);
    ~BackgroundProcess();
    BackgroundProcess(const BackgroundProcess&) = delete;
    BackgroundProcess& operator=(const BackgroundProcess&) = delete;

    long Id() const;
    // Reads standard output until a line starts with prefix; false at its end or after 60 s.
    bool WaitForLine(const std::string& prefix);
    // Ends it at once, beyond any handler of its own: as a power loss.
    bool Kill();
    // Reads what is left of standard output and waits for the end: the exit status (on Linux
    // 128 plus the signal that ended it), or kKilled.
    int Wait();
    std::string Output() const { return m_lines + m_buffer; }
    // The process no longer has a reader for its output: as after "| head -1".
    void CloseOutput();

private:
    struct Handles;
    // Appends what arrives within the time; false at the end of the output or on a time-out.
    bool ReadSome(int timeoutMs);

    std::unique_ptr<Handles> m_handles;
    std::string m_buffer;
    std::string m_lines;
};

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
    static Environment Variables(const std::string& root);
    // Where the engine then keeps its own files (backups, the journal).
    static std::string DataFolder(const std::string& root);

private:
    Environment m_saved;
};

} // namespace dormane::test
