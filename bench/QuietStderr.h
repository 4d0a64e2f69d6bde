#pragma once

#include <cstdio>

// The transport writes "NACK!!" to standard error for every NACK it sees, thousands in a
// noisy run; they would bury a benchmark table or a soak report. This points the C stream
// stderr at /dev/null for the life of the object. Only the stream moves: whatever writes to
// descriptor 2 directly, a sanitizer's report for one, still shows. Create and destroy it
// while no other thread writes to stderr.
namespace dormane::bench {

class QuietStderr {
public:
    QuietStderr() : m_pSaved(stderr), m_pNull(std::fopen("/dev/null", "w")) {
        std::fflush(stderr);
        if (m_pNull)
            stderr = m_pNull;
    }
    ~QuietStderr() {
        stderr = m_pSaved;
        if (m_pNull)
            std::fclose(m_pNull);
    }
    QuietStderr(const QuietStderr&) = delete;
    QuietStderr& operator=(const QuietStderr&) = delete;

private:
    std::FILE* m_pSaved;
    std::FILE* m_pNull;
};

} // namespace dormane::bench
