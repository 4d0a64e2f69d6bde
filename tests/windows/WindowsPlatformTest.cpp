// The Windows backends against the system itself: what a user of Windows sees of the
// settings, the log and the files.
#include "Download.h"
#include "FWUpdateInterface.h"
#include "FileSystem.h"
#include "Log.h"
#include "Paths.h"
#include "Settings.h"
#include "SpeakerLock.h"
#include "WinText.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace {

namespace files = dormane::files;
namespace settings = dormane::settings;
using dormane::win::Widen;

constexpr const wchar_t* kKey = L"Software\\Voxtrel\\FWUpdateTool";

// A folder of the test's own, named with characters outside any ANSI code page.
class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_folder =
            files::JoinPath(settings::SystemTempFolder(),
                            "dormane-test Zoë 用户 " + std::to_string(files::CurrentProcessId()));
        ASSERT_TRUE(files::MakePrivateFolders(m_folder));
        RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
    }
    void TearDown() override {
        std::error_code ec;
        std::filesystem::remove_all(files::U8Path(m_folder), ec);
        RegDeleteKeyW(HKEY_CURRENT_USER, kKey);
    }
    static void SetValue(const wchar_t* name, DWORD type, const void* data, DWORD size) {
        HKEY key = nullptr;
        ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                                  nullptr),
                  ERROR_SUCCESS);
        RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size);
        RegCloseKey(key);
    }
    std::string m_folder;
};

TEST_F(WindowsTest, TheSwitchesAreDwordValuesOfTheUsersKey) {
    EXPECT_EQ(settings::SettingsLocation(), "HKEY_CURRENT_USER\\Software\\Voxtrel\\FWUpdateTool");
    EXPECT_FALSE(settings::ReadSetting("EnableLog"));
    ASSERT_TRUE(settings::EnsureSettingsStore()); // the key is created, as at every start
    HKEY key = nullptr;
    EXPECT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, kKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    RegCloseKey(key);

    const DWORD one = 1;
    SetValue(L"EnableLog", REG_DWORD, &one, sizeof one);
    SetValue(L"LogType", REG_SZ, L"1", 4); // a value of the wrong type leaves the default
    EXPECT_EQ(settings::ReadSetting("EnableLog"), 1);
    EXPECT_FALSE(settings::ReadSetting("LogType"));
}

TEST_F(WindowsTest, TheLogIsInTheWindowsTempFolderAndHoldsTheEnginesLines) {
    wchar_t windows[MAX_PATH] = {};
    GetWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_EQ(settings::LogFilePath(), dormane::win::Narrow(windows) + "\\Temp\\VXFWUpdate.log");

    const DWORD one = 1;
    SetValue(L"EnableLog", REG_DWORD, &one, sizeof one);
    SetValue(L"LogType", REG_DWORD, &one, sizeof one);
    {
        FWUpdateInterface engine; // reads the switches and starts a fresh log
        engine.Init();
    }
    std::string log;
    ASSERT_TRUE(files::ReadSmallFile(settings::LogFilePath(), 65536, log));
    EXPECT_NE(log.find("FWUpdateInterface::Init return 0x"), std::string::npos) << log;
    EXPECT_EQ(log.front(), '[');
    SetLogSettings(LogSettings{});
}

TEST_F(WindowsTest, FilesInFoldersWithNonAsciiNamesWork) {
    const std::string nested = files::JoinPath(files::JoinPath(m_folder, "Zoë"), "用户");
    ASSERT_TRUE(files::MakePrivateFolders(nested));
    const std::string path = files::JoinPath(nested, "backup.bin");
    const uint8_t bytes[] = {1, 2, 3};
    std::string reason;
    ASSERT_TRUE(files::CreateNewFile(path, bytes, sizeof bytes, reason)) << reason;
    EXPECT_FALSE(files::CreateNewFile(path, bytes, sizeof bytes, reason)); // never replaced
    ASSERT_TRUE(files::AppendToOwnFile(path, "\x04"));
    std::string content;
    ASSERT_TRUE(files::ReadSmallFile(path, 16, content));
    EXPECT_EQ(content, std::string("\x01\x02\x03\x04", 4));
    EXPECT_TRUE(files::IsOwnRegularFile(path));
    EXPECT_FALSE(files::IsOwnRegularFile(nested)); // a folder is never taken for a file
    EXPECT_FALSE(files::RandomAccessFile().Open(nested));
}

TEST_F(WindowsTest, TheFirmwareTempFileIsHiddenAndAFileUrlIsCopied) {
    const std::string source = files::JoinPath(m_folder, "image.bin");
    std::string reason;
    const uint8_t image[] = {0x56, 0x58, 0, 1, 2, 3};
    ASSERT_TRUE(files::CreateNewFile(source, image, sizeof image, reason));
    const std::string saved = dormane::g_strFirmwarePath;
    dormane::g_strFirmwarePath =
        files::JoinPath(files::JoinPath(m_folder, "Temp"), "VanteqUpdate.bin");

    std::string url = "file:///" + source;
    for (char& c : url)
        if (c == '\\')
            c = '/';
    EXPECT_EQ(dormane::DownloadFile(url, &reason), dormane::kDownloadOk) << reason;
    const DWORD attributes = GetFileAttributesW(Widen(dormane::g_strFirmwarePath).c_str());
    ASSERT_NE(attributes, INVALID_FILE_ATTRIBUTES);
    EXPECT_TRUE(attributes & FILE_ATTRIBUTE_HIDDEN);
    std::string copied;
    ASSERT_TRUE(files::ReadSmallFile(dormane::g_strFirmwarePath, 64, copied));
    EXPECT_EQ(copied, std::string(reinterpret_cast<const char*>(image), sizeof image));

    // A second download empties and rewrites the hidden file; a missing one is 53.
    EXPECT_EQ(dormane::DownloadFile(url + ".missing", &reason), dormane::kDownloadOpenUrlFailed);
    EXPECT_EQ(dormane::DownloadFile(url, &reason), dormane::kDownloadOk) << reason;
    // The spellings users write: the drive right after the slashes, with either separator.
    for (const std::string& spelling : {"file://" + url.substr(8), "file://" + source}) {
        EXPECT_EQ(dormane::DownloadFile(spelling, &reason), dormane::kDownloadOk)
            << spelling << ": " << reason;
    }
    dormane::g_strFirmwarePath = saved;
}

TEST_F(WindowsTest, TheLocalAppDataFolderCanBeChosenAndHoldsTheTempAndDormaneFolders) {
    const std::string chosen = files::JoinPath(m_folder, "Local AppData");
    _wputenv_s(L"DORMANE_LOCAL_APPDATA", Widen(chosen).c_str());
    EXPECT_EQ(dormane::InitLocalAppPaths(), 1);
    const std::string local = dormane::g_strLocalAppData;
    const std::string firmware = dormane::g_strFirmwarePath;
    const std::string data = settings::DataFolder();
    _wputenv_s(L"DORMANE_LOCAL_APPDATA", L"");
    EXPECT_EQ(local, chosen);
    EXPECT_EQ(firmware, chosen + "\\Temp\\VanteqUpdate.bin");
    EXPECT_EQ(data, chosen + "\\Dormane");
    const DWORD attributes = GetFileAttributesW(Widen(chosen + "\\Temp").c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));

    // Unset, the shell's folder of the user is used again.
    EXPECT_EQ(dormane::InitLocalAppPaths(), 1);
    EXPECT_NE(dormane::g_strLocalAppData, chosen);
    EXPECT_FALSE(dormane::g_strLocalAppData.empty());
}

// The burn lock and the journal are keyed by the EEPROM file's canonical path: every spelling
// of one file (case, separators, dot folders) must give the same key.
TEST_F(WindowsTest, EverySpellingOfAFileHasOneCanonicalPath) {
    const std::string path = files::JoinPath(m_folder, "Speaker.eeprom");
    std::string reason;
    const uint8_t byte = 0;
    ASSERT_TRUE(files::CreateNewFile(path, &byte, 1, reason)) << reason;
    std::string upper = path, slashes = path;
    for (char& c : upper)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    for (char& c : slashes)
        if (c == '\\')
            c = '/';
    const std::string dotted = files::JoinPath(files::JoinPath(m_folder, "."), "speaker.EEPROM");
    const std::string canonical = files::CanonicalPath(path);
    ASSERT_FALSE(canonical.empty());
    for (const std::string& spelling : {upper, slashes, dotted})
        EXPECT_EQ(files::CanonicalPath(spelling), canonical) << spelling;
    EXPECT_NE(files::CanonicalPath(files::JoinPath(m_folder, "other.eeprom")), canonical);
}

TEST_F(WindowsTest, ASecondHolderOfTheSpeakerLockIsRefusedAndNamed) {
    _putenv_s(dormane::kLockFolderVariable, m_folder.c_str());
    std::unique_ptr<dormane::SpeakerLock> first, second;
    dormane::SpeakerLockHolder holder;
    std::string reason;
    ASSERT_EQ(dormane::TakeSpeakerLock("usb-test", 0, first, holder, reason),
              dormane::LockResult::Taken)
        << reason;
    EXPECT_EQ(dormane::TakeSpeakerLock("usb-test", 200, second, holder, reason),
              dormane::LockResult::Busy);
    EXPECT_EQ(holder.pid, static_cast<long>(GetCurrentProcessId()));
    EXPECT_EQ(holder.program, "windows_platform_test");
    first.reset();
    EXPECT_EQ(dormane::TakeSpeakerLock("usb-test", 0, second, holder, reason),
              dormane::LockResult::Taken);
    second.reset();
    _putenv_s(dormane::kLockFolderVariable, "");
}

} // namespace
