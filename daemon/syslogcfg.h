// The daemon's configuration: section "Syslog" of Quenby.ini and the permit list that ends it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class SyslogCfg {
public:
    // Loads Quenby.ini from the configuration directory of the system.
    SyslogCfg();
    // Loads Quenby.ini from the given directory, with the given default log directory.
    SyslogCfg(const std::string& configDirectory, const std::string& tempDirectory);

    std::string m_configPath;
    std::vector<std::string> m_permit;
    int m_rotateLogs = 0;
    std::string m_logDir;
    int m_logType = 1;
    std::uint16_t m_port = 514;
    // The system's text when the file is there but could not be read; empty when it was read, or
    // was missing. A daemon must not run on the defaults of a file it could not read.
    std::string m_readError;

private:
    void Load(const std::string& configDirectory, const std::string& tempDirectory);
};

namespace quenby {

inline constexpr std::size_t kMaxLogDirLength = 258;

// The permit list of a configuration file's bytes, read as a text-mode stream: CR LF counts as
// LF and a byte 0x1A ends the input. Every line after the first line that begins with "[Permit]"
// is an entry, as written, except empty lines and lines that begin with '#'. Lines are read at
// most 1022 characters at a time; the rest of a longer line is read as a line of its own.
std::vector<std::string> ReadPermitList(std::string_view bytes);

// An integer key as profile readers read it: the leading decimal number of the value, 0 when it
// has none, the default when the key is missing.
int ProfileInt(const std::optional<std::string>& value, int defaultValue);

}  // namespace quenby
