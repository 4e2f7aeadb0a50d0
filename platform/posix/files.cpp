#include "platform/files.h"

#include <fcntl.h>
#include <ini.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

std::optional<std::string> ReadOrCreateFile(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return std::nullopt;
    }
    std::string content;
    char chunk[65536];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            break;
        }
        content.append(chunk, static_cast<std::size_t>(got));
    }
    close(fd);
    return content;
}

namespace {

struct ProfileLookup {
    const char* section;
    const char* key;
    std::optional<std::string> value;
};

int TakeFirstMatch(void* user, const char* section, const char* name, const char* value) {
    auto* lookup = static_cast<ProfileLookup*>(user);
    // Section and key names are compared without regard to case, as profile readers always have;
    // the first occurrence of a key counts.
    if (!lookup->value && strcasecmp(section, lookup->section) == 0 &&
        strcasecmp(name, lookup->key) == 0) {
        lookup->value = value;
    }
    return 1;
}

}  // namespace

std::optional<std::string> ReadProfileString(const std::string& path, const char* section,
                                             const char* key) {
    ProfileLookup lookup{section, key, std::nullopt};
    // Lines that are no key (the permit list, for one) count as parse errors and are passed over.
    if (ini_parse(path.c_str(), TakeFirstMatch, &lookup) < 0) {
        return std::nullopt;
    }
    return lookup.value;
}

class LogStream {
public:
    int m_fd = -1;
};

LogStream* OpenLogStream(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return nullptr;
    }
    struct stat status {};
    char last = 0;
    if (fstat(fd, &status) == 0 && status.st_size > 0 &&
        pread(fd, &last, 1, status.st_size - 1) == 1 && last == 0x1A) {
        if (ftruncate(fd, status.st_size - 1) != 0) {
            // An end marker that cannot be removed hides what follows from readers.
            const int error = errno;
            close(fd);
            errno = error;
            return nullptr;
        }
    }
    auto* stream = new LogStream;
    stream->m_fd = fd;
    return stream;
}

bool AppendLogRecord(LogStream* stream, std::string_view line) {
    ssize_t written;
    do {
        written = write(stream->m_fd, line.data(), line.size());
    } while (written < 0 && errno == EINTR);
    if (written == static_cast<ssize_t>(line.size())) {
        return true;
    }
    if (written > 0) {
        // A full disk took part of the line: take the fragment back off the end, so that the
        // file never holds a partial record.
        struct stat status {};
        if (fstat(stream->m_fd, &status) == 0 && status.st_size >= written) {
            (void)ftruncate(stream->m_fd, status.st_size - written);
        }
        errno = ENOSPC;
    }
    return false;
}

void CloseLogStream(LogStream* stream) {
    close(stream->m_fd);
    delete stream;
}

}  // namespace platform
