// The POSIX back end of the platform layer, on real files and sockets.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "platform/errors.h"
#include "platform/event.h"
#include "platform/files.h"
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

TEST_F(Scratch, LogStreamFailsWithTheSystemsReason) {
    errno = 0;
    EXPECT_EQ(platform::OpenLogStream((m_dir / "missing" / "syslog.log").string()), nullptr);
    const std::optional<std::string> message = platform::LastErrorMessage();
    ASSERT_TRUE(message);
    EXPECT_EQ(*message, "No such file or directory\r\n");
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
    EXPECT_TRUE(fs::exists(path));
    std::ofstream(path, std::ios::binary) << "a\r\nb\x1a";
    EXPECT_EQ(platform::ReadOrCreateFile(path.string()), std::optional<std::string>("a\r\nb\x1a"));
    EXPECT_EQ(platform::ReadOrCreateFile((m_dir / "no" / "Quenby.ini").string()), std::nullopt);
}

TEST_F(Scratch, ProfileStrings) {
    const fs::path path = m_dir / "Quenby.ini";
    std::ofstream(path, std::ios::binary)
        << "[Other]\nLogDir=/wrong/\n[SYSLOG]\nlogdir = /var/log/ \nEmpty=\n[Permit]\n10.1.1.5\n";
    EXPECT_EQ(platform::ReadProfileString(path.string(), "Syslog", "LogDir"),
              std::optional<std::string>("/var/log/"));
    EXPECT_EQ(platform::ReadProfileString(path.string(), "Syslog", "Empty"),
              std::optional<std::string>(""));
    EXPECT_EQ(platform::ReadProfileString(path.string(), "Syslog", "Missing"), std::nullopt);
    EXPECT_EQ(platform::ReadProfileString((m_dir / "none.ini").string(), "Syslog", "LogDir"),
              std::nullopt);
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
