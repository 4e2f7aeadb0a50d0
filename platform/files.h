// Files: the configuration's line pass and the log files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class MappedFile;

// Maps a file for reading, shared with readers and writers of other processes, and creates it
// empty when it does not exist. The mapping shows the bytes the file had when it was mapped; what
// is appended later is not part of it, and should the file shrink, the part beyond its new end
// reads as zero bytes. Null (with the last error set) on failure.
MappedFile* MapSharedInput(const std::string& path);

// The mapped bytes (null when the file was empty) and their count.
const char* MappedData(const MappedFile* file);
std::size_t MappedSize(const MappedFile* file);

void UnmapFile(MappedFile* file);

// The bytes of a file, untranslated; the file is created empty when it does not exist. Nothing
// (with the last error set) when it can neither be read nor created.
std::optional<std::string> ReadOrCreateFile(const std::string& path);

// A file's status, its times in nanoseconds since the epoch, at the resolution of the file system.
struct FileStatus {
    std::int64_t creationTime = 0;
    std::int64_t lastWriteTime = 0;
    std::int64_t lastAccessTime = 0;
    std::int64_t size = 0;
    std::uint8_t attribute = 0;  // 0x01 read-only, 0x10 directory
    std::string fullPath;
};

// The status of the file at the path, or nothing (with the last error set) when it cannot be read.
std::optional<FileStatus> ReadFileStatus(const std::string& path);

// The value of a key in a section of an INI file, or nothing when the file, the section or the
// key is missing.
std::optional<std::string> ReadProfileString(const std::string& path, const char* section,
                                             const char* key);

class LogStream;

// Opens a log file for appending, creating it when missing, shared with readers and writers of
// other processes. A byte 0x1A that ends an existing file is removed first, so that appended text
// follows the real end of the text. Null (with the last error set) on failure.
LogStream* OpenLogStream(const std::string& path);

// Appends one record line, written with LF line ends, in the platform's text form. The line
// reaches the system before the call returns, whole or not at all: false (with the last error
// set) when it could not be stored.
bool AppendLogRecord(LogStream* stream, std::string_view line);

void CloseLogStream(LogStream* stream);

}  // namespace platform
