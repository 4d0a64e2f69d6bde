// The support report's archive through libarchive: ustar entries, gzip-compressed.
#include "ReportArchive.h"

#include <archive.h>
#include <archive_entry.h>

#include <cstdio>
#include <ctime>

namespace {

class LibarchiveReport final : public ReportArchive {
public:
    LibarchiveReport(archive* a, std::string path) : m_pArchive(a), m_strPath(std::move(path)) {}
    ~LibarchiveReport() override {
        if (m_pArchive) {
            archive_write_free(m_pArchive);
            std::remove(m_strPath.c_str()); // never closed: not a whole archive
        }
    }
    LibarchiveReport(const LibarchiveReport&) = delete;
    LibarchiveReport& operator=(const LibarchiveReport&) = delete;

    bool Add(const std::string& name, const std::string& content) override {
        if (!m_strError.empty() || !m_pArchive)
            return false;
        archive_entry* entry = archive_entry_new();
        archive_entry_set_pathname(entry, name.c_str());
        archive_entry_set_size(entry, static_cast<la_int64_t>(content.size()));
        archive_entry_set_filetype(entry, AE_IFREG);
        archive_entry_set_perm(entry, 0644);
        archive_entry_set_mtime(entry, std::time(nullptr), 0);
        bool ok = archive_write_header(m_pArchive, entry) == ARCHIVE_OK;
        if (ok && !content.empty())
            ok = archive_write_data(m_pArchive, content.data(), content.size()) ==
                 static_cast<la_ssize_t>(content.size());
        archive_entry_free(entry);
        if (!ok)
            m_strError = Why("cannot add " + name);
        return ok;
    }

    bool Close(std::string& reason) override {
        if (!m_pArchive) {
            reason = "the archive is closed already";
            return false;
        }
        const bool closed = archive_write_close(m_pArchive) == ARCHIVE_OK;
        if (!closed && m_strError.empty())
            m_strError = Why("cannot finish the archive");
        archive_write_free(m_pArchive);
        m_pArchive = nullptr;
        if (!m_strError.empty()) {
            std::remove(m_strPath.c_str());
            reason = m_strError;
            return false;
        }
        return true;
    }

private:
    std::string Why(const std::string& what) const {
        const char* text = archive_error_string(m_pArchive);
        return what + " (" + (text ? text : "unknown error") + ")";
    }

    archive* m_pArchive;
    std::string m_strPath;
    std::string m_strError;
};

} // namespace

std::unique_ptr<ReportArchive> CreateReportArchive(const std::string& path, std::string& reason) {
    archive* a = archive_write_new();
    if (!a) {
        reason = "out of memory";
        return nullptr;
    }
    if (archive_write_add_filter_gzip(a) != ARCHIVE_OK ||
        archive_write_set_format_ustar(a) != ARCHIVE_OK ||
        archive_write_open_filename(a, path.c_str()) != ARCHIVE_OK) {
        const char* text = archive_error_string(a);
        reason = "cannot create " + path + " (" + (text ? text : "unknown error") + ")";
        archive_write_free(a);
        return nullptr;
    }
    return std::make_unique<LibarchiveReport>(a, path);
}

std::string ReportArchiveLibrary() {
    return archive_version_string();
}
