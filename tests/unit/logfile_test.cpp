#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "daemon/logfile.h"

namespace {

std::tm Date(int year, int month, int day, int hour = 12) {
    std::tm local{};
    local.tm_year = year - 1900;
    local.tm_mon = month - 1;
    local.tm_mday = day;
    local.tm_hour = hour;
    local.tm_isdst = -1;
    std::mktime(&local);  // fills in the day of the year
    return local;
}

TEST(DatePrefix, MonthDayYearWithFullStop) {
    EXPECT_EQ(quenby::DatePrefix(Date(2000, 9, 20)), "09-20-2000.");
    EXPECT_EQ(quenby::DatePrefix(Date(2026, 12, 31)), "12-31-2026.");
    EXPECT_EQ(quenby::DatePrefix(Date(2024, 2, 29)), "02-29-2024.");
}

TEST(LogFileNames, OneFileOrOnePerPermitEntry) {
    const std::vector<std::string> permit = {"10.1.1.5", "10.1.1.7", "10.1.1.5"};
    using Names = std::vector<std::string>;
    EXPECT_EQ(quenby::LogFileNames(1, permit, ""), Names{"syslog.log"});
    EXPECT_EQ(quenby::LogFileNames(1, permit, "09-20-2000."), Names{"09-20-2000.syslog.log"});
    EXPECT_EQ(quenby::LogFileNames(2, permit, ""),
              (Names{"10.1.1.5.log", "10.1.1.7.log", "10.1.1.5.log"}));
    EXPECT_EQ(
        quenby::LogFileNames(2, permit, "09-20-2000."),
        (Names{"09-20-2000.10.1.1.5.log", "09-20-2000.10.1.1.7.log", "09-20-2000.10.1.1.5.log"}));
}

TEST(ChooseLogFile, TheEntryEqualToTheSender) {
    const std::vector<std::string> permit = {"10.0.0.12", "110.0.0.1", "10.0.0.1", "10.0.0.1"};
    struct Case {
        int logType;
        std::string address;
        std::size_t index;
    };
    const Case cases[] = {
        {2, "10.0.0.1", 2},  // not the earlier files whose names contain the address
        {2, "10.0.0.12", 0}, {2, "110.0.0.1", 1},   {2, "10.0.0.2", std::string::npos},
        {1, "10.0.0.1", 0},  {1, "192.168.0.1", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(quenby::ChooseLogFile(c.logType, permit, c.address), c.index) << c.address;
    }
}

TEST(IsNewDay, ComparesTheWholeDate) {
    struct Case {
        std::tm opened;
        std::tm now;
        bool rotate;
    };
    const Case cases[] = {
        {Date(2000, 9, 20, 0), Date(2000, 9, 20, 23), false},
        {Date(2000, 9, 20, 23), Date(2000, 9, 21, 0), true},
        {Date(2026, 12, 31), Date(2027, 1, 1), true},
        {Date(2024, 2, 28), Date(2024, 2, 29), true},
        {Date(2024, 2, 29), Date(2024, 3, 1), true},
        // The same day of the year a year later is another day.
        {Date(2001, 9, 20), Date(2002, 9, 20), true},
        // A clock set back to an earlier day renews the set too.
        {Date(2000, 9, 21), Date(2000, 9, 20), true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(quenby::IsNewDay(c.opened, c.now), c.rotate)
            << quenby::DatePrefix(c.opened) << " -> " << quenby::DatePrefix(c.now);
    }
}

}  // namespace
