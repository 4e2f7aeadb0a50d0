#include "daemon/record.h"

namespace quenby {

const CodeName kFacilityNames[] = {
    {"auth", 32},     {"authpriv", 80}, {"cron", 72},    {"daemon", 24},  {"ftp", 88},
    {"kern", 0},      {"lpr", 48},      {"mail", 16},    {"mark", 192},   {"news", 56},
    {"security", 32}, {"syslog", 40},   {"user", 8},     {"uucp", 64},    {"local0", 128},
    {"local1", 136},  {"local2", 144},  {"local3", 152}, {"local4", 160}, {"local5", 168},
    {"local6", 176},  {"local7", 184},  {nullptr, -1},
};

const CodeName kSeverityNames[] = {
    {"alert", 1}, {"crit", 2},    {"debug", 7},  {"emerg", 0},  {"err", 3},
    {"error", 3}, {"info", 6},    {"none", 16},  {"notice", 5}, {"panic", 0},
    {"warn", 4},  {"warning", 4}, {nullptr, -1},
};

namespace {

const char* LookUp(const CodeName* table, int value) {
    for (; table->name != nullptr; ++table) {
        if (table->value == value) {
            return table->name;
        }
    }
    return nullptr;
}

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

void PutTwoDigits(char* at, int value) {
    at[0] = static_cast<char>('0' + value / 10 % 10);
    at[1] = static_cast<char>('0' + value % 10);
}

}  // namespace

std::int32_t ReadPriority(std::string_view text) {
    std::size_t at = 0;
    while (at < text.size() && IsSpace(text[at])) {
        ++at;
    }
    const bool negative = at < text.size() && text[at] == '-';
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        ++at;
    }
    std::uint32_t value = 0;
    for (; at < text.size() && IsDigit(text[at]); ++at) {
        value = value * 10u + static_cast<std::uint32_t>(text[at] - '0');
    }
    if (negative) {
        value = 0u - value;
    }
    return static_cast<std::int32_t>(value);
}

DecodedMessage DecodeDatagram(std::string_view text) {
    const std::size_t open = text.find('<');
    const std::size_t close = text.find('>');
    if (open == std::string_view::npos || close == std::string_view::npos) {
        return {"user", "info", text};
    }
    // The digits end at the first character that is no digit, the '>' at the latest when it
    // follows the '<'.
    const auto priority = static_cast<std::uint32_t>(ReadPriority(text.substr(open + 1)));
    const char* facility = LookUp(kFacilityNames, static_cast<int>(priority & 0x3F8u));
    const char* severity = LookUp(kSeverityNames, static_cast<int>(priority & 7u));
    return {facility != nullptr ? facility : "(null)", severity, text.substr(close + 1)};
}

void FormatTimestamp(const std::tm& local, char (&stamp)[16]) {
    static const char kMonths[] = "JanFebMarAprMayJunJulAugSepOctNovDec";
    const int month = local.tm_mon >= 0 && local.tm_mon < 12 ? local.tm_mon : 0;
    stamp[0] = kMonths[month * 3];
    stamp[1] = kMonths[month * 3 + 1];
    stamp[2] = kMonths[month * 3 + 2];
    stamp[3] = ' ';
    PutTwoDigits(stamp + 4, local.tm_mday);
    stamp[6] = ' ';
    PutTwoDigits(stamp + 7, local.tm_hour);
    stamp[9] = ':';
    PutTwoDigits(stamp + 10, local.tm_min);
    stamp[12] = ':';
    PutTwoDigits(stamp + 13, local.tm_sec);
    stamp[15] = '\0';
}

void FormatAddress(const platform::IPv4Address& address, char (&text)[16]) {
    char* at = text;
    for (std::size_t i = 0; i < address.size(); ++i) {
        if (i > 0) {
            *at++ = '.';
        }
        const unsigned part = address[i];
        if (part >= 100) {
            *at++ = static_cast<char>('0' + part / 100);
        }
        if (part >= 10) {
            *at++ = static_cast<char>('0' + part / 10 % 10);
        }
        *at++ = static_cast<char>('0' + part % 10);
    }
    *at = '\0';
}

void FormatRecordLine(std::string& line, std::string_view stamp, std::string_view address,
                      std::string_view facility, std::string_view severity,
                      std::string_view message) {
    std::string_view end = "\n";
    if (message.ends_with("\r\n")) {
        end = "\r\n";
        message.remove_suffix(2);
    } else if (message.ends_with('\n')) {
        message.remove_suffix(1);
    }
    line.clear();
    line.append(stamp).append(1, ' ').append(address).append(1, ' ');
    line.append(facility).append(1, '.').append(severity).append(1, ' ');
    std::size_t plain = 0;
    for (std::size_t i = 0; i < message.size(); ++i) {
        const auto c = static_cast<unsigned char>(message[i]);
        if ((c >= 0x20 && c != 0x7F) || c == '\t') {
            continue;
        }
        line.append(message.substr(plain, i - plain));
        const char escape[4] = {'#', static_cast<char>('0' + (c >> 6)),
                                static_cast<char>('0' + ((c >> 3) & 7)),
                                static_cast<char>('0' + (c & 7))};
        line.append(escape, sizeof escape);
        plain = i + 1;
    }
    line.append(message.substr(plain));
    line.append(end);
}

}  // namespace quenby
