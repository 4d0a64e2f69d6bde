#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

// The few file operations the engine needs, each with the care a firmware tool's files call
// for (a FIFO or a device in a file's place never blocks the program, a planted link is not
// followed, a new file is private). Paths are UTF-8 on every platform. One backend per
// platform: engine/file_posix.cpp, engine/file_win32.cpp.
namespace dormane::files {

// '/' on Linux, '\' on Windows.
extern const char kPathSeparator;

inline std::string JoinPath(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/' || folder.back() == kPathSeparator)
        return folder + name;
    return folder + kPathSeparator + name;
}

// The last part of a path, after the last separator of either kind.
inline std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of(kPathSeparator == '/' ? "/" : "/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// std::filesystem with UTF-8 text on every platform (a plain std::string would be taken in
// the Windows code page there).
inline std::filesystem::path U8Path(const std::string& utf8) {
    return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}
inline std::string U8String(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// A regular file opened for reading and, when asked, writing at given offsets. Opening
// never blocks, and anything but a regular file is refused.
class RandomAccessFile {
public:
    RandomAccessFile() = default;
    ~RandomAccessFile();
    RandomAccessFile(const RandomAccessFile&) = delete;
    RandomAccessFile& operator=(const RandomAccessFile&) = delete;

    // An existing file; false when it is missing, not a regular file or cannot be opened.
    bool Open(const std::string& path, bool forWriting = false);
    // An existing file for reading and writing, or a new one (mode 0644) when it is missing;
    // created tells which.
    bool OpenOrCreate(const std::string& path, bool& created);
    void Close();
    bool IsOpen() const;
    int64_t Size() const; // -1 when unknown
    // Bytes read (short at the end of the file), or -1 on a failure.
    int64_t ReadAt(uint64_t offset, void* buffer, size_t size) const;
    // True when every byte was written.
    bool WriteAt(uint64_t offset, const void* data, size_t size) const;

private:
    intptr_t m_handle = -1;
};

// Reads up to maxBytes of a regular file into out; false when it is not one or cannot be read.
bool ReadSmallFile(const std::string& path, size_t maxBytes, std::string& out);

// Appends text to the file, created private when missing. Refused (false) when the path is
// a link, not a regular file, or a file of another user: a log must not be redirected.
bool AppendToOwnFile(const std::string& path, const std::string& text);

// Creates a new private file (never replacing one, never through a link) holding data, and
// flushes it to the disk. On a failure nothing is left behind and reason says why.
bool CreateNewFile(const std::string& path, const uint8_t* data, size_t size, std::string& reason);

// Creates an empty private file unless something is already at path. False when nothing is
// there afterwards.
bool CreateEmptyFileIfMissing(const std::string& path);

// Creates path and every missing folder above it (new ones private). True when path is a
// folder afterwards.
bool MakePrivateFolders(const std::string& path);

// Something (a file, a folder, a link) is at path; a link is not followed.
bool Exists(const std::string& path);
// A regular file of the user running the program, not reached through a link.
bool IsOwnRegularFile(const std::string& path);
bool RemoveFile(const std::string& path);
// Puts from in the place of to, replacing it in one step.
bool MoveIntoPlace(const std::string& from, const std::string& to, std::string& reason);
// The absolute path with links and "." / ".." resolved; empty when path does not exist.
std::string CanonicalPath(const std::string& path);

// The text of the last failed operation of this thread (errno or GetLastError).
std::string LastErrorText();

int CurrentProcessId();
std::tm LocalTime(std::time_t when);

} // namespace dormane::files
