// The tests' platform layer on Windows: CreateProcessW with pipes, a folder of our own under
// the user's temp folder, the environment in both of its copies.
#include "TestPlatform.h"

#include "WinText.h"

#include <shellapi.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <thread>

namespace dormane::test {

using win::Narrow;
using win::Widen;

TempDir::TempDir() {
    wchar_t base[MAX_PATH + 1] = {};
    const DWORD n = GetTempPathW(MAX_PATH + 1, base);
    if (n == 0 || n > MAX_PATH)
        return;
    // The process id and a counter make the name unique among tests running at once; a
    // leftover of an earlier run is stepped over.
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::wstring path = std::wstring(base) + L"dormane-test-" +
                                  std::to_wstring(GetCurrentProcessId()) + L"-" +
                                  std::to_wstring(++counter);
        if (CreateDirectoryW(path.c_str(), nullptr)) {
            m_path = Narrow(path);
            return;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS)
            return;
    }
}

TempDir::~TempDir() {
    if (m_path.empty())
        return;
    std::error_code ec;
    // Tests mark files read-only; clear that so that everything can go.
    for (auto it =
             std::filesystem::recursive_directory_iterator(std::filesystem::u8path(m_path), ec);
         !ec && it != std::filesystem::recursive_directory_iterator(); it.increment(ec))
        SetFileAttributesW(it->path().c_str(), FILE_ATTRIBUTE_NORMAL);
    std::filesystem::remove_all(std::filesystem::u8path(m_path), ec);
}

struct ChildProcess::Handles {};

ChildProcess::ChildProcess(const std::vector<std::string>&) {}
ChildProcess::~ChildProcess() = default;
bool ChildProcess::Started() const {
    return false;
}
std::string ChildProcess::ReadLine() {
    return {};
}

namespace {

// One argument as CommandLineToArgvW reads it back.
std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos)
        return arg;
    std::wstring quoted = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == L'"' ? backslashes * 2 + 1 : backslashes, L'\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, L'\\');
    return quoted + L"\"";
}

std::wstring CommandLine(const std::vector<std::string>& argv) {
    std::wstring line;
    for (const auto& arg : argv)
        line += (line.empty() ? L"" : L" ") + QuoteArgument(Widen(arg));
    return line;
}

// This process's environment with the changes made, as CreateProcessW takes it.
std::wstring EnvironmentBlock(const Environment& changes) {
    // Windows compares variable names without regard to case.
    auto less = [](const std::wstring& a, const std::wstring& b) {
        return _wcsicmp(a.c_str(), b.c_str()) < 0;
    };
    std::map<std::wstring, std::wstring, decltype(less)> variables(less);
    if (wchar_t* block = GetEnvironmentStringsW()) {
        for (const wchar_t* p = block; *p; p += wcslen(p) + 1) {
            const std::wstring entry(p);
            const size_t eq = entry.find(L'=', 1); // "=C:=C:\..." entries start with '='
            if (eq != std::wstring::npos)
                variables[entry.substr(0, eq)] = entry.substr(eq + 1);
        }
        FreeEnvironmentStringsW(block);
    }
    for (const auto& [name, value] : changes) {
        if (value)
            variables[Widen(name)] = Widen(*value);
        else
            variables.erase(Widen(name));
    }
    std::wstring out;
    for (const auto& [name, value] : variables)
        out += name + L"=" + value + L'\0';
    return out + L'\0';
}

struct Pipe {
    HANDLE read = nullptr;
    HANDLE write = nullptr;
    bool Open() {
        SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
        if (!CreatePipe(&read, &write, &inherit, 0))
            return false;
        return SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0) != 0;
    }
    void Close(HANDLE& h) {
        if (h)
            CloseHandle(h);
        h = nullptr;
    }
    ~Pipe() {
        Close(read);
        Close(write);
    }
};

bool StartProcess(const std::vector<std::string>& argv, const Environment& environment,
                  STARTUPINFOW& startup, PROCESS_INFORMATION& process) {
    std::wstring line = CommandLine(argv);
    std::wstring block = EnvironmentBlock(environment);
    return CreateProcessW(Widen(argv[0]).c_str(), line.data(), nullptr, nullptr, TRUE,
                          CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, block.data(), nullptr,
                          &startup, &process) != 0;
}

void Drain(HANDLE from, std::string& into) {
    char buffer[4096];
    DWORD n = 0;
    while (ReadFile(from, buffer, sizeof buffer, &n, nullptr) && n > 0)
        into.append(buffer, n);
}

ProgramResult Run(const std::vector<std::string>& argv, const Environment& environment,
                  int timeoutSeconds, bool capture) {
    ProgramResult result;
    if (argv.empty())
        return result;
    Pipe out, err;
    if (!out.Open() || !err.Open())
        return result;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE null =
        CreateFileW(L"NUL", GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                    &inherit, OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null;
    startup.hStdOutput = capture ? out.write : null;
    startup.hStdError = capture ? err.write : null;
    std::wstring line = CommandLine(argv);
    std::wstring block = EnvironmentBlock(environment);
    PROCESS_INFORMATION process{};
    const BOOL started = CreateProcessW(Widen(argv[0]).c_str(), line.data(), nullptr, nullptr, TRUE,
                                        CREATE_UNICODE_ENVIRONMENT | CREATE_NO_WINDOW, block.data(),
                                        nullptr, &startup, &process);
    out.Close(out.write);
    err.Close(err.write);
    if (null != INVALID_HANDLE_VALUE)
        CloseHandle(null);
    if (!started)
        return result;
    CloseHandle(process.hThread);
    std::thread errReader([&] { Drain(err.read, result.err); });
    Drain(out.read, result.out);
    bool killed = false;
    if (WaitForSingleObject(process.hProcess, static_cast<DWORD>(timeoutSeconds) * 1000) !=
        WAIT_OBJECT_0) {
        TerminateProcess(process.hProcess, 1);
        WaitForSingleObject(process.hProcess, INFINITE);
        killed = true;
    }
    errReader.join();
    DWORD code = 0;
    if (!killed && GetExitCodeProcess(process.hProcess, &code))
        result.exitCode = static_cast<int>(code);
    CloseHandle(process.hProcess);
    return result;
}

} // namespace

int RunProgram(const std::vector<std::string>& argv) {
    return Run(argv, {}, 600, false).exitCode;
}

ProgramResult RunCapturing(const std::vector<std::string>& argv, const Environment& environment,
                           int timeoutSeconds) {
    return Run(argv, environment, timeoutSeconds, true);
}

ProgramResult RunCommandLine(const std::string& line, const std::string& programFolder,
                             const Environment& environment) {
    // The words as the program's own parser (CommandLineToArgvW) reads them.
    int count = 0;
    wchar_t** words = CommandLineToArgvW(Widen(line).c_str(), &count);
    if (!words || count == 0)
        return {};
    std::vector<std::string> argv;
    for (int i = 0; i < count; ++i)
        argv.push_back(Narrow(words[i]));
    LocalFree(words);
    if (argv[0].find_first_of("\\/:") == std::string::npos) {
        const std::string inFolder = programFolder + "\\" + argv[0];
        argv[0] = GetFileAttributesW(Widen(inFolder + ".exe").c_str()) != INVALID_FILE_ATTRIBUTES
                      ? inFolder + ".exe"
                      : inFolder;
    }
    return RunCapturing(argv, environment);
}

struct BackgroundProcess::Handles {
    HANDLE process = nullptr;
    HANDLE output = nullptr;
    DWORD id = 0;
};

BackgroundProcess::BackgroundProcess(const std::vector<std::string>& argv,
                                     const Environment& environment, const std::string& errFile)
    : m_handles(std::make_unique<Handles>()) {
    Pipe out;
    if (argv.empty() || !out.Open())
        return;
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    HANDLE err = CreateFileW(Widen(errFile).c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    HANDLE null = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit,
                              OPEN_EXISTING, 0, nullptr);
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = null;
    startup.hStdOutput = out.write;
    startup.hStdError = err;
    PROCESS_INFORMATION process{};
    const bool started = StartProcess(argv, environment, startup, process);
    out.Close(out.write);
    if (err != INVALID_HANDLE_VALUE)
        CloseHandle(err);
    if (null != INVALID_HANDLE_VALUE)
        CloseHandle(null);
    if (!started)
        return;
    CloseHandle(process.hThread);
    m_handles->process = process.hProcess;
    m_handles->id = process.dwProcessId;
    m_handles->output = out.read;
    out.read = nullptr;
}

BackgroundProcess::~BackgroundProcess() {
    if (m_handles->process) {
        TerminateProcess(m_handles->process, kKilled);
        WaitForSingleObject(m_handles->process, INFINITE);
        CloseHandle(m_handles->process);
    }
    CloseOutput();
}

long BackgroundProcess::Id() const {
    return static_cast<long>(m_handles->id);
}

bool BackgroundProcess::Kill() {
    return m_handles->process && TerminateProcess(m_handles->process, kKilled);
}

int BackgroundProcess::Wait() {
    while (m_handles->output && ReadSome(60000)) {
    }
    if (!m_handles->process || WaitForSingleObject(m_handles->process, 60000) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(m_handles->process, &code);
    CloseHandle(m_handles->process);
    m_handles->process = nullptr;
    return static_cast<int>(code);
}

bool BackgroundProcess::ReadSome(int timeoutMs) {
    // An anonymous pipe cannot be waited on: look for bytes until the time is up.
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(timeoutMs);
    while (m_handles->output) {
        DWORD available = 0;
        if (!PeekNamedPipe(m_handles->output, nullptr, 0, nullptr, &available, nullptr)) {
            CloseOutput(); // the writer has gone
            return false;
        }
        if (available > 0) {
            char chunk[4096];
            DWORD n = 0;
            if (!ReadFile(m_handles->output, chunk, sizeof chunk, &n, nullptr) || n == 0) {
                CloseOutput();
                return false;
            }
            m_buffer.append(chunk, n);
            return true;
        }
        if (GetTickCount64() >= deadline)
            return false;
        Sleep(10);
    }
    return false;
}

void BackgroundProcess::CloseOutput() {
    if (m_handles->output)
        CloseHandle(m_handles->output);
    m_handles->output = nullptr;
}

std::optional<std::string> GetEnv(const std::string& name) {
    const std::wstring wide = Widen(name);
    const DWORD n = GetEnvironmentVariableW(wide.c_str(), nullptr, 0);
    if (n == 0)
        return GetLastError() == ERROR_ENVVAR_NOT_FOUND ? std::nullopt
                                                        : std::optional<std::string>("");
    std::wstring value(n, L'\0');
    const DWORD got = GetEnvironmentVariableW(wide.c_str(), value.data(), n);
    value.resize(got);
    return Narrow(value);
}

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
    // _wputenv_s keeps the C runtime's copy (getenv) and the process block in step; an empty
    // value removes the variable there, so an empty one is set through the block alone.
    const std::wstring wide = Widen(name);
    if (value && value->empty()) {
        _wputenv_s(wide.c_str(), L"");
        SetEnvironmentVariableW(wide.c_str(), L"");
    } else {
        _wputenv_s(wide.c_str(), value ? Widen(*value).c_str() : L"");
    }
}

Environment PrivateUserFolders::Variables(const std::string& root) {
    return {{"DORMANE_LOCAL_APPDATA", root + "\\data"}};
}

std::string PrivateUserFolders::DataFolder(const std::string& root) {
    return root + "\\data\\Dormane";
}

} // namespace dormane::test
