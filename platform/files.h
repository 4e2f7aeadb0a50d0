// Files: the configuration's line pass and the log files.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The bytes of a file, untranslated; the file is created empty when it does not exist. Nothing
// (with the last error set) when it can neither be read nor created.
std::optional<std::string> ReadOrCreateFile(const std::string& path);

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
