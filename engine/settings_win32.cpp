// The settings on Windows: the log switches in the registry under the current user, the log
// in the Windows folder's Temp, Dormane's own files in the local application data.
#include "Settings.h"

#include "WinText.h"

#include <shlobj.h>

#include <cstdint>
#include <vector>

namespace dormane::settings {

namespace {

constexpr const wchar_t* kSettingsKey = L"Software\\Voxtrel\\FWUpdateTool";

} // namespace

std::string SettingsLocation() {
    return "HKEY_CURRENT_USER\\" + win::Narrow(kSettingsKey);
}

bool EnsureSettingsStore() {
    HKEY key = nullptr;
    DWORD disposition = 0;
    const LONG result =
        RegCreateKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, nullptr, REG_OPTION_NON_VOLATILE,
                        KEY_READ | KEY_WRITE, nullptr, &key, &disposition);
    if (result != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

std::optional<long> ReadSetting(const std::string& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return std::nullopt;
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof value;
    const LONG result = RegQueryValueExW(key, win::Widen(name).c_str(), nullptr, &type,
                                         reinterpret_cast<BYTE*>(&value), &size);
    RegCloseKey(key);
    // A value of another type or size leaves the default, as it does in the INI file.
    if (result != ERROR_SUCCESS || type != REG_DWORD || size != sizeof value)
        return std::nullopt;
    return static_cast<long>(value);
}

std::string SystemTempFolder() {
    std::vector<wchar_t> buffer(MAX_PATH + 1);
    const UINT n = GetWindowsDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
    std::wstring folder =
        n > 0 && n < buffer.size() ? std::wstring(buffer.data(), n) : L"C:\\Windows";
    while (!folder.empty() && folder.back() == L'\\')
        folder.pop_back();
    return win::Narrow(folder) + "\\Temp";
}

std::string LogFilePath() {
    std::string path = SystemTempFolder() + "\\VXFWUpdate.log";
    if (path.size() > 259)
        path.resize(259);
    return path;
}

std::string LocalAppDataFolder() {
    if (const wchar_t* chosen = _wgetenv(L"DORMANE_LOCAL_APPDATA"); chosen && *chosen)
        return win::Narrow(chosen);
    wchar_t folder[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, folder)))
        return {};
    return win::Narrow(folder);
}

std::string DataFolder() {
    const std::string local = LocalAppDataFolder();
    return (local.empty() ? SystemTempFolder() : local) + "\\Dormane";
}

} // namespace dormane::settings
