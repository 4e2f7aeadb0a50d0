// How the POSIX back end speaks to systemd: unit files, status notifications, unit states and the
// journal's catalog.
#include <gtest/gtest.h>

#include <string>

#include "platform/eventlog.h"
#include "platform/posix/eventlog_posix.h"
#include "platform/posix/service_posix.h"

namespace {

using platform::ServiceStatus;
using platform::posix::NotifyMessage;

ServiceStatus Report(std::uint32_t state, std::uint32_t checkPoint, std::uint32_t waitHint) {
    ServiceStatus status;
    status.currentState = state;
    status.checkPoint = checkPoint;
    status.waitHint = waitHint;
    return status;
}

TEST(NotifyMessage, OneNotificationPerReport) {
    struct Case {
        ServiceStatus status;
        std::string message;
    };
    const Case cases[] = {
        {Report(2, 5, 3000), "EXTEND_TIMEOUT_USEC=3000000\nSTATUS=Starting, check point 5"},
        {Report(4, 0, 3000), "READY=1\nSTATUS=Running"},
        {Report(3, 11, 5000),
         "STOPPING=1\nEXTEND_TIMEOUT_USEC=5000000\nSTATUS=Stopping, check point 11"},
        {Report(1, 0, 3000), "STATUS=Stopped"},
        {Report(6, 2, 3000), "EXTEND_TIMEOUT_USEC=3000000\nSTATUS=Pausing, check point 2"},
        {Report(5, 3, 3000), "EXTEND_TIMEOUT_USEC=3000000\nSTATUS=Continuing, check point 3"},
        // The time-out is counted in microseconds, past 32 bits.
        {Report(2, 1, 4294967), "EXTEND_TIMEOUT_USEC=4294967000\nSTATUS=Starting, check point 1"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NotifyMessage(c.status), c.message) << c.status.currentState;
    }
}

TEST(ServiceStateOf, UnitStatesAsServiceStates) {
    const std::pair<const char*, std::uint32_t> cases[] = {
        {"activating", 2}, {"active", 4}, {"reloading", 4},   {"deactivating", 3},
        {"inactive", 1},   {"failed", 1}, {"maintenance", 1},
    };
    for (const auto& [activeState, state] : cases) {
        EXPECT_EQ(platform::posix::ServiceStateOf(activeState), state) << activeState;
    }
}

TEST(UnitFile, StartsTheProgramAsANotifyingService) {
    platform::ServiceConfig config;
    config.serviceName = "Quenby";
    config.displayName = "Nolvane Syslog Server";
    config.binaryPath = "/usr/local/sbin/quenby";
    EXPECT_EQ(platform::posix::UnitName(config.serviceName), "quenby.service");
    const std::string common =
        "[Unit]\nDescription=Nolvane Syslog Server\nAfter=dbus.service\n\n[Service]\nType=notify\n"
        "ExecStart=/usr/local/sbin/quenby\nSuccessExitStatus=1\nNoNewPrivileges=yes\n";
    const std::string install = "\n[Install]\nWantedBy=multi-user.target\n";
    EXPECT_EQ(platform::posix::UnitFileText(config), common + install);
    config.accountName = "syslog";
    config.password = "ignored";
    EXPECT_EQ(platform::posix::UnitFileText(config),
              common + "User=syslog\nAmbientCapabilities=CAP_NET_BIND_SERVICE\n" + install);
}

TEST(Catalog, OneMessagePerSupportedType) {
    using platform::posix::MessageIdOf;
    EXPECT_STREQ(MessageIdOf(0xC0000002u), "bc65bce6f62447c484c27c59c3bdcbe5");
    EXPECT_STREQ(MessageIdOf(0x80000001u), "1f8faa9ca7de47b8b9a5b19408006cdf");
    EXPECT_STREQ(MessageIdOf(0x40000000u), "f730971d6bd74c9badc70dcf304389a5");
    EXPECT_STREQ(MessageIdOf(3u), "d120b7d316be42eea4b01cd4042897c5");
    EXPECT_EQ(MessageIdOf(0x40000001u), nullptr);

    EXPECT_EQ(platform::posix::CatalogPath("Quenby"),
              "/usr/local/lib/systemd/catalog/quenby.catalog");
    const std::string all = platform::posix::CatalogText("Quenby", "/usr/sbin/quenby", 7);
    for (const char* id : {"bc65bce6f62447c484c27c59c3bdcbe5", "1f8faa9ca7de47b8b9a5b19408006cdf",
                           "f730971d6bd74c9badc70dcf304389a5"}) {
        EXPECT_NE(all.find(std::string("\n-- ") + id + "\n"), std::string::npos) << id;
    }
    EXPECT_EQ(all.find("d120b7d316be42eea4b01cd4042897c5"), std::string::npos);
    const std::string errors =
        platform::posix::CatalogText("Quenby", "/usr/sbin/quenby", platform::kEventError);
    EXPECT_NE(errors.find("-- bc65bce6f62447c484c27c59c3bdcbe5\nSubject: @MESSAGE@\n"
                          "Defined-By: Quenby\n\nQuenby reports error event @EVENT_ID@:\n"
                          "@MESSAGE@\n"),
              std::string::npos)
        << errors;
    EXPECT_EQ(errors.find("-- 1f8faa9ca7de47b8b9a5b19408006cdf"), std::string::npos);
}

}  // namespace
