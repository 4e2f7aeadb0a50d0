// Any bytes as Quenby.ini, loaded the way the daemon loads it at start. Whatever the file holds,
// the daemon must end up with a configuration it can run on: a known log type, a port it can
// bind, a log directory that fits its buffers, and permit entries that are addresses as written.

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>

#include "daemon/syslogcfg.h"
#include "platform/posix/files_posix.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

const std::string kDefaultLogDir = "/tmp/default/";

std::string g_directory;
std::string g_file;

void RemoveDirectory() {
    unlink(g_file.c_str());
    rmdir(g_directory.c_str());
}

// A directory of the process's own under $TMPDIR (scripts/fuzz.sh sets it, and removes what a
// crash leaves there), else in memory when the system offers /dev/shm, since the target rewrites
// the file for every input.
std::string MakeDirectory() {
    const char* tmp = std::getenv("TMPDIR");
    std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "/dev/shm";
    if (access(base.c_str(), W_OK) != 0) {
        base = "/tmp";
    }
    std::string pattern = base + "/quenby-fuzz-config-XXXXXX";
    if (mkdtemp(pattern.data()) == nullptr) {
        std::perror(("fuzz_config: mkdtemp under " + base).c_str());
        std::abort();
    }
    return pattern;
}

void WriteFile(const std::string& path, std::string_view bytes) {
    const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    FUZZ_CHECK(fd >= 0);
    while (!bytes.empty()) {
        const ssize_t written = write(fd, bytes.data(), bytes.size());
        FUZZ_CHECK(written > 0);
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    FUZZ_CHECK(close(fd) == 0);
}

bool HasSyslogKey(std::string_view bytes, const char* key) {
    return platform::posix::FindProfileString(bytes, "Syslog", key, 64).has_value();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    // The configuration warns on the console when it has no permit list, which would flood the
    // fuzzer's output; libFuzzer itself writes to stderr.
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::perror("fuzz_config: /dev/null");
        std::abort();
    }
    g_directory = MakeDirectory();
    g_file = g_directory + "/Quenby.ini";
    std::atexit(RemoveDirectory);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    WriteFile(g_file, bytes);

    const SyslogCfg config(g_directory, kDefaultLogDir);
    FUZZ_CHECK(config.m_configPath == g_file);
    FUZZ_CHECK(config.m_readError.empty());
    FUZZ_CHECK(config.m_logType == 1 || config.m_logType == 2);
    FUZZ_CHECK(config.m_rotateLogs == 0 || config.m_rotateLogs == 1);
    FUZZ_CHECK(config.m_port >= 1);
    FUZZ_CHECK(config.m_logDir.size() <= quenby::kMaxLogDirLength);
    // One file per sender needs senders.
    FUZZ_CHECK(!config.m_permit.empty() || config.m_logType == 1);

    // Missing keys give the defaults.
    if (!HasSyslogKey(bytes, "LogType")) {
        FUZZ_CHECK(config.m_logType == 1);
    }
    if (!HasSyslogKey(bytes, "RotateLogs")) {
        FUZZ_CHECK(config.m_rotateLogs == 0);
    }
    if (!HasSyslogKey(bytes, "Port")) {
        FUZZ_CHECK(config.m_port == 514);
    }

    // Permit entries are lines of the text as written, which ends at a byte 0x1A.
    const std::string_view text = bytes.substr(0, bytes.find('\x1A'));
    if (!config.m_permit.empty()) {
        FUZZ_CHECK(text.find("[Permit]") != std::string_view::npos);
    }
    for (const std::string& entry : config.m_permit) {
        FUZZ_CHECK(!entry.empty());
        FUZZ_CHECK(entry.front() != '#');
        FUZZ_CHECK(entry.find('\n') == std::string::npos);
        FUZZ_CHECK(entry.size() <= 1022);
        FUZZ_CHECK(text.find(entry) != std::string_view::npos);
    }

    // The profile reader on the bytes agrees with what the configuration read from the file.
    const std::optional<std::string> logDir = platform::posix::FindProfileString(
        bytes, "Syslog", "LogDir", quenby::kMaxLogDirLength + 1);
    if (logDir) {
        FUZZ_CHECK(logDir->size() <= quenby::kMaxLogDirLength);
        FUZZ_CHECK(logDir->find('\n') == std::string::npos);
        FUZZ_CHECK(config.m_logDir == *logDir);
    } else {
        FUZZ_CHECK(config.m_logDir == kDefaultLogDir);
    }
    return 0;
}
