#include "platform/files.h"

#include <fcntl.h>
#include <ini.h>
#include <signal.h>
#include <strings.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <mutex>

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

// The mapped files. A file that shrinks while it is mapped makes reading its former end fault;
// the fault handler then puts a page of zeros in its place, so that the reader sees zero bytes.
struct MappedRange {
    std::atomic<std::uintptr_t> begin{0};
    std::atomic<std::uintptr_t> end{0};
};
constexpr std::size_t kMaxMappings = 64;
MappedRange g_mappings[kMaxMappings];
std::uintptr_t g_pageSize = 4096;

void OnBusError(int /*signal*/, siginfo_t* info, void* /*context*/) {
    const auto address = reinterpret_cast<std::uintptr_t>(info->si_addr);
    for (const MappedRange& range : g_mappings) {
        if (address >= range.begin.load() && address < range.end.load()) {
            void* page = reinterpret_cast<void*>(address & ~(g_pageSize - 1));
            if (mmap(page, g_pageSize, PROT_READ, MAP_PRIVATE | MAP_ANONYMOUS | MAP_FIXED, -1, 0) !=
                MAP_FAILED) {
                return;
            }
        }
    }
    // Not a mapped file's: the default action ends the process when the access is repeated.
    signal(SIGBUS, SIG_DFL);
}

bool TrackMapping(const char* data, std::size_t size) {
    static std::once_flag installed;
    std::call_once(installed, [] {
        g_pageSize = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
        struct sigaction action {};
        action.sa_sigaction = OnBusError;
        action.sa_flags = SA_SIGINFO;
        sigemptyset(&action.sa_mask);
        sigaction(SIGBUS, &action, nullptr);
    });
    for (MappedRange& range : g_mappings) {
        std::uintptr_t free = 0;
        if (range.begin.compare_exchange_strong(free, reinterpret_cast<std::uintptr_t>(data))) {
            range.end = reinterpret_cast<std::uintptr_t>(data) + size;
            return true;
        }
    }
    return false;
}

void ForgetMapping(const char* data) {
    for (MappedRange& range : g_mappings) {
        if (range.begin.load() == reinterpret_cast<std::uintptr_t>(data)) {
            range.end = 0;
            range.begin = 0;
        }
    }
}

}  // namespace

class MappedFile {
public:
    const char* m_data = nullptr;
    std::size_t m_size = 0;
};

MappedFile* MapSharedInput(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0) {
        return nullptr;
    }
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return nullptr;
    }
    auto* file = new MappedFile;
    if (status.st_size > 0) {
        const auto size = static_cast<std::size_t>(status.st_size);
        // The pages are faulted in at once: the reader goes through all of them.
        void* data = mmap(nullptr, size, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd, 0);
        if (data == MAP_FAILED || !TrackMapping(static_cast<const char*>(data), size)) {
            const int error = data == MAP_FAILED ? errno : EMFILE;
            if (data != MAP_FAILED) {
                munmap(data, size);
            }
            close(fd);
            delete file;
            errno = error;
            return nullptr;
        }
        file->m_data = static_cast<const char*>(data);
        file->m_size = size;
    }
    close(fd);
    return file;
}

const char* MappedData(const MappedFile* file) {
    return file->m_data;
}

std::size_t MappedSize(const MappedFile* file) {
    return file->m_size;
}

void UnmapFile(MappedFile* file) {
    if (file->m_data != nullptr) {
        ForgetMapping(file->m_data);
        munmap(const_cast<char*>(file->m_data), file->m_size);
    }
    delete file;
}

std::optional<FileStatus> ReadFileStatus(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) != 0) {
        return std::nullopt;
    }
    auto nanoseconds = [](const timespec& time) {
        return static_cast<std::int64_t>(time.tv_sec) * 1000000000 + time.tv_nsec;
    };
    FileStatus result;
    // The system keeps no creation time; the last change of the status comes closest.
    result.creationTime = nanoseconds(status.st_ctim);
    result.lastWriteTime = nanoseconds(status.st_mtim);
    result.lastAccessTime = nanoseconds(status.st_atim);
    result.size = static_cast<std::int64_t>(status.st_size);
    if (S_ISDIR(status.st_mode)) {
        result.attribute |= 0x10;
    }
    if ((status.st_mode & 0222) == 0) {
        result.attribute |= 0x01;
    }
    char* resolved = realpath(path.c_str(), nullptr);
    result.fullPath = resolved != nullptr ? resolved : path;
    std::free(resolved);
    return result;
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
