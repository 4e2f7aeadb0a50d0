// The log files: naming, choice of file and daily rotation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

// One log file of the open set. A plain value: copies share the stream, and neither copying nor
// destroying a record closes it; only Close does.
class LogFile {
public:
    bool Open();
    void Close();

    platform::LogStream* m_fp = nullptr;
    std::string m_name;
    std::string m_path;

    // The file could not be opened or written and that has been reported; it is cleared, with a
    // report, once a record is stored again.
    bool m_failing = false;
    // When the last attempt to open the file was made, on the steady clock, in milliseconds.
    std::int64_t m_lastOpenAttempt = 0;
    // When it was last made sure that the path still names the open file, on the same clock.
    std::int64_t m_lastCheck = 0;
};

namespace quenby {

inline constexpr int kLogTypeSingle = 1;
inline constexpr int kLogTypeByAddress = 2;

// The local date as "%m-%d-%Y.", the prefix of every log file name while rotation is on.
std::string DatePrefix(const std::tm& local);

// The names of the set: "syslog.log" for the single file, "<entry>.log" for each permit entry,
// each after the prefix.
std::vector<std::string> LogFileNames(int logType, const std::vector<std::string>& permit,
                                      std::string_view prefix);

// The index in the set of the file that receives a message from the address: the single file, or
// the file of the first permit entry equal to the address; npos when there is none.
std::size_t ChooseLogFile(int logType, const std::vector<std::string>& permit,
                          std::string_view address);

// A new set of files is due when the local date differs from the date the set was opened on.
bool IsNewDay(const std::tm& opened, const std::tm& now);

}  // namespace quenby
