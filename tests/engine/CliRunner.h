#pragma once

#include "TestPlatform.h"

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace testsupport {

using Environment = dormane::test::Environment;

// Splits the arguments as the tests write them: blanks between arguments, single quotes
// around an argument that holds blanks (paths, URLs). No shell is involved, so the same line
// runs on Linux and under wine.
inline std::vector<std::string> SplitArgs(const std::string& line) {
    std::vector<std::string> args;
    std::string current;
    bool inArgument = false;
    bool quoted = false;
    for (char c : line) {
        if (c == '\'') {
            quoted = !quoted;
            inArgument = true;
        } else if (!quoted && (c == ' ' || c == '\t')) {
            if (inArgument)
                args.push_back(current);
            current.clear();
            inArgument = false;
        } else {
            current += c;
            inArgument = true;
        }
    }
    if (inArgument)
        args.push_back(current);
    return args;
}

// A console program's text on Windows ends its lines with CR LF; the tests compare lines.
inline std::string UnixLineEnds(std::string text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i)
        if (!(text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n'))
            out += text[i];
    return out;
}

// Runs dormane-cli with the given arguments and variables; both outputs are collected.
inline dormane::test::ProgramResult RunCliArgs(const std::vector<std::string>& args,
                                               const Environment& environment = {},
                                               int timeoutSeconds = 120) {
    std::vector<std::string> argv = {DORMANE_CLI_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    auto result = dormane::test::RunCapturing(argv, environment, timeoutSeconds);
    result.out = UnixLineEnds(std::move(result.out));
    result.err = UnixLineEnds(std::move(result.err));
    return result;
}

} // namespace testsupport
