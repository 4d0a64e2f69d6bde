#include "TestPlatform.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace dormane::test {

std::string ReadFileBytes(const std::string& path) {
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFileBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(std::filesystem::u8path(path), std::ios::binary | std::ios::trunc);
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

bool BackgroundProcess::WaitForLine(const std::string& prefix) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < deadline) {
        size_t newline;
        while ((newline = m_buffer.find('\n')) != std::string::npos) {
            std::string line = m_buffer.substr(0, newline);
            m_buffer.erase(0, newline + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            m_lines += line + "\n";
            if (line.rfind(prefix, 0) == 0)
                return true;
        }
        if (!ReadSome(1000))
            return false;
    }
    return false;
}

ScopedEnv::ScopedEnv(const char* name, const char* value) : m_name(name), m_old(GetEnv(name)) {
    SetEnv(m_name, value ? std::optional<std::string>(value) : std::nullopt);
}

ScopedEnv::~ScopedEnv() {
    SetEnv(m_name, m_old);
}

PrivateUserFolders::PrivateUserFolders(const std::string& root) {
    for (const auto& [name, value] : Variables(root)) {
        m_saved.emplace_back(name, GetEnv(name));
        SetEnv(name, value);
    }
}

PrivateUserFolders::~PrivateUserFolders() {
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it)
        SetEnv(it->first, it->second);
}

} // namespace dormane::test
