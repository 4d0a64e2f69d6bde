#include "FWUpdateInterface.h"

#include "Log.h"
#include "Settings.h"
#include "Status.h"
#include "UpdateManager.h"

#include "FileSystem.h"

#include <new>

using namespace dormane;

namespace {

// Every run starts a fresh log. Only a regular file of ours is removed: the temp folder is
// shared, and a link or another user's file in that place is not ours to delete.
void DeleteOldLog(const std::string& path) {
    if (files::IsOwnRegularFile(path))
        files::RemoveFile(path);
}

} // namespace

FWUpdateInterface::FWUpdateInterface() {
    LogSettings log; // disabled, to the file
    // Created when missing, as the settings key is; read whenever it can be read, whether or
    // not it could have been written.
    settings::EnsureSettingsStore();
    if (auto enable = settings::ReadSetting("EnableLog"))
        log.enabled = *enable != 0;
    if (auto type = settings::ReadSetting("LogType"))
        log.toFile = *type != 0;
    log.filePath = settings::LogFilePath();
    SetLogSettings(log);
    DeleteOldLog(log.filePath);
}

FWUpdateInterface::~FWUpdateInterface() = default;

int FWUpdateInterface::Init() {
    if (m_pCore)
        return m_pCore->Initialize();
    m_pCore.reset(new (std::nothrow) UpdateManager());
    if (!m_pCore)
        return status::kFailure;
    const int result = m_pCore->Initialize();
    WriteLog("FWUpdateInterface::Init return 0x%X", result);
    return result;
}

int FWUpdateInterface::AttachDevice(int vid, int pid) {
    return m_pCore ? m_pCore->AttachDevice(vid, pid) : status::kFailure;
}

int FWUpdateInterface::GetFWVersion(uint16_t* version) {
    return m_pCore ? m_pCore->GetFWVersion(version) : status::kFailure;
}

int FWUpdateInterface::UpdateFirmware(const char* path) {
    return m_pCore ? m_pCore->UpdateFirmware(path) : status::kFailure;
}

int FWUpdateInterface::UpdateFirmware(const char* path, uint16_t requiredFwVer) {
    return m_pCore ? m_pCore->UpdateFirmware(path, requiredFwVer) : status::kFailure;
}

int FWUpdateInterface::GteUpdateProgress(int* progress) {
    return m_pCore ? m_pCore->GteUpdateProgress(progress) : status::kFailure;
}

int FWUpdateInterface::DetachDevice() {
    return m_pCore ? m_pCore->DetachDevice() : status::kFailure;
}
