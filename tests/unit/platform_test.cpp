// The POSIX back end of the platform layer, on real files and sockets.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/errors.h"
#include "platform/event.h"
#include "platform/files.h"
#include "platform/posix/files_posix.h"
#include "platform/socket.h"
#include "platform/system.h"
#include "tests/common/loopback.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class Scratch : public testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("quenby-platform-" +
                 std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    fs::path m_dir;
};

TEST_F(Scratch, LogStreamAppendsAfterTheTextEnd) {
    struct Case {
        std::string before;
        std::string after;
    };
    const Case cases[] = {
        {"", "one\n"},
        {"old\n", "old\none\n"},
        {"old\n\x1a", "old\none\n"},      // the end marker goes
        {"old\x1a\n", "old\x1a\none\n"},  // only a final one
        {"\x1a", "one\n"},
        // A record torn by a crash keeps its line, and the next record starts a new one.
        {"old\ntorn", "old\ntorn\none\n"},
        {"old\ntorn\x1a", "old\ntorn\none\n"},
        {"torn\r", "torn\r\none\n"},
    };
    for (const Case& c : cases) {
        const fs::path path = m_dir / "syslog.log";
        fs::remove(path);
        if (!c.before.empty()) {
            std::ofstream(path, std::ios::binary) << c.before;
        }
        platform::LogStream* stream = platform::OpenLogStream(path.string());
        ASSERT_NE(stream, nullptr);
        EXPECT_TRUE(platform::AppendLogRecord(stream, "one\n"));
        // Visible to a reader before the stream is closed.
        EXPECT_EQ(ReadAll(path), c.after);
        platform::CloseLogStream(stream);
    }
}

TEST_F(Scratch, LogStreamOpensOnlyARegularFileOfOneLink) {
    const fs::path outside = m_dir / "outside.sh";
    std::ofstream(outside, std::ios::binary) << "#!/bin/sh\n";
    fs::create_symlink(outside, m_dir / "link.log");
    fs::create_symlink(m_dir / "nowhere", m_dir / "dangling.log");
    fs::create_hard_link(outside, m_dir / "hard.log");
    fs::create_directory(m_dir / "dir.log");
    ASSERT_EQ(mkfifo((m_dir / "fifo.log").c_str(), 0644), 0);
    const std::pair<fs::path, std::string> cases[] = {
        {m_dir / "missing" / "syslog.log", "No such file or directory"},
        {m_dir / "link.log", "Too many levels of symbolic links"},
        {m_dir / "dangling.log", "Too many levels of symbolic links"},
        {m_dir / "hard.log", "Too many links"},
        {m_dir / "dir.log", "Is a directory"},
        {m_dir / "fifo.log", "Not a regular file"},  // and the open does not block
        {"/dev/null", "Not a regular file"},
    };
    for (const auto& [path, text] : cases) {
        errno = 0;
        EXPECT_EQ(platform::OpenLogStream(path.string()), nullptr) << path;
        EXPECT_EQ(platform::LastErrorMessage(), text + "\r\n") << path;
    }
    // Nothing was written through a link, nor created at its target.
    EXPECT_EQ(ReadAll(outside), "#!/bin/sh\n");
    EXPECT_FALSE(fs::exists(m_dir / "nowhere"));
}

TEST_F(Scratch, LogStreamKnowsWhenItsPathNamesAnotherFile) {
    const fs::path path = m_dir / "syslog.log";
    struct Case {
        const char* name;
        void (*change)(const fs::path& path);
        bool replaced;
    };
    const Case cases[] = {
        {"unchanged", [](const fs::path&) {}, false},
        {"written by another", [](const fs::path& p) { std::ofstream(p, std::ios::app) << "x"; },
         false},
        {"renamed", [](const fs::path& p) { fs::rename(p, p.string() + ".1"); }, true},
        {"renamed and created anew",
         [](const fs::path& p) {
             fs::rename(p, p.string() + ".1");
             std::ofstream(p) << "";
         },
         true},
        {"deleted", [](const fs::path& p) { fs::remove(p); }, true},
        {"replaced by a link",
         [](const fs::path& p) {
             fs::rename(p, p.string() + ".1");
             fs::create_symlink(p.string() + ".1", p);
         },
         true},
        {"directory gone", [](const fs::path& p) { fs::remove_all(p.parent_path()); }, true},
    };
    for (const Case& c : cases) {
        fs::create_directories(m_dir);
        fs::remove(path);
        platform::LogStream* stream = platform::OpenLogStream(path.string());
        ASSERT_NE(stream, nullptr) << c.name;
        c.change(path);
        EXPECT_EQ(platform::LogStreamReplaced(stream, path.string()), c.replaced) << c.name;
        platform::CloseLogStream(stream);
        fs::remove(path.string() + ".1");
    }
}

TEST_F(Scratch, MappedFileShowsItsBytesAndSurvivesShrinking) {
    const fs::path path = m_dir / "syslog.log";
    platform::MappedFile* empty = platform::MapSharedInput(path.string());
    ASSERT_NE(empty, nullptr);
    EXPECT_TRUE(fs::exists(path));  // created when missing
    EXPECT_EQ(platform::MappedSize(empty), 0u);
    platform::UnmapFile(empty);

    const std::string text(3 * 4096 + 100, 'x');
    std::ofstream(path, std::ios::binary) << text;
    platform::MappedFile* file = platform::MapSharedInput(path.string());
    ASSERT_NE(file, nullptr);
    ASSERT_EQ(platform::MappedSize(file), text.size());
    EXPECT_EQ(std::string(platform::MappedData(file), platform::MappedSize(file)), text);
    // Appending does not change the mapping; shrinking turns the lost part into zero bytes.
    std::ofstream(path, std::ios::binary | std::ios::app) << "more";
    fs::resize_file(path, 10);
    const std::string after(platform::MappedData(file), platform::MappedSize(file));
    EXPECT_EQ(after.substr(0, 10), text.substr(0, 10));
    EXPECT_EQ(after.substr(4096), std::string(after.size() - 4096, '\0'));
    platform::UnmapFile(file);

    EXPECT_EQ(platform::MapSharedInput((m_dir / "no" / "x.log").string()), nullptr);
}

TEST_F(Scratch, ReadOrCreateFile) {
    const fs::path path = m_dir / "Quenby.ini";
    EXPECT_EQ(platform::ReadOrCreateFile(path.string()), std::optional<std::string>(""));
    EXPECT_TRUE(fs::is_regular_file(path));
    std::ofstream(path, std::ios::binary) << "a\r\nb\x1a";
    EXPECT_EQ(platform::ReadOrCreateFile(path.string()), std::optional<std::string>("a\r\nb\x1a"));
    // Missing and impossible to create reads as empty: the file is not there to be read.
    EXPECT_EQ(platform::ReadOrCreateFile((m_dir / "no" / "Quenby.ini").string()),
              std::optional<std::string>(""));
    // A dangling link names a file that is not there to be read; its target is not created.
    fs::create_symlink(m_dir / "target.ini", m_dir / "link.ini");
    EXPECT_EQ(platform::ReadOrCreateFile((m_dir / "link.ini").string()), std::nullopt);
    EXPECT_EQ(platform::LastErrorMessage(), "No such file or directory\r\n");
    EXPECT_FALSE(fs::exists(m_dir / "target.ini"));
}

TEST_F(Scratch, ReadOrCreateFileRefusesWhatItCannotRead) {
    fs::create_directory(m_dir / "dir.ini");
    ASSERT_EQ(mkfifo((m_dir / "fifo.ini").c_str(), 0644), 0);
    const std::pair<fs::path, std::string> cases[] = {
        {m_dir / "dir.ini", "Is a directory"},
        {m_dir / "fifo.ini", "Not a regular file"},  // and the read does not block
        {"/dev/zero", "Not a regular file"},
    };
    for (const auto& [path, text] : cases) {
        EXPECT_EQ(platform::ReadOrCreateFile(path.string()), std::nullopt) << path;
        EXPECT_EQ(platform::LastErrorMessage(), text + "\r\n") << path;
    }
}

TEST(FindProfileString, ReadsLikeTheProfileFunctions) {
    struct Case {
        const char* name;
        std::string text;
        std::optional<std::string> value;
    };
    const std::string longDir = "/" + std::string(300, 'd') + "/";
    const Case cases[] = {
        {"plain", "[Syslog]\nLogDir=/var/log/\n", "/var/log/"},
        {"CR LF", "[Syslog]\r\nLogDir=/var/log/\r\nLogType=2\r\n", "/var/log/"},
        {"case of names", "[SYSLOG]\nlogdir=/x/\n", "/x/"},
        {"blanks around", "  [ Syslog ]  \n\t LogDir \t=  /x y/ \t\n", "/x y/"},
        {"indented key", "[Syslog]\n  LogDir=/x/\n", "/x/"},
        {"double quotes", "[Syslog]\nLogDir=\" /x/ \"\n", " /x/ "},
        {"single quotes", "[Syslog]\nLogDir='/x/'\n", "/x/"},
        {"one pair only", "[Syslog]\nLogDir=\"\"/x/\"\"\n", "\"/x/\""},
        {"unmatched quote", "[Syslog]\nLogDir=\"/x/\n", "\"/x/"},
        {"empty value", "[Syslog]\nLogDir=\n", ""},
        {"first wins", "[Syslog]\nLogDir=/a/\nLogDir=/b/\n[Syslog]\nLogDir=/c/\n", "/a/"},
        {"later section", "[Syslog]\nPort=1\n[Other]\n[Syslog]\nLogDir=/c/\n", "/c/"},
        {"other section", "[Other]\nLogDir=/a/\n", std::nullopt},
        {"before any section", "LogDir=/a/\n[Syslog]\n", std::nullopt},
        {"comment", "[Syslog]\n;LogDir=/a/\n  ; LogDir=/b/\n", std::nullopt},
        {"no inline comment", "[Syslog]\nLogDir=/a/ ; note\n", "/a/ ; note"},
        {"no continuation", "[Syslog]\nLogType=1\n  LogDir=/a/\n", "/a/"},
        {"line without =", "[Syslog]\nLogDir\n", std::nullopt},
        {"= in the value", "[Syslog]\nLogDir=/a=b/\n", "/a=b/"},
        {"no last line end", "[Syslog]\nLogDir=/a/", "/a/"},
        {"long line", "[Syslog]\nLogDir=" + longDir + "\n", longDir.substr(0, 258)},
        {"long line then key", "[Syslog]\nX=" + std::string(500, 'x') + "Port=1\nLogDir=/a/\n",
         "/a/"},
        {"key in the permit list", "[Syslog]\n[Permit]\nLogDir=/a/\n", std::nullopt},
        {"header without ]", "[Syslog\nLogDir=/a/\n", "/a/"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(platform::posix::FindProfileString(c.text, "Syslog", "LogDir", 259), c.value)
            << c.name;
    }
}

TEST_F(Scratch, ProfileStringsOfAFile) {
    const fs::path path = m_dir / "Quenby.ini";
    std::ofstream(path, std::ios::binary) << "[SYSLOG]\nlogdir = /var/log/ \n";
    EXPECT_EQ(platform::ReadProfileString(path.string(), "Syslog", "LogDir", 259),
              std::optional<std::string>("/var/log/"));
    EXPECT_EQ(platform::ReadProfileString(path.string(), "Syslog", "LogDir", 5),
              std::optional<std::string>("/var"));
    EXPECT_EQ(platform::ReadProfileString((m_dir / "none.ini").string(), "Syslog", "LogDir", 259),
              std::nullopt);
    EXPECT_FALSE(fs::exists(m_dir / "none.ini"));
}

// Sets an environment variable for the length of a scope, or unsets it for nullptr.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const char* value) : m_name(name) {
        if (const char* old = std::getenv(name)) {
            m_old = old;
        }
        value != nullptr ? setenv(name, value, 1) : unsetenv(name);
    }
    ~ScopedVariable() { m_old ? setenv(m_name, m_old->c_str(), 1) : unsetenv(m_name); }

private:
    const char* m_name;
    std::optional<std::string> m_old;
};

TEST(Directories, ConfigurationAndTemporaryDirectory) {
    struct Case {
        const char* value;
        std::string configDirectory;
        std::string tempDirectory;
    };
    const Case cases[] = {
        {nullptr, "/etc", "/tmp/"},
        {"", "/etc", "/tmp/"},
        {"/srv/quenby", "/srv/quenby", "/srv/quenby/"},
        {"/srv/quenby//", "/srv/quenby", "/srv/quenby//"},
        {"/", "/", "/"},
    };
    for (const Case& c : cases) {
        ScopedVariable config("QUENBY_CONFDIR", c.value);
        ScopedVariable temp("TMPDIR", c.value);
        EXPECT_EQ(platform::ConfigDirectory(), c.configDirectory) << (c.value ? c.value : "unset");
        EXPECT_EQ(platform::TempDirectory(), c.tempDirectory) << (c.value ? c.value : "unset");
    }
}

TEST(Event, ManualResetStaysSignalled) {
    platform::Event* event = platform::CreateManualResetEvent();
    ASSERT_NE(event, nullptr);
    EXPECT_FALSE(platform::WaitEvent(event, 0));
    EXPECT_FALSE(platform::WaitEvent(event, 10));
    std::thread signaller([event] { platform::SignalEvent(event); });
    EXPECT_TRUE(platform::WaitEvent(event, 5000));
    signaller.join();
    platform::SignalEvent(event);
    EXPECT_TRUE(platform::WaitEvent(event, 0));
    platform::CloseEvent(event);
}

class Loopback : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(platform::StartSockets(), 0);
        m_socket = platform::OpenUdpSocket();
        ASSERT_NE(m_socket, nullptr);
        m_port = loopback::FreeUdpPort();
        ASSERT_TRUE(platform::BindAnyAddress(m_socket, m_port));
        m_stop = platform::CreateManualResetEvent();
    }
    void TearDown() override {
        platform::CloseEvent(m_stop);
        platform::CleanupSockets();
    }

    void Send(const std::string& bytes, const char* from = "127.0.0.1") {
        loopback::SendDatagram(m_port, bytes, from);
    }

    platform::Socket* m_socket = nullptr;
    platform::Event* m_stop = nullptr;
    std::uint16_t m_port = 0;
};

TEST_F(Loopback, ReceivesWholeDatagramsAndDropsLongerOnes) {
    char buffer[1025] = {};
    platform::IPv4Address sender{};
    EXPECT_EQ(platform::WaitReadable(m_socket, m_stop, 0), 0);
    EXPECT_EQ(platform::ReceiveDatagram(m_socket, buffer, 1024, sender), platform::kNoDatagram);

    Send(std::string(1025, 'x'));
    Send(std::string(1024, 'y'), "127.0.0.2");
    Send("");
    ASSERT_GT(platform::WaitReadable(m_socket, m_stop, 5000), 0);
    EXPECT_EQ(platform::ReceiveDatagram(m_socket, buffer, 1024, sender), -1);
    EXPECT_EQ(errno, EMSGSIZE);
    EXPECT_EQ(platform::ReceiveDatagram(m_socket, buffer, 1024, sender), 1024);
    EXPECT_EQ(std::string(buffer, 1024), std::string(1024, 'y'));
    EXPECT_EQ(sender, (platform::IPv4Address{127, 0, 0, 2}));
    EXPECT_EQ(platform::ReceiveDatagram(m_socket, buffer, 1024, sender), 0);
    EXPECT_EQ(platform::ReceiveDatagram(m_socket, buffer, 1024, sender), platform::kNoDatagram);
}

TEST_F(Loopback, WaitEndsWhenTheStopIsSignalled) {
    std::thread stopper([this] { platform::SignalEvent(m_stop); });
    EXPECT_EQ(platform::WaitReadable(m_socket, m_stop, 5000), 0);
    stopper.join();
}

TEST_F(Loopback, PortInUseFailsToBind) {
    platform::Socket* second = platform::OpenUdpSocket();
    ASSERT_NE(second, nullptr);
    EXPECT_FALSE(platform::BindAnyAddress(second, m_port));
    EXPECT_EQ(errno, EADDRINUSE);
}

}  // namespace
