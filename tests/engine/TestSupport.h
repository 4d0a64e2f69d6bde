#pragma once

#include "ImageBuilder.h"
#include "Log.h"
#include "TestPlatform.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace testsupport {

// A private folder under the system temp folder, removed with everything in it.
class TempDir {
public:
    const std::string& path() const { return dir_.Path(); }
    std::string operator/(const std::string& name) const { return path() + "/" + name; }

private:
    dormane::test::TempDir dir_;
};

inline std::string ReadText(const std::string& path) {
    return dormane::test::ReadFileBytes(path);
}

inline void WriteText(const std::string& path, const std::string& text) {
    dormane::test::WriteFileBytes(path, text);
}

// Sends the engine log to a file of its own for the life of the object and hands the
// messages back without their timestamps.
class LogCapture {
public:
    LogCapture() : previous_(GetLogSettings()) {
        LogSettings s;
        s.enabled = true;
        s.toFile = true;
        s.filePath = dir_ / "engine.log";
        SetLogSettings(s);
    }
    ~LogCapture() { SetLogSettings(previous_); }

    std::vector<std::string> Messages() const {
        std::vector<std::string> out;
        std::ifstream in(dir_ / "engine.log");
        std::string line;
        while (std::getline(in, line)) {
            auto close = line.find("] ");
            out.push_back(close == std::string::npos ? line : line.substr(close + 2));
        }
        return out;
    }
    // Messages that start with the given prefix.
    std::vector<std::string> Matching(const std::string& prefix) const {
        std::vector<std::string> out;
        for (const auto& m : Messages())
            if (m.rfind(prefix, 0) == 0)
                out.push_back(m);
        return out;
    }
    void Clear() { std::ofstream(dir_ / "engine.log", std::ios::trunc); }

private:
    TempDir dir_;
    LogSettings previous_;
};

inline std::string WriteImage(const TempDir& dir, const std::string& name,
                              const std::vector<uint8_t>& bytes) {
    const std::string path = dir / name;
    dormane::imagebuilder::WriteFile(path, bytes);
    return path;
}

} // namespace testsupport
