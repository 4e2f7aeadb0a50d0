#include <gtest/gtest.h>

#include <string>

#include "daemon/record.h"

namespace {

struct DecodeCase {
    std::string text;
    std::string facility;
    std::string severity;
    std::string message;
};

TEST(DecodeDatagram, SplitsPriorityIntoNamesAndMessage) {
    const DecodeCase cases[] = {
        {"<34>su: root login failed", "auth", "crit", "su: root login failed"},
        {"hello", "user", "info", "hello"},
        {"<13>", "user", "notice", ""},
        {"<>x", "kern", "emerg", "x"},
        {"< 7>x", "kern", "debug", "x"},
        {"<\t\n\v\f\r 7>x", "kern", "debug", "x"},
        {"<#>x", "kern", "emerg", "x"},
        {"<13#>x", "user", "notice", "x"},
        {"<+13>x", "user", "notice", "x"},
        {"<191>x", "local7", "debug", "x"},
        {"<192>x", "mark", "emerg", "x"},
        {"<96>x", "(null)", "emerg", "x"},
        {"<200>x", "(null)", "emerg", "x"},
        {"<1024>x", "kern", "emerg", "x"},
        {"<-1>x", "(null)", "debug", "x"},
        {"<4294967309>x", "user", "notice", "x"},
        {"<80>x", "authpriv", "emerg", "x"},
        {"<32>x", "auth", "emerg", "x"},
        {"<44>x", "syslog", "warn", "x"},
        {"<27>x", "daemon", "err", "x"},
        {"ab<13>cd", "user", "notice", "cd"},
        {"<13>a<14>b", "user", "notice", "a<14>b"},
        {"x>y<5", "kern", "notice", "y<5"},
        {"a>b", "user", "info", "a>b"},
        {"a<13", "user", "info", "a<13"},
        {"", "user", "info", ""},
    };
    for (const DecodeCase& c : cases) {
        const quenby::DecodedMessage decoded = quenby::DecodeDatagram(c.text);
        EXPECT_EQ(decoded.facility, c.facility) << c.text;
        EXPECT_EQ(decoded.severity, c.severity) << c.text;
        EXPECT_EQ(decoded.message, c.message) << c.text;
    }
}

TEST(DecodeDatagram, EveryPriorityValueHasTheFirstNameOfItsRow) {
    // Names that lose to an earlier row with the same value never appear.
    for (int priority = 0; priority < 1024; ++priority) {
        const std::string text = "<" + std::to_string(priority) + ">m";
        const quenby::DecodedMessage decoded = quenby::DecodeDatagram(text);
        const std::string facility = decoded.facility;
        const std::string severity = decoded.severity;
        EXPECT_NE(facility, "security");
        EXPECT_TRUE(severity != "panic" && severity != "error" && severity != "warning" &&
                    severity != "none")
            << priority;
        if (priority >= 192 + 8) {
            EXPECT_EQ(facility, "(null)") << priority;
        }
    }
}

TEST(DecodeDatagram, DigitsStopAtTheEndOfTheView) {
    // The priority must not be read past the text it was given.
    const std::string buffer = "<13>x<99";
    const quenby::DecodedMessage decoded =
        quenby::DecodeDatagram(std::string_view(buffer).substr(0, 3));
    EXPECT_STREQ(decoded.facility, "user");  // "<13" has no '>'
    EXPECT_EQ(quenby::ReadPriority(std::string_view("123456", 2)), 12);
}

TEST(FormatTimestamp, UsesEnglishMonthsAndTwoDigitFields) {
    const char* months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    for (int month = 0; month < 12; ++month) {
        std::tm local{};
        local.tm_mon = month;
        local.tm_mday = 7;
        local.tm_hour = 4;
        local.tm_min = 5;
        local.tm_sec = 9;
        char stamp[16];
        quenby::FormatTimestamp(local, stamp);
        EXPECT_EQ(std::string(stamp), std::string(months[month]) + " 07 04:05:09");
    }
    std::tm late{};
    late.tm_mon = 11;
    late.tm_mday = 31;
    late.tm_hour = 23;
    late.tm_min = 59;
    late.tm_sec = 60;  // a leap second
    char stamp[16];
    quenby::FormatTimestamp(late, stamp);
    EXPECT_STREQ(stamp, "Dec 31 23:59:60");
}

TEST(FormatAddress, DottedDecimalWithoutLeadingZeros) {
    const std::pair<platform::IPv4Address, std::string> cases[] = {
        {{10, 1, 2, 3}, "10.1.2.3"},
        {{0, 0, 0, 0}, "0.0.0.0"},
        {{255, 255, 255, 255}, "255.255.255.255"},
        {{127, 0, 100, 9}, "127.0.100.9"},
    };
    for (const auto& [address, text] : cases) {
        char formatted[16];
        quenby::FormatAddress(address, formatted);
        EXPECT_EQ(formatted, text);
    }
}

struct LineCase {
    std::string message;
    std::string line;
};

TEST(FormatRecordLine, OneRecordOneLineWithoutControlCharacters) {
    const LineCase cases[] = {
        {"su: root login failed", "Mar 07 14:05:09 10.1.2.3 auth.crit su: root login failed\n"},
        {"", "Mar 07 14:05:09 10.1.2.3 auth.crit \n"},
        {"ends in LF\n", "Mar 07 14:05:09 10.1.2.3 auth.crit ends in LF\n"},
        {"ends in CR LF\r\n", "Mar 07 14:05:09 10.1.2.3 auth.crit ends in CR LF\n"},
        {"CR LF twice\r\n\r\n", "Mar 07 14:05:09 10.1.2.3 auth.crit CR LF twice#015#012\n"},
        {"two\n\n", "Mar 07 14:05:09 10.1.2.3 auth.crit two#012\n"},
        {"lone CR\r", "Mar 07 14:05:09 10.1.2.3 auth.crit lone CR#015\n"},
        {"a\nMar 07 14:05:10 10.1.2.3 auth.crit forged",
         "Mar 07 14:05:09 10.1.2.3 auth.crit a#012Mar 07 14:05:10 10.1.2.3 auth.crit forged\n"},
        {"\x1b[2J\x01\x1f\x7f", "Mar 07 14:05:09 10.1.2.3 auth.crit #033[2J#001#037#177\n"},
        {"tab\tstays, 100% \xc3\xa9t\xc3\xa9",
         "Mar 07 14:05:09 10.1.2.3 auth.crit tab\tstays, 100% \xc3\xa9t\xc3\xa9\n"},
        {"#012 is text", "Mar 07 14:05:09 10.1.2.3 auth.crit #012 is text\n"},
        // C1 controls: raw bytes, and U+0080 to U+009F written as UTF-8.
        {"\x9b"
         "31mred",
         "Mar 07 14:05:09 10.1.2.3 auth.crit #23331mred\n"},
        {"\x9d"
         "0;t\x9c",
         "Mar 07 14:05:09 10.1.2.3 auth.crit #2350;t#234\n"},
        {"\x80\x9f", "Mar 07 14:05:09 10.1.2.3 auth.crit #200#237\n"},
        {"NEL\xc2\x85here", "Mar 07 14:05:09 10.1.2.3 auth.crit NEL#302#205here\n"},
        {"\xc2\x80\xc2\x9f\xc2\xa0",
         "Mar 07 14:05:09 10.1.2.3 auth.crit #302#200#302#237\xc2\xa0\n"},
        // Continuation bytes 0x80 to 0x9F inside valid characters stay.
        {"\xe2\x82\xac \xf0\x9f\x98\x80 \xe4\xb8\x80 \xc4\x80",
         "Mar 07 14:05:09 10.1.2.3 auth.crit \xe2\x82\xac \xf0\x9f\x98\x80 \xe4\xb8\x80 "
         "\xc4\x80\n"},
        // Latin-1 letters stay; a C1 byte after a lead byte that starts no valid character does
        // not.
        {"caf\xe9 \xc0\xff", "Mar 07 14:05:09 10.1.2.3 auth.crit caf\xe9 \xc0\xff\n"},
        {"\xe9\x85", "Mar 07 14:05:09 10.1.2.3 auth.crit \xe9#205\n"},
        {"\xe2\x82", "Mar 07 14:05:09 10.1.2.3 auth.crit \xe2#202\n"},
        {"\xc0\x80", "Mar 07 14:05:09 10.1.2.3 auth.crit \xc0#200\n"},
        {"\xed\xa0\x80", "Mar 07 14:05:09 10.1.2.3 auth.crit \xed\xa0#200\n"},
        {"\xf4\x90\x80\x80", "Mar 07 14:05:09 10.1.2.3 auth.crit \xf4#220#200#200\n"},
        {"\xe0\x80\x80", "Mar 07 14:05:09 10.1.2.3 auth.crit \xe0#200#200\n"},
    };
    std::string line;
    for (const LineCase& c : cases) {
        quenby::FormatRecordLine(line, "Mar 07 14:05:09", "10.1.2.3", "auth", "crit", c.message);
        EXPECT_EQ(line, c.line);
    }
}

}  // namespace
