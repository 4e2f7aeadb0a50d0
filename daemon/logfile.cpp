#include "daemon/logfile.h"

#include <algorithm>
#include <cstdio>

bool LogFile::Open() {
    m_fp = platform::OpenLogStream(m_path);
    return m_fp != nullptr;
}

void LogFile::Close() {
    if (m_fp != nullptr) {
        platform::CloseLogStream(m_fp);
        m_fp = nullptr;
    }
}

namespace quenby {

std::string DatePrefix(const std::tm& local) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d-%02d-%04d.", local.tm_mon + 1, local.tm_mday,
                  local.tm_year + 1900);
    return text;
}

std::vector<std::string> LogFileNames(int logType, const std::vector<std::string>& permit,
                                      std::string_view prefix) {
    std::vector<std::string> names;
    if (logType == kLogTypeByAddress) {
        for (const std::string& entry : permit) {
            names.push_back(std::string(prefix) + entry + ".log");
        }
    } else {
        names.push_back(std::string(prefix) + "syslog.log");
    }
    return names;
}

std::size_t ChooseLogFile(int logType, const std::vector<std::string>& permit,
                          std::string_view address) {
    if (logType != kLogTypeByAddress) {
        return 0;
    }
    const auto entry = std::find(permit.begin(), permit.end(), address);
    return entry == permit.end() ? std::string_view::npos
                                 : static_cast<std::size_t>(entry - permit.begin());
}

bool IsNewDay(const std::tm& opened, const std::tm& now) {
    return opened.tm_yday != now.tm_yday || opened.tm_year != now.tm_year;
}

}  // namespace quenby
