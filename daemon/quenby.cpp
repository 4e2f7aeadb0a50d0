#include "daemon/quenby.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "daemon/record.h"
#include "platform/clock.h"
#include "platform/console.h"
#include "platform/eventlog.h"
#include "platform/system.h"
#include "service_host/status.h"

using namespace service_host;

namespace {

constexpr std::uint32_t kStartWaitHint = 3000;
constexpr std::uint32_t kStopWaitHint = 5000;
constexpr unsigned kReadableWait = 5000;
constexpr unsigned kFailedStartPause = 5000;
constexpr std::int64_t kReopenInterval = 1000;
// Room for bursts: at 50,000 small datagrams a second this absorbs the better part of a second.
constexpr int kReceiveBuffer = 8 * 1024 * 1024;
constexpr std::size_t kMaxDatagram = 1024;

}  // namespace

CQuenby::CQuenby() : CNTService("Quenby", "Nolvane Syslog Server") {
    m_controlsAccepted = kServiceAcceptStop | kServiceAcceptShutdown;
}

void CQuenby::Run(std::uint32_t /*argc*/, char** /*argv*/) {
    SetStatus(kServiceStartPending, kStartWaitHint, 0);
    {
        std::lock_guard<std::mutex> lock(m_stopLock);
        m_stopEvent = platform::CreateManualResetEvent();
    }
    SetStatus(kServiceStartPending, kStartWaitHint, 0);
    if (m_stopEvent == nullptr) {
        // Without the event the loop could never be left.
        FailStart("Failed to create the stop event.");
        return;
    }
    if (!m_config.m_readError.empty()) {
        // The defaults of an unreadable file would accept every sender.
        FailStart("Unable to read configuration file " + m_config.m_configPath + " - " +
                  m_config.m_readError);
        return;
    }
    platform::Socket* socket = OpenSocket();
    SetStatus(kServiceStartPending, kStartWaitHint, 0);
    if (socket == nullptr) {
        FailStart("Failed to allocate socket. Is another Syslog Server running?\n(UDP port " +
                  std::to_string(m_config.m_port) + ": " + m_socketError + ")");
        return;
    }
    SetStatus(kServiceStartPending, kStartWaitHint, 0);
    if (m_standalone) {
        PrintConfig();
    }
    SetStatus(kServiceStartPending, kStartWaitHint, 0);
    OpenLogs();
    m_startDay = platform::LocalTime(platform::Now());
    if (m_isNT) {
        LogEvent("Nolvane Syslog Server started", platform::kEventInformation, kDefaultEventId);
    }
    SetStatus(kServiceRunning, kStartWaitHint, 0);

    // A stop is seen at the start of every pass. The wait for the socket also ends at once when
    // the stop is signalled, and no pass sleeps while datagrams are queued.
    while (!platform::WaitEvent(m_stopEvent, 0)) {
        if (WaitReadable(socket) > 0) {
            HandleDatagram(socket);
        }
    }

    CloseStopEvent();
    platform::CleanupSockets();
    CloseLogs();
}

void CQuenby::CloseStopEvent() {
    // A Stop that comes later finds no event and has nothing to do.
    std::lock_guard<std::mutex> lock(m_stopLock);
    if (m_stopEvent != nullptr) {
        platform::CloseEvent(m_stopEvent);
        m_stopEvent = nullptr;
    }
}

void CQuenby::FailStart(const std::string& text) {
    Stop();
    if (m_standalone) {
        platform::Echo(text + "\n");
    } else if (!m_isNT) {
        std::printf("%s\n", text.c_str());
        std::fflush(stdout);
    } else {
        LogEvent(text.c_str(), platform::kEventError, kDefaultEventId);
    }
    CloseStopEvent();
    platform::CleanupSockets();
    platform::Sleep(kFailedStartPause);
}

void CQuenby::Stop() {
    SetStatus(kServiceStopPending, kStopWaitHint, 0);
    SignalStop();
}

// At system shutdown the service manager expects no stop-pending report.
void CQuenby::Shutdown() {
    SignalStop();
}

void CQuenby::SignalStop() {
    std::lock_guard<std::mutex> lock(m_stopLock);
    if (m_stopEvent != nullptr) {
        platform::SignalEvent(m_stopEvent);
    }
}

platform::Socket* CQuenby::OpenSocket() {
    // Why the socket could not be had, for the failure's report.
    auto fail = [this]() -> platform::Socket* {
        char error[256];
        m_socketError = FormatLastError(error, sizeof error);
        return nullptr;
    };
    SetStatus(kServiceStartPending, kStartWaitHint, 0);
    const int started = platform::StartSockets();
    SetStatus(kServiceStartPending, kStartWaitHint, 0);
    if (started != 0) {
        return fail();
    }
    SetStatus(kServiceStartPending, kStartWaitHint, 0);
    platform::Socket* socket = platform::OpenUdpSocket();
    if (socket == nullptr) {
        return fail();
    }
    SetStatus(kServiceStartPending, kStartWaitHint, 0);
    // The usual cause of a failure is another program holding the port.
    if (!platform::BindAnyAddress(socket, m_config.m_port)) {
        return fail();
    }
    platform::EnlargeReceiveBuffer(socket, kReceiveBuffer);
    return socket;
}

int CQuenby::WaitReadable(platform::Socket* socket) {
    // While datagrams are queued, the socket is known to be readable without asking.
    if (m_queued) {
        return 1;
    }
    return platform::WaitReadable(socket, m_stopEvent, kReadableWait);
}

const std::tm& CQuenby::LocalTime(std::int64_t now) {
    if (now != m_localSecond) {
        m_local = platform::LocalTime(now);
        m_localSecond = now;
    }
    return m_local;
}

void CQuenby::HandleDatagram(platform::Socket* socket) {
    char buffer[kMaxDatagram + 1];
    std::memset(buffer, 0, sizeof buffer);
    platform::IPv4Address sender{};
    // A datagram longer than the buffer is discarded whole by the receive.
    const long received = platform::ReceiveDatagram(socket, buffer, kMaxDatagram, sender);
    m_queued = received != platform::kNoDatagram;
    if (received < 0) {
        return;
    }
    char address[16];
    quenby::FormatAddress(sender, address);
    if (received == 0) {
        return;
    }
    const std::vector<std::string>& permit = m_config.m_permit;
    if (!permit.empty() && std::find(permit.begin(), permit.end(), address) == permit.end()) {
        if (m_standalone) {
            m_line.assign("Packet from ").append(address);
            m_line.append(" denied. Address not in [Permit] configuration\r\n");
            platform::Echo(m_line);
        }
        return;
    }
    char stamp[16];
    quenby::FormatTimestamp(LocalTime(platform::Now()), stamp);
    // The received text ends at the datagram's first zero byte.
    const quenby::DecodedMessage decoded = quenby::DecodeDatagram(buffer);
    if (m_standalone) {
        quenby::FormatRecordLine(m_line, stamp, address, decoded.facility, decoded.severity,
                                 decoded.message);
        platform::Echo(m_line);
    }
    WriteRecord(address, stamp, decoded.facility, decoded.severity, decoded.message.data());
}

void CQuenby::PrintConfig() {
    std::string text = "Configuration file parameters:\r\n";
    text += "Config file name: " + m_config.m_configPath + "\r\n";
    text += "Syslog directory: " + m_config.m_logDir + "\r\n";
    text += "Rotate logs daily: ";
    text += m_config.m_rotateLogs != 0 ? "True.\r\n" : "False.\r\n";
    text += "Syslog type: ";
    text += m_config.m_logType == 1 ? "Single file.\r\n" : "By IP Address.\r\n";
    if (!m_config.m_permit.empty()) {
        text += "Permitted IP Addresses:\r\n";
        for (const std::string& entry : m_config.m_permit) {
            text += entry + ", ";
        }
        text += "\r\nWaiting for messages.\r\n";
    }
    platform::Echo(text);
}

bool CQuenby::OpenLogs() {
    const std::string prefix =
        m_config.m_rotateLogs == 1 ? quenby::DatePrefix(LocalTime(platform::Now())) : "";
    CloseLogs();
    for (const std::string& name :
         quenby::LogFileNames(m_config.m_logType, m_config.m_permit, prefix)) {
        LogFile file;
        file.m_name = name;
        file.m_path = m_config.m_logDir + name;
        m_logFiles.push_back(file);
    }
    const std::int64_t now = platform::MonotonicMilliseconds();
    for (LogFile& file : m_logFiles) {
        OpenLogFile(file, now);
    }
    return true;
}

bool CQuenby::CloseLogs() {
    for (LogFile& file : m_logFiles) {
        file.Close();
    }
    m_logFiles.clear();
    return true;
}

void CQuenby::WriteRecord(const char* address, const char* timestamp, const char* facility,
                          const char* severity, const char* text) {
    if (m_config.m_rotateLogs == 1) {
        const std::tm now = LocalTime(platform::Now());
        if (quenby::IsNewDay(m_startDay, now)) {
            CloseLogs();
            OpenLogs();
            m_startDay = now;
        }
    }
    const std::size_t chosen =
        quenby::ChooseLogFile(m_config.m_logType, m_config.m_permit, address);
    if (chosen >= m_logFiles.size()) {
        return;
    }
    quenby::FormatRecordLine(m_line, timestamp, address, facility, severity, text);
    StoreRecord(m_logFiles[chosen], m_line);
}

bool CQuenby::OpenLogFile(LogFile& file, std::int64_t now) {
    file.m_lastOpenAttempt = now;
    file.m_lastCheck = now;
    if (file.Open()) {
        return true;
    }
    char error[256];
    FormatLastError(error, sizeof error);
    if (!file.m_failing) {
        file.m_failing = true;
        ReportLogFile("Unable to open log file " + file.m_path + " - " + error,
                      platform::kEventWarning);
    }
    return false;
}

void CQuenby::StoreRecord(LogFile& file, const std::string& line) {
    const std::int64_t now = platform::MonotonicMilliseconds();
    // Another program may have renamed or deleted the file (log rotation), or replaced its
    // directory: the records then go to a file of that name again.
    if (file.m_fp != nullptr && now - file.m_lastCheck >= kReopenInterval) {
        file.m_lastCheck = now;
        if (platform::LogStreamReplaced(file.m_fp, file.m_path)) {
            ReportLogFile("Reopening log file " + file.m_path + ".", platform::kEventInformation);
            file.Close();
            if (!OpenLogFile(file, now)) {
                return;
            }
        }
    }
    if (file.m_fp == nullptr &&
        (now - file.m_lastOpenAttempt < kReopenInterval || !OpenLogFile(file, now))) {
        return;
    }
    if (!platform::AppendLogRecord(file.m_fp, line)) {
        char error[256];
        FormatLastError(error, sizeof error);
        if (!file.m_failing) {
            file.m_failing = true;
            ReportLogFile("Unable to write log file " + file.m_path + " - " + error,
                          platform::kEventWarning);
        }
        // The stream is opened anew, at most once a second, until a record can be stored.
        file.Close();
        file.m_lastOpenAttempt = now;
        return;
    }
    if (file.m_failing) {
        file.m_failing = false;
        ReportLogFile("Writing log file " + file.m_path + " again.", platform::kEventWarning);
    }
}

void CQuenby::ReportLogFile(const std::string& text, std::uint32_t eventType) {
    if (m_standalone) {
        platform::Echo(text + "\n");
    } else {
        LogEvent(text.c_str(), eventType, kDefaultEventId);
    }
}
