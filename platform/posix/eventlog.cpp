#include "platform/eventlog.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

// The journal finds the caller's place in the code by itself; the entry needs no source location.
#define SD_JOURNAL_SUPPRESS_LOCATION
#include <systemd/sd-journal.h>

#include "platform/posix/eventlog_posix.h"

extern char** environ;

namespace platform {

namespace posix {

namespace {

// The journal's counterpart of the message table: a catalog entry per message, found by the
// entry's MESSAGE_ID. Every message is the entry's own text.
struct CatalogMessage {
    std::uint32_t eventId;
    std::uint32_t type;  // the event type whose support brings the entry into the catalog
    const char* messageId;
    const char* subject;
};

constexpr CatalogMessage kCatalog[] = {
    {0xC0000002u, kEventError, "bc65bce6f62447c484c27c59c3bdcbe5", "error"},
    {0x80000001u, kEventWarning, "1f8faa9ca7de47b8b9a5b19408006cdf", "warning"},
    {0x40000000u, kEventInformation, "f730971d6bd74c9badc70dcf304389a5", "information"},
    {0x00000003u, 0, "d120b7d316be42eea4b01cd4042897c5", "success"},
};

}  // namespace

const char* MessageIdOf(std::uint32_t eventId) {
    for (const CatalogMessage& message : kCatalog) {
        if (message.eventId == eventId) {
            return message.messageId;
        }
    }
    return nullptr;
}

std::string CatalogText(const char* source, const char* messageFilePath,
                        std::uint32_t typesSupported) {
    std::string text =
        "# The messages of " + std::string(source) + ", installed for " + messageFilePath + ".\n";
    for (const CatalogMessage& message : kCatalog) {
        if ((message.type & typesSupported) == 0) {
            continue;
        }
        text += "\n-- ";
        text += message.messageId;
        text += "\nSubject: @MESSAGE@\nDefined-By: ";
        text += source;
        text += "\n\n";
        text += source;
        text += " reports ";
        text += message.subject;
        text += " event @EVENT_ID@:\n@MESSAGE@\n";
    }
    return text;
}

std::string CatalogPath(const char* source) {
    std::string name;
    for (const char* c = source; *c != '\0'; ++c) {
        name += static_cast<char>(*c >= 'A' && *c <= 'Z' ? *c - 'A' + 'a' : *c);
    }
    return std::string(kCatalogDirectory) + name + ".catalog";
}

}  // namespace posix

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

// Rebuilds the journal's catalog database from the catalog files; nothing is reported.
void UpdateCatalog() {
    char program[] = "journalctl";
    char option[] = "--update-catalog";
    char* argv[] = {program, option, nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t child = 0;
    if (posix_spawnp(&child, program, &actions, nullptr, argv, environ) == 0) {
        int status = 0;
        waitpid(child, &status, 0);
    }
    posix_spawn_file_actions_destroy(&actions);
}

}  // namespace

bool ReportEvent(const char* source, std::uint32_t type, std::uint32_t eventId,
                 const SecurityId* /*user*/, const char* text) {
    const char* messageId = posix::MessageIdOf(eventId);
    // Entries of an id without a catalog message carry no MESSAGE_ID.
    return sd_journal_send("MESSAGE=%s", text, "PRIORITY=%i", JournalPriority(type & 0xFFFFu),
                           "SYSLOG_IDENTIFIER=%s", source, "EVENT_ID=0x%08X", eventId,
                           messageId != nullptr ? "MESSAGE_ID=%s" : nullptr, messageId,
                           nullptr) >= 0;
}

void AddEventSource(const char* source, const char* messageFilePath, std::uint32_t typesSupported) {
    mkdir("/usr/local/lib/systemd", 0755);
    mkdir(posix::kCatalogDirectory, 0755);
    const std::string path = posix::CatalogPath(source);
    const std::string text = posix::CatalogText(source, messageFilePath, typesSupported);
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
        const bool written =
            write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        close(fd);
        if (written) {
            UpdateCatalog();
        }
    }
}

void RemoveEventSource(const char* source) {
    if (unlink(posix::CatalogPath(source).c_str()) == 0) {
        UpdateCatalog();
    }
}

}  // namespace platform
