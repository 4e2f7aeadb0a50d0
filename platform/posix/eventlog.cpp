#include "platform/eventlog.h"

// The journal finds the caller's place in the code by itself; the entry needs no source location.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

namespace platform {

namespace {

// The journal's priorities: err, warning and info.
int JournalPriority(std::uint32_t type) {
    switch (type) {
        case kEventError:
            return 3;
        case kEventWarning:
            return 4;
        default:
            return 6;
    }
}

}  // namespace

bool ReportEvent(const char* source, std::uint32_t type, std::uint32_t eventId,
                 const SecurityId* /*user*/, const char* text) {
    return sd_journal_send("MESSAGE=%s", text, "PRIORITY=%i", JournalPriority(type & 0xFFFFu),
                           "SYSLOG_IDENTIFIER=%s", source, "EVENT_ID=0x%08X", eventId,
                           nullptr) >= 0;
}

}  // namespace platform
