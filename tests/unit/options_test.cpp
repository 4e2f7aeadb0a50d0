#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service_host/ntservice.h"
#include "service_host/options.h"

namespace {

// Records which operation the command line reached instead of performing it.
class RecordingService : public CNTService {
public:
    RecordingService() : CNTService("Probe", nullptr) {}
    void Run(std::uint32_t, char**) override {}
    void Stop() override {}
    bool StartControlDispatcher() override { return Reached("dispatcher", 7); }
    bool InstallSelf() override { return Reached("install", 1); }
    bool RemoveSelf() override { return Reached("remove", 1); }
    bool StopInstalled() override { return Reached("stop", 0); }
    bool StartInstalled() override { return Reached("start", 0); }
    std::uint32_t RunStandalone(int, char**, bool hidden) override {
        Reached(hidden ? "hidden" : "console", 1);
        return 1;
    }

    std::string m_reached;

private:
    bool Reached(const char* what, int result) {
        m_reached = what;
        return result != 0;
    }
};

struct Arguments {
    explicit Arguments(std::vector<std::string> words) : m_words(std::move(words)) {
        m_words.insert(m_words.begin(), "quenby");
        for (std::string& word : m_words) {
            m_pointers.push_back(word.data());
        }
    }
    int Count() const { return static_cast<int>(m_pointers.size()); }
    char** Vector() { return m_pointers.data(); }

    std::vector<std::string> m_words;
    std::vector<char*> m_pointers;
};

TEST(DispatchCommandLine, ChoosesTheOperation) {
    struct Case {
        std::vector<std::string> words;
        std::string reached;
        bool standalone;
    };
    const Case cases[] = {
        {{}, "dispatcher", false},
        {{"-i"}, "install", false},
        {{"-u"}, "remove", false},
        {{"-s"}, "start", false},
        {{"-e"}, "stop", false},
        {{"-d"}, "console", true},
        {{"-f"}, "hidden", true},
        {{"-i", "-u"}, "remove", false},
        {{"-u", "-i"}, "install", false},
        {{"-i", "-d"}, "console", true},
        {{"-d", "-i"}, "console", true},
        {{"-install"}, "install", false},
        {{"-debug"}, "console", true},
        {{"-D"}, "dispatcher", false},
        {{"/d"}, "dispatcher", false},
        {{"d"}, "dispatcher", false},
        {{"-"}, "dispatcher", false},
        {{""}, "dispatcher", false},
        {{"-p", "-i"}, "dispatcher", false},
        {{"-x", "-s", "word", "-f"}, "hidden", true},
    };
    for (const Case& c : cases) {
        RecordingService service;
        Arguments arguments(c.words);
        service.DispatchCommandLine(arguments.Count(), arguments.Vector());
        const std::string line = testing::PrintToString(c.words);
        EXPECT_EQ(service.m_reached, c.reached) << line;
        EXPECT_EQ(service.m_standalone, c.standalone) << line;
    }
}

TEST(DispatchCommandLine, ReturnsTheOperationsResultAsExitCode) {
    struct Case {
        std::vector<std::string> words;
        std::uint32_t exitCode;
    };
    const Case cases[] = {{{}, 1}, {{"-i"}, 1}, {{"-e"}, 0}, {{"-d"}, 1}};
    for (const Case& c : cases) {
        RecordingService service;
        Arguments arguments(c.words);
        EXPECT_EQ(service.DispatchCommandLine(arguments.Count(), arguments.Vector()), c.exitCode);
    }
}

TEST(ScanCommandLine, AccountAndPassword) {
    struct Case {
        std::vector<std::string> words;
        const char* account;
        const char* password;
        service_host::Action action;
    };
    using service_host::Action;
    const Case cases[] = {
        {{"-lDOMAIN\\user", "-i"}, "DOMAIN\\user", nullptr, Action::InstallSelf},
        {{"-l", "DOMAIN\\user", "-i"}, "DOMAIN\\user", nullptr, Action::InstallSelf},
        {{"-psecret"}, nullptr, "secret", Action::StartControlDispatcher},
        {{"-p", "secret", "-i"}, nullptr, "secret", Action::InstallSelf},
        {{"-p", "-i"}, nullptr, "-i", Action::StartControlDispatcher},
        {{"-l", "a", "-l", "b"}, "b", nullptr, Action::StartControlDispatcher},
        // Nothing after the letter ends the scan with the value unset.
        {{"-i", "-l"}, nullptr, nullptr, Action::InstallSelf},
        {{"-p"}, nullptr, nullptr, Action::StartControlDispatcher},
        {{"-luser", "-d", "-psecret"}, "user", nullptr, Action::RunConsole},
    };
    for (const Case& c : cases) {
        Arguments arguments(c.words);
        const service_host::CommandLine line =
            service_host::ScanCommandLine(arguments.Count(), arguments.Vector());
        const std::string words = testing::PrintToString(c.words);
        EXPECT_EQ(line.action, c.action) << words;
        EXPECT_STREQ(line.accountName, c.account) << words;
        EXPECT_STREQ(line.password, c.password) << words;
    }
}

TEST(DispatchCommandLine, AccountPointsIntoTheArguments) {
    RecordingService service;
    Arguments arguments({"-l", "svc", "-pword", "-i"});
    service.DispatchCommandLine(arguments.Count(), arguments.Vector());
    EXPECT_EQ(service.m_accountName, arguments.m_pointers[2]);
    EXPECT_EQ(service.m_password, arguments.m_pointers[3] + 2);
}

}  // namespace
