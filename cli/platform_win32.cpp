#include "Platform.h"

#include "Discovery.h"
#include "Transport.h"
#include "WinText.h"
#include "WinUsbSystem.h"

#include <io.h>
#include <shellapi.h>

#include <cstdio>

std::vector<std::string> PrepareProcess(int, char**) {
    // The console shows what the program prints in UTF-8 (folder names such as "Zoë").
    SetConsoleOutputCP(CP_UTF8);
    // The arguments as typed, whatever the ANSI code page could not hold.
    std::vector<std::string> args;
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    for (int i = 0; wide && i < count; ++i)
        args.push_back(dormane::win::Narrow(wide[i]));
    if (wide)
        LocalFree(wide);
    return args;
}

bool StdoutIsTerminal() {
    return _isatty(_fileno(stdout)) != 0;
}

std::string QuoteForShell(const std::string& word) {
    // The command prompt splits at blanks and acts on & | < > ^ ( ) outside double quotes;
    // inside them, the program's own parser undoes \" and the backslashes before it.
    if (!word.empty() && word.find_first_of(" \t\"&|<>^()%!;,='") == std::string::npos)
        return word;
    std::string quoted = "\"";
    size_t backslashes = 0;
    for (char c : word) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        quoted += c;
    }
    quoted.append(backslashes * 2, '\\');
    return quoted + "\"";
}

const char* AccessSetupId() {
    return "winusb";
}

const char* AccessSetupTitle() {
    return "WinUSB driver";
}

namespace {

constexpr const char* kBindAdvice =
    "Bind WinUSB to one of the speaker's interfaces with a WinUSB driver installer such as "
    "Zadig (Options > List All Devices, choose the speaker's HID interface so that the sound "
    "keeps working, driver WinUSB, Replace Driver); then unplug the speaker and plug it in "
    "again. To undo it, open Device Manager, choose that interface, Uninstall device with "
    "\"Delete the driver software\", and plug the speaker in again.";

} // namespace

AccessSetup CheckAccessSetup() {
    AccessSetup setup;
    std::vector<dormane::winusb::PresentDevice> nodes;
    if (!dormane::winusb::MakeRealSystem()->ListUsbDevices(nodes)) {
        setup.detail = "the list of USB devices cannot be read";
        return setup;
    }
    bool present = false;
    for (const auto& node : nodes) {
        if (node.hardwareIds.empty() ||
            _strnicmp(node.hardwareIds.front().c_str(), dormane::kSpeakerHardwareIdPrefix, 17) != 0)
            continue;
        present = true;
        if (_stricmp(node.service.c_str(), "WinUSB") == 0 && !node.interfacePath.empty()) {
            setup.ready = true;
            setup.detail = "bound to " + node.hardwareIds.front();
            return setup;
        }
    }
    setup.detail = present ? "the speaker is present, but none of its interfaces uses WinUSB"
                           : "no speaker is connected, so no WinUSB binding can be seen";
    setup.advice = kBindAdvice;
    return setup;
}

std::string NoAccessAdvice() {
    return std::string("no interface of it is bound to WinUSB, so Dormane cannot reach it. ") +
           kBindAdvice + " (README, \"Windows\")";
}

SettingsStoreState SettingsStore() {
    HKEY key = nullptr;
    const LONG result =
        RegOpenKeyExW(HKEY_CURRENT_USER, L"Software\\Voxtrel\\FWUpdateTool", 0, KEY_READ, &key);
    if (result == ERROR_FILE_NOT_FOUND)
        return SettingsStoreState::Missing;
    if (result != ERROR_SUCCESS)
        return SettingsStoreState::Unreadable;
    RegCloseKey(key);
    return SettingsStoreState::Readable;
}

const char* SettingsHowTo() {
    return "To switch the log on, set the DWORD values EnableLog=1 and LogType=1 under that key "
           "(reg add HKCU\\Software\\Voxtrel\\FWUpdateTool /v EnableLog /t REG_DWORD /d 1 /f).";
}

const char* DebugOutputName() {
    return "the debugger output";
}

const char* FirmwareServerAdvice() {
    // WinINet takes the proxy and the trusted certificates from Windows itself.
    return "Check the address, the proxy in the Windows Internet settings and, for a mirror with "
           "a certificate of its own, that its CA is among the trusted root certificates of "
           "Windows.";
}

const char* TempFolderAdvice() {
    return "Make the Windows folder's Temp writable for this user.";
}
