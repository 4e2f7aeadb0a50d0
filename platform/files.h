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
// empty when it does not exist. Only a regular file is mapped: the open never blocks, a FIFO, a
// device or a directory is refused, and a missing file is created only as a regular file at that
// very path, never as the target of a dangling link, which is refused as no regular file. The
// mapping shows the bytes the file had when it was mapped; what is appended later is not part of
// it, and should the file shrink, the part beyond its new end reads as zero bytes. Null (with the
// last error set) on failure.
MappedFile* MapSharedInput(const std::string& path);

// The mapped bytes (null when the file was empty) and their count.
const char* MappedData(const MappedFile* file);
std::size_t MappedSize(const MappedFile* file);

void UnmapFile(MappedFile* file);

// True when the last error says that the path, or a directory on it, does not exist.
bool LastErrorIsMissingPath();

// True when the path names a regular file that can be opened for reading; the look never blocks.
// False (with the last error set) otherwise: missing, no permission, a directory, a FIFO or a
// device, a link to nothing.
bool CanReadRegularFile(const std::string& path);

// The bytes of a file, untranslated. A missing file is created empty at the path, and reads as
// empty also when it cannot be created. Nothing (with the last error set) when the file is there
// but cannot be read: no permission, a directory, a FIFO or a device, a link to nothing, an I/O
// error.
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

// The value of a key in a section of an INI file, as the system's profile functions read it, cut
// to size - 1 characters; nothing when the file, the section or the key is missing.
std::optional<std::string> ReadProfileString(const std::string& path, const char* section,
                                             const char* key, std::size_t size);

class LogStream;

// Opens a log file for appending, creating it when missing, shared with readers and writers of
// other processes. Only a regular file with a single link is opened, and never through a link
// planted at the path. A byte 0x1A that ends an existing file is removed first, and a last line
// without a line end gets one, so that appended records follow the real end of the text on a line
// of their own. Null (with the last error set) on failure.
LogStream* OpenLogStream(const std::string& path);

// True when the path no longer names the file that the stream writes: it was renamed, deleted or
// replaced. False too when the path cannot be looked at.
bool LogStreamReplaced(const LogStream* stream, const std::string& path);

// Appends one record line, written with LF line ends, in the platform's text form. The line
// reaches the system before the call returns, whole or not at all: false (with the last error
// set) when it could not be stored.
bool AppendLogRecord(LogStream* stream, std::string_view line);

void CloseLogStream(LogStream* stream);

}  // namespace platform
