#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "daemon/syslogcfg.h"

namespace {

namespace fs = std::filesystem;

const char kWarning[] = "Warning. No [Permit] addresses. LogType set to 1\r\n";

// A configuration directory of its own for each test.
class ConfigDirectory : public testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() /
                ("quenby-cfg-" +
                 std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(m_dir);
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }

    void Write(const std::string& bytes) {
        std::ofstream(m_dir / "Quenby.ini", std::ios::binary) << bytes;
    }

    // Loads the configuration and returns what the load printed.
    std::string Load() {
        testing::internal::CaptureStdout();
        m_config.emplace(m_dir.string(), "/tmp/default/");
        return testing::internal::GetCapturedStdout();
    }

    fs::path m_dir;
    std::optional<SyslogCfg> m_config;
};

struct FixtureCase {
    std::string fixture;
    int logType;
    int rotateLogs;
    std::string logDir;
    std::vector<std::string> permit;
    std::uint16_t port;
};

TEST_F(ConfigDirectory, LoadsFixtureFiles) {
    using Permit = std::vector<std::string>;
    const FixtureCase cases[] = {
        {"by-address.ini", 2, 1, "/var/log/quenby/", Permit{"10.1.1.5", "10.1.1.7"}, 514},
        {"crlf.ini", 2, 0, "C:\\Logs\\", Permit{"10.1.1.5", "10.1.1.6  ", "[Other]", "Key=1"}, 514},
        {"marker-without-entries.ini", 1, 0, "/tmp/default/", Permit{}, 514},
        {"lower-case-marker.ini", 1, 0, "/tmp/default/", Permit{}, 514},
        {"odd-values.ini", 1, 0, "", Permit{"10.1.1.9", "[Permit]"}, 514},
        {"syslog-after-permit.ini", 2, 1, "/tmp/default/",
         Permit{"10.1.1.5", "[Syslog]", "LogType=2", "RotateLogs=1", "Port=5514"}, 5514},
    };
    for (const FixtureCase& c : cases) {
        std::ifstream fixture(std::string(QUENBY_FIXTURES) + "/" + c.fixture, std::ios::binary);
        Write(std::string(std::istreambuf_iterator<char>(fixture), {}));
        const std::string printed = Load();
        EXPECT_EQ(m_config->m_configPath, (m_dir / "Quenby.ini").string());
        EXPECT_EQ(m_config->m_logType, c.logType) << c.fixture;
        EXPECT_EQ(m_config->m_rotateLogs, c.rotateLogs) << c.fixture;
        EXPECT_EQ(m_config->m_logDir, c.logDir) << c.fixture;
        EXPECT_EQ(m_config->m_permit, c.permit) << c.fixture;
        EXPECT_EQ(m_config->m_port, c.port) << c.fixture;
        EXPECT_EQ(printed, c.permit.empty() ? kWarning : "") << c.fixture;
    }
}

TEST_F(ConfigDirectory, MissingFileGetsDefaultsAndIsCreatedEmpty) {
    const std::string printed = Load();
    EXPECT_EQ(printed, kWarning);
    EXPECT_EQ(m_config->m_logType, 1);
    EXPECT_EQ(m_config->m_rotateLogs, 0);
    EXPECT_EQ(m_config->m_logDir, "/tmp/default/");
    EXPECT_TRUE(m_config->m_permit.empty());
    EXPECT_EQ(m_config->m_port, 514);
    ASSERT_TRUE(fs::is_regular_file(m_dir / "Quenby.ini"));
    EXPECT_EQ(fs::file_size(m_dir / "Quenby.ini"), 0u);
    EXPECT_EQ(m_config->m_readError, "");
}

TEST_F(ConfigDirectory, ValuesOfTheSyslogSection) {
    struct Case {
        std::string lines;
        int logType;
        int rotateLogs;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"LogType=0\nRotateLogs=0\nPort=0", 1, 0, 514},
        {"LogType=2\nRotateLogs=1\nPort=65535", 2, 1, 65535},
        {"LogType=-2\nRotateLogs=-1\nPort=-5514", 1, 0, 514},
        {"LogType = 2 \nRotateLogs=1 ; daily\nPort=1", 2, 1, 1},
        {"LogType=4294967298\nRotateLogs=1x\nPort=5514abc", 2, 1, 5514},
        {"LogType=2\nLogType=1\nPort=65536", 2, 0, 514},
    };
    for (const Case& c : cases) {
        Write("[Syslog]\n" + c.lines + "\n[Permit]\n10.1.1.5\n");
        Load();
        EXPECT_EQ(m_config->m_logType, c.logType) << c.lines;
        EXPECT_EQ(m_config->m_rotateLogs, c.rotateLogs) << c.lines;
        EXPECT_EQ(m_config->m_port, c.port) << c.lines;
    }
}

TEST_F(ConfigDirectory, LongAndOddLines) {
    const std::string dir258 = "/" + std::string(256, 'd') + "/";
    const std::string dir300 = "/" + std::string(298, 'd') + "/";
    struct Case {
        std::string syslog;
        std::string logDir;
        std::uint16_t port;
    };
    const Case cases[] = {
        {"LogDir=" + dir258, dir258, 514},
        {"LogDir=" + dir300, dir300.substr(0, 258), 514},
        // A long line is one line: what follows its 199th character is no key of its own.
        {"LogDir=/" + std::string(191, 'd') + "Port=15541",
         "/" + std::string(191, 'd') + "Port=15541", 514},
        {"  LogDir=/x/\n\tPort=5514", "/x/", 5514},
        {"LogDir=\"/quoted dir/\"", "/quoted dir/", 514},
    };
    for (const Case& c : cases) {
        Write("[Syslog]\n" + c.syslog + "\n[Permit]\n10.1.1.5\n");
        Load();
        EXPECT_EQ(m_config->m_logDir, c.logDir) << c.syslog;
        EXPECT_EQ(m_config->m_port, c.port) << c.syslog;
        EXPECT_EQ(m_config->m_permit, std::vector<std::string>{"10.1.1.5"});
        EXPECT_EQ(m_config->m_readError, "");
    }
}

TEST_F(ConfigDirectory, UnreadableFileIsRemembered) {
    // A directory in the file's place: no key can be read and the line pass fails, which the load
    // remembers with the system's text instead of passing for a missing file.
    fs::create_directory(m_dir / "Quenby.ini");
    EXPECT_EQ(Load(), kWarning);
    EXPECT_EQ(m_config->m_readError, "Is a directory");
    EXPECT_EQ(m_config->m_logType, 1);
    EXPECT_EQ(m_config->m_permit, std::vector<std::string>{});
}

TEST(ReadPermitList, LinePass) {
    using Permit = std::vector<std::string>;
    const std::string longLine(1500, 'a');
    const std::string fullLine(1022, 'b');
    struct Case {
        std::string bytes;
        Permit permit;
    };
    const Case cases[] = {
        {"[Permit]\n10.1.1.5\n#10.1.1.6\n\n10.1.1.7", Permit{"10.1.1.5", "10.1.1.7"}},
        {"[Permit]\r\n10.1.1.5\r\n", Permit{"10.1.1.5"}},
        {"[Permit]\n10.1.1.5\r\r\n lone\rCR \n", Permit{"10.1.1.5\r", " lone\rCR "}},
        {"[Permit]\n" + longLine + "\n", Permit{longLine.substr(0, 1022), longLine.substr(1022)}},
        {"[Permit]\n" + fullLine + "\nnext\n", Permit{fullLine, "next"}},
        {"[Permit]\n" + fullLine + "\r\nnext\n", Permit{fullLine, "next"}},
        {"[Permit]\n10.1.1.5\x1a\n10.1.1.7\n", Permit{"10.1.1.5"}},
        {"\x1a[Permit]\n10.1.1.5\n", Permit{}},
        {"[PERMIT]\n10.1.1.5\n", Permit{}},
        {" [Permit]\n10.1.1.5\n", Permit{}},
        {"#[Permit]\n10.1.1.5\n", Permit{}},
        {"[Permit]", Permit{}},
        {"[Permit]x\n[Permit]\n10.1.1.5\n10.1.1.5\n", Permit{"[Permit]", "10.1.1.5", "10.1.1.5"}},
        {"", Permit{}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(quenby::ReadPermitList(c.bytes), c.permit) << testing::PrintToString(c.bytes);
    }
}

}  // namespace
