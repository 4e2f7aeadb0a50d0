#include "platform/files.h"

#include <fcntl.h>
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

#include "platform/posix/errors_posix.h"
#include "platform/posix/files_posix.h"

namespace platform {

namespace {

// Opens a file for reading without blocking, whatever it is, and keeps it open only when it is a
// regular file: a FIFO or a device could block the reader or never end.
int OpenRegularForReading(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    struct stat status {};
    int error = 0;
    if (fstat(fd, &status) != 0) {
        error = errno;
    } else if (S_ISDIR(status.st_mode)) {
        error = EISDIR;
    } else if (!S_ISREG(status.st_mode)) {
        error = posix::kErrorNotRegularFile;
    }
    if (error != 0) {
        close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

// The whole content of an open file; nothing (with the last error set) on a read error.
std::optional<std::string> ReadAll(int fd) {
    std::string content;
    char chunk[65536];
    for (;;) {
        const ssize_t got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            return content;
        }
        content.append(chunk, static_cast<std::size_t>(got));
    }
}

std::optional<std::string> ReadRegularFile(const std::string& path) {
    const int fd = OpenRegularForReading(path);
    if (fd < 0) {
        return std::nullopt;
    }
    std::optional<std::string> content = ReadAll(fd);
    const int error = errno;
    close(fd);
    errno = error;
    return content;
}

}  // namespace

std::optional<std::string> ReadOrCreateFile(const std::string& path) {
    std::optional<std::string> content = ReadRegularFile(path);
    if (content || errno != ENOENT) {
        return content;
    }
    // Missing: created as a regular file at that very path, never through a dangling link. A
    // dangling link is no missing file but one that cannot be read: it names a file elsewhere.
    const int fd = open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    if (fd >= 0) {
        close(fd);
    } else if (errno == EEXIST) {
        errno = ENOENT;
        return std::nullopt;
    }
    return std::string();
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
    int fd = OpenRegularForReading(path);
    if (fd < 0 && errno == ENOENT) {
        // Missing: created as a regular file at that very path, never through a dangling link.
        fd = open(path.c_str(), O_RDONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC,
                  0644);
        if (fd < 0 && errno == EEXIST) {
            // Something is at the path after all: a file made meanwhile, which the plain open
            // reads, or a dangling link, which names a file elsewhere and is no regular file.
            fd = OpenRegularForReading(path);
            if (fd < 0 && errno == ENOENT) {
                errno = posix::kErrorNotRegularFile;
            }
        }
    }
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

bool LastErrorIsMissingPath() {
    return errno == ENOENT || errno == ENOTDIR;
}

bool CanReadRegularFile(const std::string& path) {
    const int fd = OpenRegularForReading(path);
    if (fd < 0) {
        return false;
    }
    close(fd);
    return true;
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

namespace posix {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r';
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) {
        text.remove_prefix(1);
    }
    while (!text.empty() && IsBlank(text.back())) {
        text.remove_suffix(1);
    }
    return text;
}

bool SameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && strncasecmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace

std::optional<std::string> FindProfileString(std::string_view bytes, std::string_view section,
                                             std::string_view key, std::size_t size) {
    bool inSection = false;
    while (!bytes.empty()) {
        const std::size_t end = bytes.find('\n');
        std::string_view line = Trim(bytes.substr(0, end));
        bytes.remove_prefix(end == std::string_view::npos ? bytes.size() : end + 1);
        if (line.empty() || line.front() == ';') {
            continue;
        }
        if (line.front() == '[') {
            line.remove_prefix(1);
            if (const std::size_t close = line.rfind(']'); close != std::string_view::npos) {
                line = line.substr(0, close);
            }
            inSection = SameName(Trim(line), section);
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos ||
            !SameName(Trim(line.substr(0, equals)), key)) {
            continue;
        }
        std::string_view value = Trim(line.substr(equals + 1));
        if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
            value.back() == value.front()) {
            value = value.substr(1, value.size() - 2);
        }
        // The caller's size counts the terminator, as with the Windows profile functions.
        return std::string(value.substr(0, size > 0 ? size - 1 : 0));
    }
    return std::nullopt;
}

}  // namespace posix

std::optional<std::string> ReadProfileString(const std::string& path, const char* section,
                                             const char* key, std::size_t size) {
    const std::optional<std::string> bytes = ReadRegularFile(path);
    if (!bytes) {
        return std::nullopt;
    }
    return posix::FindProfileString(*bytes, section, key, size);
}

class LogStream {
public:
    int m_fd = -1;
    // The file that was opened, to tell whether the path still names it.
    dev_t m_device = 0;
    ino_t m_inode = 0;
};

LogStream* OpenLogStream(const std::string& path) {
    // A link planted at the path is never followed, and nothing but a regular file of one link is
    // written: the open of a FIFO or a device does not block, and it is refused after it.
    const int fd =
        open(path.c_str(),
             O_RDWR | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
        return nullptr;
    }
    auto fail = [fd](int error) -> LogStream* {
        close(fd);
        errno = error;
        return nullptr;
    };
    struct stat status {};
    if (fstat(fd, &status) != 0) {
        return fail(errno);
    }
    if (!S_ISREG(status.st_mode)) {
        return fail(posix::kErrorNotRegularFile);
    }
    if (status.st_nlink != 1) {
        return fail(EMLINK);
    }
    off_t size = status.st_size;
    char last = 0;
    if (size > 0 && pread(fd, &last, 1, size - 1) == 1 && last == 0x1A) {
        // An end marker that cannot be removed would hide what follows from readers.
        if (ftruncate(fd, size - 1) != 0) {
            return fail(errno);
        }
        --size;
        last = size > 0 && pread(fd, &last, 1, size - 1) == 1 ? last : '\n';
    }
    if (size > 0 && last != '\n' && write(fd, "\n", 1) != 1) {
        // A record torn by a crash keeps a line of its own, and the next one starts a new line.
        return fail(errno);
    }
    auto* stream = new LogStream;
    stream->m_fd = fd;
    stream->m_device = status.st_dev;
    stream->m_inode = status.st_ino;
    return stream;
}

bool LogStreamReplaced(const LogStream* stream, const std::string& path) {
    struct stat status {};
    if (lstat(path.c_str(), &status) != 0) {
        return errno == ENOENT || errno == ENOTDIR;
    }
    return status.st_dev != stream->m_device || status.st_ino != stream->m_inode;
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
