#pragma once

#include <sys/wait.h>

#include <cstdio>
#include <string>

namespace testsupport {

struct CliResult {
    int exitCode = -1;
    std::string out;
};

// Runs a shell command line and collects its standard output and exit status (Linux only:
// the tests that run under wine use CliRunner.h).
inline CliResult RunShell(const std::string& command) {
    CliResult result;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe)
        return result;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0)
        result.out.append(buffer, n);
    const int status = pclose(pipe);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

// Runs dormane-cli with the given arguments (already shell-quoted), after the given
// environment assignments, and collects its standard output; standard error goes to the
// test's own unless args redirect it.
inline CliResult RunCli(const std::string& args, const std::string& environment = "") {
    return RunShell((environment.empty() ? "" : "env " + environment + " ") + "'" +
                    DORMANE_CLI_PATH + "' " + args);
}

} // namespace testsupport
