#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "service_host/ntservice.h"
#include "service_host/status.h"

namespace {

using namespace service_host;

TEST(PrepareStatusReport, FollowsTheRecordRules) {
    struct Step {
        std::uint32_t state;
        std::uint32_t waitHint;
        std::uint32_t exitCode;
        // expected record
        std::uint32_t controls;
        std::uint32_t checkPoint;
        std::uint32_t win32Exit;
    };
    // One life: three start-pending reports, running, stop-pending, stopped, and a failure.
    const Step steps[] = {
        {kServiceStartPending, 3000, 0, 0, 1, 0},
        {kServiceStartPending, 3000, 0, 0, 2, 0},
        {kServiceStartPending, 3000, 0, 0, 3, 0},
        {kServiceRunning, 3000, 0, 5, 0, 0},
        {kServiceRunning, 3000, 0, 5, 0, 0},
        {kServiceStopPending, 5000, 0, 5, 4, 0},
        {kServicePausePending, 5000, 0, 5, 5, 0},
        {kServiceStopped, 3000, 0, 5, 0, 0},
        {kServiceStopPending, 5000, 42, 5, 6, kErrorServiceSpecificError},
        {kServiceStopped, 3000, 42, 5, 0, kErrorServiceSpecificError},
    };
    platform::ServiceStatus status;
    status.serviceType = kServiceWin32OwnProcess;
    std::uint32_t counter = 0;
    for (const Step& step : steps) {
        PrepareStatusReport(status, counter, 5, step.state, step.waitHint, step.exitCode);
        EXPECT_EQ(status.serviceType, kServiceWin32OwnProcess);
        EXPECT_EQ(status.currentState, step.state);
        EXPECT_EQ(status.waitHint, step.waitHint);
        EXPECT_EQ(status.controlsAccepted, step.controls) << step.state;
        EXPECT_EQ(status.checkPoint, step.checkPoint) << step.state;
        EXPECT_EQ(status.win32ExitCode, step.win32Exit);
        EXPECT_EQ(status.serviceSpecificExitCode, step.exitCode);
    }
    EXPECT_EQ(counter, 6u);
}

TEST(ChooseEventId, DefaultsByTypeAndKeepsExplicitIds) {
    struct Case {
        std::uint32_t type;
        std::uint32_t id;
        std::uint32_t chosen;
    };
    const Case cases[] = {
        {1, kDefaultEventId, 0xC0000002u},
        {2, kDefaultEventId, 0x80000001u},
        {4, kDefaultEventId, 0x40000000u},
        {8, kDefaultEventId, 0x40000000u},
        {16, kDefaultEventId, 0x40000000u},
        {0, kDefaultEventId, 0x40000000u},
        {0x10001, kDefaultEventId, 0xC0000002u},  // only the low 16 bits are the type
        {1, 3, 3},
        {2, 0x40000000u, 0x40000000u},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ChooseEventId(c.type, c.id), c.chosen) << c.type << " " << c.id;
    }
}

class QuietService : public CNTService {
public:
    QuietService() : CNTService("Probe", "Probe Display") {}
    void Run(std::uint32_t, char**) override {}
    void Stop() override {}
};

TEST(SetStatus, StandaloneReportsNothingAndSucceeds) {
    QuietService service;
    service.m_standalone = true;
    for (std::uint32_t state : {kServiceStartPending, kServiceRunning, kServiceStopPending}) {
        EXPECT_TRUE(service.SetStatus(state, 3000, 0));
    }
    EXPECT_EQ(service.m_checkPoint, 0u);
    EXPECT_EQ(service.m_status.currentState, 0u);
}

TEST(CNTService, ConstructorDefaults) {
    QuietService service;
    EXPECT_EQ(g_service, &service);
    EXPECT_STREQ(service.m_displayName, "Probe Display");
    EXPECT_EQ(service.m_status.serviceType, 0x10u);
    EXPECT_EQ(service.m_controlsAccepted, 1u);
    EXPECT_EQ(service.m_desiredAccess, 0xF01FFu);
    EXPECT_EQ(service.m_startType, 2u);
    EXPECT_EQ(service.m_errorControl, 1u);
    EXPECT_FALSE(service.m_standalone);
    EXPECT_TRUE(service.m_isNT);
}

TEST(CNTService, DestructorClearsTheGlobal) {
    { QuietService service; }
    EXPECT_EQ(g_service, nullptr);
}

TEST(FormatLastError, SystemTextWithoutLineEndWhenItFits) {
    QuietService service;
    const std::string text = std::strerror(ENOENT);
    // The system's text with its line end must leave 14 bytes to spare.
    const std::size_t fits = text.size() + 2 + 14;
    char buffer[256];
    errno = ENOENT;
    EXPECT_EQ(std::string(service.FormatLastError(buffer, fits)), text);
    errno = ENOENT;
    EXPECT_EQ(std::string(service.FormatLastError(buffer, fits - 1)), "");
    errno = 98765;  // a code the system has no text for
    EXPECT_EQ(std::string(service.FormatLastError(buffer, sizeof buffer)), "");
}

TEST(ServiceCtrlHandler, InterrogationReportsThePendingStopState) {
    QuietService service;
    CNTService::ServiceCtrlHandler(kServiceControlStop);
    EXPECT_EQ(service.m_status.currentState, kServiceStopPending);
    CNTService::ServiceCtrlHandler(kServiceControlShutdown);
    CNTService::ServiceCtrlHandler(200);
    EXPECT_EQ(service.m_status.currentState, kServiceStopPending);
    // No service manager takes the report here; the record is filled all the same.
    CNTService::ServiceCtrlHandler(kServiceControlInterrogate);
    EXPECT_EQ(service.m_status.currentState, kServiceStopPending);
    EXPECT_EQ(service.m_status.checkPoint, 1u);
    EXPECT_EQ(service.m_status.waitHint, 3000u);
}

}  // namespace
