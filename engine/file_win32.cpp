#include "FileSystem.h"

#include "WinText.h"

#include <algorithm>
#include <vector>

namespace dormane::files {

const char kPathSeparator = '\\';

namespace {

using win::Widen;

HANDLE H(intptr_t handle) {
    return reinterpret_cast<HANDLE>(handle);
}

// Opens without waiting on anything (a named pipe or a device at the path is refused
// before it is read) and keeps only an ordinary disk file. existed tells whether the file was
// there before (taken right after the open: later calls may change the last error).
HANDLE OpenRegular(const std::string& path, DWORD access, DWORD disposition, DWORD flags = 0,
                   bool* existed = nullptr) {
    // The attributes are read back below, whatever else the caller asked for.
    const HANDLE file = CreateFileW(Widen(path).c_str(), access | FILE_READ_ATTRIBUTES,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    disposition, FILE_ATTRIBUTE_NORMAL | flags, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    if (existed)
        *existed = disposition == OPEN_EXISTING || GetLastError() == ERROR_ALREADY_EXISTS;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))) {
        CloseHandle(file);
        SetLastError(ERROR_INVALID_NAME);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

bool WriteAll(HANDLE file, const void* data, size_t size, OVERLAPPED* at) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    size_t done = 0;
    while (done < size) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
        DWORD written = 0;
        if (at) {
            const uint64_t offset = (uint64_t{at->OffsetHigh} << 32 | at->Offset) + done;
            OVERLAPPED next{};
            next.Offset = static_cast<DWORD>(offset);
            next.OffsetHigh = static_cast<DWORD>(offset >> 32);
            if (!WriteFile(file, bytes + done, chunk, &written, &next) || written == 0)
                return false;
        } else if (!WriteFile(file, bytes + done, chunk, &written, nullptr) || written == 0) {
            return false;
        }
        done += written;
    }
    return true;
}

// A path reached through a junction or a symbolic link is not followed for the files that
// must not be redirected.
bool IsReparsePoint(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

} // namespace

RandomAccessFile::~RandomAccessFile() {
    Close();
}

bool RandomAccessFile::Open(const std::string& path, bool forWriting) {
    Close();
    const HANDLE file =
        OpenRegular(path, GENERIC_READ | (forWriting ? GENERIC_WRITE : 0), OPEN_EXISTING);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    m_handle = reinterpret_cast<intptr_t>(file);
    return true;
}

bool RandomAccessFile::OpenOrCreate(const std::string& path, bool& created) {
    Close();
    bool existed = true;
    const HANDLE file = OpenRegular(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, 0, &existed);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    created = !existed;
    m_handle = reinterpret_cast<intptr_t>(file);
    return true;
}

void RandomAccessFile::Close() {
    if (m_handle != -1)
        CloseHandle(H(m_handle));
    m_handle = -1;
}

bool RandomAccessFile::IsOpen() const {
    return m_handle != -1;
}

int64_t RandomAccessFile::Size() const {
    LARGE_INTEGER size{};
    if (m_handle == -1 || !GetFileSizeEx(H(m_handle), &size))
        return -1;
    return size.QuadPart;
}

int64_t RandomAccessFile::ReadAt(uint64_t offset, void* buffer, size_t size) const {
    auto* bytes = static_cast<uint8_t*>(buffer);
    size_t done = 0;
    while (done < size) {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset + done);
        at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
        DWORD got = 0;
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size - done, 1u << 30));
        if (!ReadFile(H(m_handle), bytes + done, chunk, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                break;
            return -1;
        }
        if (got == 0)
            break;
        done += got;
    }
    return static_cast<int64_t>(done);
}

bool RandomAccessFile::WriteAt(uint64_t offset, const void* data, size_t size) const {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    return m_handle != -1 && WriteAll(H(m_handle), data, size, &at);
}

bool AppendToOwnFile(const std::string& path, const std::string& text) {
    if (IsReparsePoint(path))
        return false;
    const HANDLE file =
        OpenRegular(path, FILE_APPEND_DATA, OPEN_ALWAYS, FILE_FLAG_OPEN_REPARSE_POINT);
    if (file == INVALID_HANDLE_VALUE)
        return false;
    const bool ok = WriteAll(file, text.data(), text.size(), nullptr);
    CloseHandle(file);
    return ok;
}

bool CreateNewFile(const std::string& path, const uint8_t* data, size_t size, std::string& reason) {
    const HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        reason = "cannot create " + path + ": " + win::ErrorText(GetLastError());
        return false;
    }
    const bool ok = WriteAll(file, data, size, nullptr) && FlushFileBuffers(file);
    const DWORD error = GetLastError();
    CloseHandle(file);
    if (!ok) {
        reason = "cannot write " + path + ": " + win::ErrorText(error);
        DeleteFileW(Widen(path).c_str());
    }
    return ok;
}

bool CreateEmptyFileIfMissing(const std::string& path) {
    const HANDLE file = CreateFileW(Widen(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return GetLastError() == ERROR_FILE_EXISTS;
    CloseHandle(file);
    return true;
}

bool MakePrivateFolders(const std::string& path) {
    // The folders live in the user's own profile, whose permissions already keep others out.
    for (size_t i = 1; i <= path.size(); ++i) {
        if (i != path.size() && path[i] != '\\' && path[i] != '/')
            continue;
        const std::string part = path.substr(0, i);
        if (part.size() == 2 && part[1] == ':')
            continue; // a drive
        if (!CreateDirectoryW(Widen(part).c_str(), nullptr) &&
            GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_ACCESS_DENIED)
            return false;
    }
    const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Exists(const std::string& path) {
    return GetFileAttributesW(Widen(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool IsOwnRegularFile(const std::string& path) {
    // Files in the user's profile and the temp folder are the user's own unless they are
    // links; a link or a folder is never removed.
    const DWORD attributes = GetFileAttributesW(Widen(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           !(attributes &
             (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE));
}

bool RemoveFile(const std::string& path) {
    return DeleteFileW(Widen(path).c_str()) != 0;
}

bool MoveIntoPlace(const std::string& from, const std::string& to, std::string& reason) {
    if (MoveFileExW(Widen(from).c_str(), Widen(to).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    reason = "cannot rename " + from + " to " + to + ": " + win::ErrorText(GetLastError());
    return false;
}

std::string CanonicalPath(const std::string& path) {
    const HANDLE file =
        CreateFileW(Widen(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    std::vector<wchar_t> buffer(32768);
    const DWORD n = GetFinalPathNameByHandleW(
        file, buffer.data(), static_cast<DWORD>(buffer.size()), FILE_NAME_NORMALIZED);
    CloseHandle(file);
    if (n == 0 || n >= buffer.size())
        return {};
    std::wstring result(buffer.data(), n);
    if (result.rfind(L"\\\\?\\", 0) == 0)
        result.erase(0, 4);
    // Two spellings of one path (case, short names) name one EEPROM.
    CharUpperBuffW(result.data(), static_cast<DWORD>(result.size()));
    return win::Narrow(result);
}

std::string LastErrorText() {
    return win::ErrorText(GetLastError());
}

int CurrentProcessId() {
    return static_cast<int>(GetCurrentProcessId());
}

std::tm LocalTime(std::time_t when) {
    std::tm local{};
    localtime_s(&local, &when);
    return local;
}

} // namespace dormane::files
