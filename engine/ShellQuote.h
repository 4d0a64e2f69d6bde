#pragma once

#include <string>

namespace dormane {

// The word as a POSIX shell reads it back unchanged: as it is when it holds only characters
// no shell treats specially (a leading ~ is special), otherwise in single quotes. For the
// commands the programs tell the user to run.
inline std::string ShellQuote(const std::string& word) {
    if (!word.empty() &&
        word.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                               "0123456789-_=,./:+@%") == std::string::npos)
        return word;
    std::string quoted = "'";
    for (char c : word)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

} // namespace dormane
