// What every platform's file backend shares.
#include "FileSystem.h"

#include <algorithm>

namespace dormane::files {

bool ReadSmallFile(const std::string& path, size_t maxBytes, std::string& out) {
    RandomAccessFile file;
    if (!file.Open(path))
        return false;
    out.clear();
    char buffer[4096];
    while (out.size() < maxBytes) {
        const int64_t n =
            file.ReadAt(out.size(), buffer, std::min(sizeof buffer, maxBytes - out.size()));
        if (n < 0)
            return false;
        if (n == 0)
            break;
        out.append(buffer, static_cast<size_t>(n));
    }
    return true;
}

} // namespace dormane::files
