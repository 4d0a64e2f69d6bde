// Feeds arbitrary bytes, as a firmware file, to the engine's image reader. Whatever the
// content, the reader must not read outside what it allocated, and an image it accepts
// must describe a region that lies within the record it built.

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FWInfo.h"
#include "Status.h"
#include "UpdateManager.h"

namespace {

void Check(bool ok) {
    if (!ok) {
        std::abort();
    }
}

// One file per fuzzing process, rewritten for every input.
const std::string& ScratchFile() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        std::string p =
            std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/dormane-fuzz-fw-XXXXXX";
        const int fd = mkstemp(p.data());
        Check(fd >= 0);
        close(fd);
        return p;
    }();
    return path;
}

struct RemoveScratch {
    ~RemoveScratch() { std::remove(ScratchFile().c_str()); }
} g_removeScratch;

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& path = ScratchFile();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    Check(f != nullptr);
    Check(std::fwrite(data, 1, size, f) == size);
    std::fclose(f);

    static UpdateManager manager;
    FWInfo info;
    const int result = manager.ReadFWInfoFile(path.c_str(), &info);
    if (result == dormane::status::kSuccess) {
        Check(info.Data != nullptr && info.TotalSize > 0);
        Check(info.ImageStart != 0 && info.ImageSize != 0);
        Check(std::uint64_t{info.ImageStart} + info.ImageSize <= info.TotalSize);
    }
    return 0;
}
