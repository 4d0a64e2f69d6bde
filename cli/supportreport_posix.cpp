#include "SupportReport.h"

#include "Engine.h"
#include "ReportArchive.h"

#include "Backup.h"
#include "FWInfo.h"
#include "Journal.h"
#include "Settings.h"
#include "Status.h"
#include "Transport.h"
#include "UpdateManager.h"
#include "UsbRecorder.h"

#include <curl/curl.h>

#if __has_include(<sys/utsname.h>)
#include <sys/utsname.h>
#endif

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace {

namespace fs = std::filesystem;

// Everything in the archive sits in one folder, so that unpacking it makes no mess.
constexpr const char* kFolder = "dormane-report/";

std::string ReadFile(const std::string& path, bool& found) {
    std::ifstream in(path, std::ios::binary);
    found = static_cast<bool>(in);
    return found ? std::string(std::istreambuf_iterator<char>(in), {}) : std::string();
}

nlohmann::json OperatingSystem() {
    nlohmann::json os = nlohmann::json::object();
#if __has_include(<sys/utsname.h>)
    utsname u{};
    if (uname(&u) == 0)
        os["kernel"] = std::string(u.sysname) + " " + u.release + " " + u.version + " " + u.machine;
#endif
    bool found = false;
    std::istringstream release(ReadFile("/etc/os-release", found));
    for (std::string line; std::getline(release, line);) {
        if (line.rfind("PRETTY_NAME=", 0) != 0)
            continue;
        std::string name = line.substr(12);
        if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
            name = name.substr(1, name.size() - 2);
        os["name"] = name;
    }
    return os;
}

nlohmann::json About() {
    return {
        {"program", "dormane-cli"},
        {"version", DORMANE_VERSION},
        {"build",
         {{"compiler",
#if defined(__clang__)
           "clang " __clang_version__
#elif defined(__GNUC__)
           "gcc " __VERSION__
#else
           "unknown"
#endif
          },
          {"cplusplus", __cplusplus},
          {"optimised",
#ifdef NDEBUG
           true
#else
           false
#endif
          }}},
        {"os", OperatingSystem()},
        {"usbBackend", rmBackend()->Name()},
        {"libraries",
         {{"usb", dormane::UsbStackVersion()},
          {"curl", curl_version()},
          {"archive", ReportArchiveLibrary()},
          {"cli11", CLI11_VERSION},
          {"nlohmann-json", std::to_string(NLOHMANN_JSON_VERSION_MAJOR) + "." +
                                std::to_string(NLOHMANN_JSON_VERSION_MINOR) + "." +
                                std::to_string(NLOHMANN_JSON_VERSION_PATCH)}}},
    };
}

// The regular files in folder, by name; none when it cannot be read.
std::vector<fs::path> FilesIn(const std::string& folder) {
    std::error_code ec;
    std::vector<fs::path> files;
    for (const auto& entry : fs::directory_iterator(folder, ec))
        if (entry.is_regular_file(ec))
            files.push_back(entry.path());
    std::sort(files.begin(), files.end());
    return files;
}

// Names, sizes and firmware versions of the backups, read with the engine's own checks; the
// backups themselves stay at home.
nlohmann::json Backups() {
    nlohmann::json list = nlohmann::json::array();
    std::error_code ec;
    UpdateManager reader;
    for (const fs::path& file : FilesIn(dormane::backup::BackupFolder())) {
        FWInfo info;
        const int status = reader.ReadFWInfoFile(file.string().c_str(), &info);
        list.push_back(
            {{"name", file.filename().string()},
             {"bytes", fs::file_size(file, ec)},
             {"fwVersion", status == dormane::status::kSuccess ? nlohmann::json(Hex4(info.FWVer))
                                                               : nlohmann::json(nullptr)},
             {"check", dormane::status::Describe(status)}});
    }
    return list;
}

} // namespace

ReportResult WriteSupportReport(const std::string& path, const nlohmann::json& doctor) {
    ReportResult result;
    std::unique_ptr<ReportArchive> archive = CreateReportArchive(path, result.reason);
    if (!archive)
        return result;
    auto add = [&](const std::string& name, const std::string& content) {
        if (archive->Add(kFolder + name, content))
            result.files.push_back(kFolder + name);
    };
    add("doctor.json", doctor.dump(2) + "\n");
    add("about.json", About().dump(2) + "\n");
    add("backups.json", Backups().dump(2) + "\n");
    bool found = false;
    const std::string log = ReadFile(dormane::settings::LogFilePath(), found);
    if (found)
        add("VXFWUpdate.log", log);
    const std::string recordingPath = dormane::LastRecordingPath();
    if (!recordingPath.empty()) {
        const std::string recording = ReadFile(recordingPath, found);
        if (found)
            add("recording/" + fs::path(recordingPath).filename().string(), recording);
    }
    for (const fs::path& file : FilesIn(dormane::journal::JournalFolder())) {
        const std::string text = ReadFile(file.string(), found);
        if (found)
            add("journal/" + file.filename().string(), text);
    }
    result.written = archive->Close(result.reason);
    if (!result.written)
        result.files.clear();
    return result;
}
