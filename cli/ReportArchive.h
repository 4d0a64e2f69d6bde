#pragma once

#include <memory>
#include <string>

// The archive that doctor --report writes: a gzip-compressed tar of named files. Each platform
// supplies one implementation in a file of its own (reportarchive_libarchive.cpp here).
class ReportArchive {
public:
    virtual ~ReportArchive() = default;
    // Adds one regular file with this content. False once anything could not be written.
    virtual bool Add(const std::string& name, const std::string& content) = 0;
    // Ends the archive. False with the reason when it is not whole; the file is removed then.
    virtual bool Close(std::string& reason) = 0;
};

// Creates path (replacing it). Null with the reason when it cannot be created.
std::unique_ptr<ReportArchive> CreateReportArchive(const std::string& path, std::string& reason);

// The archive library and its version, for the report's own list of versions.
std::string ReportArchiveLibrary();
