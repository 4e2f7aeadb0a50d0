#include "daemon/syslogcfg.h"

#include <cstdio>

#include "daemon/record.h"
#include "platform/errors.h"
#include "platform/files.h"
#include "platform/system.h"

namespace quenby {

std::vector<std::string> ReadPermitList(std::string_view bytes) {
    // Text mode: the input ends at the first 0x1A.
    if (const std::size_t end = bytes.find('\x1A'); end != std::string_view::npos) {
        bytes = bytes.substr(0, end);
    }
    constexpr std::size_t kMaxLine = 1022;
    std::vector<std::string> permit;
    bool marked = false;
    std::size_t at = 0;
    std::string line;
    // Each pass reads one line the way a line reader with a buffer of 1023 characters does; at the
    // end of the input a last read finds nothing and yields an empty line.
    while (at < bytes.size()) {
        line.clear();
        while (at < bytes.size() && line.size() < kMaxLine) {
            char c = bytes[at];
            if (c == '\r' && at + 1 < bytes.size() && bytes[at + 1] == '\n') {
                c = '\n';
                ++at;
            }
            ++at;
            if (c == '\n') {
                break;
            }
            line += c;
        }
        if (line.empty() || line[0] == '#') {
            continue;
        }
        if (marked) {
            permit.push_back(line);
        } else if (line.starts_with("[Permit]")) {
            marked = true;
        }
    }
    return permit;
}

int ProfileInt(const std::optional<std::string>& value, int defaultValue) {
    if (!value) {
        return defaultValue;
    }
    return ReadPriority(*value);
}

}  // namespace quenby

SyslogCfg::SyslogCfg() {
    Load(platform::ConfigDirectory(), platform::TempDirectory());
}

SyslogCfg::SyslogCfg(const std::string& configDirectory, const std::string& tempDirectory) {
    Load(configDirectory, tempDirectory);
}

void SyslogCfg::Load(const std::string& configDirectory, const std::string& tempDirectory) {
    m_configPath = platform::PathInDirectory(configDirectory, "Quenby.ini");

    // Numbers are read from at most 63 characters, as profile functions read them into a buffer.
    auto key = [this](const char* name, std::size_t size = 64) {
        return platform::ReadProfileString(m_configPath, "Syslog", name, size);
    };
    m_logType = quenby::ProfileInt(key("LogType"), 1);
    if (m_logType != 1 && m_logType != 2) {
        m_logType = 1;
    }
    m_rotateLogs = quenby::ProfileInt(key("RotateLogs"), 0) == 1 ? 1 : 0;
    m_logDir = key("LogDir", quenby::kMaxLogDirLength + 1).value_or(tempDirectory);
    if (m_logDir.size() > quenby::kMaxLogDirLength) {
        m_logDir.resize(quenby::kMaxLogDirLength);
    }
    const int port = quenby::ProfileInt(key("Port"), 514);
    m_port = port >= 1 && port <= 65535 ? static_cast<std::uint16_t>(port) : 514;

    if (const std::optional<std::string> bytes = platform::ReadOrCreateFile(m_configPath)) {
        m_permit = quenby::ReadPermitList(*bytes);
    } else {
        const std::string text = platform::LastErrorMessage().value_or("Unknown error\r\n");
        m_readError = text.substr(0, text.size() - 2);
    }
    if (m_permit.empty()) {
        std::printf("Warning. No [Permit] addresses. LogType set to 1\r\n");
        std::fflush(stdout);
        m_logType = 1;
    }
}
