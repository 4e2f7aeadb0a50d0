// The syslog daemon: receives datagrams on its UDP port and appends one record line per message
// to its log files.
#pragma once

#include <cstdint>
#include <ctime>
#include <mutex>
#include <string>
#include <vector>

#include "daemon/logfile.h"
#include "daemon/syslogcfg.h"
#include "platform/event.h"
#include "platform/socket.h"
#include "service_host/ntservice.h"

class CQuenby : public CNTService {
public:
    CQuenby();

    void Run(std::uint32_t argc, char** argv) override;
    void Stop() override;
    void Shutdown() override;

    platform::Socket* OpenSocket();
    int WaitReadable(platform::Socket* socket);
    void HandleDatagram(platform::Socket* socket);
    void PrintConfig();
    bool OpenLogs();
    bool CloseLogs();
    void WriteRecord(const char* address, const char* timestamp, const char* facility,
                     const char* severity, const char* text);

    std::tm m_startDay{};
    SyslogCfg m_config;
    platform::Event* m_stopEvent = nullptr;
    std::vector<LogFile> m_logFiles;

private:
    // Ends a start that cannot go on: asks for the stop, tells why, and waits before returning.
    void FailStart(const std::string& text);
    // Makes the receive loop end at the start of its next pass; a Stop before the event exists
    // or after it was closed has nothing to do.
    void SignalStop();
    void CloseStopEvent();
    // The local time of a moment; the conversion is made once per second.
    const std::tm& LocalTime(std::int64_t now);
    // Opens a file of the set, telling about a failure once per episode.
    bool OpenLogFile(LogFile& file, std::int64_t now);
    // Appends the line to the file, reopening it at most once a second while it cannot be
    // written, and telling when that begins and when it ends.
    void StoreRecord(LogFile& file, const std::string& line);
    // News of a log file goes to the console when there is one, else to the event log.
    void ReportLogFile(const std::string& text, std::uint32_t eventType);

    // Guards the stop event's life against a Stop from another thread.
    std::mutex m_stopLock;
    // The last receive found a datagram, so more may be waiting.
    bool m_queued = false;
    std::int64_t m_localSecond = -1;
    std::tm m_local{};
    std::string m_line;
    // The system's text for why the socket could not be opened or bound.
    std::string m_socketError;
};
