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

namespace {

// The length of the valid UTF-8 sequence that starts at the text's beginning: 2 to 4, or 0 when it
// starts none (no lead byte, a missing or wrong continuation, an overlong form, a surrogate, or a
// code point past U+10FFFF).
std::size_t Utf8SequenceLength(std::string_view text) {
    const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
    const unsigned char lead = byte(0);
    std::size_t length;
    // The range the second byte must lie in; it excludes the overlong forms, the surrogates and
    // what lies past U+10FFFF.
    unsigned char low = 0x80;
    unsigned char high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (text.size() < length || byte(1) < low || byte(1) > high) {
        return 0;
    }
    for (std::size_t i = 2; i < length; ++i) {
        if (byte(i) < 0x80 || byte(i) > 0xBF) {
            return 0;
        }
    }
    return length;
}

void AppendEscaped(std::string& line, unsigned char c) {
    const char escape[4] = {'#', static_cast<char>('0' + (c >> 6)),
                            static_cast<char>('0' + ((c >> 3) & 7)),
                            static_cast<char>('0' + (c & 7))};
    line.append(escape, sizeof escape);
}

}  // namespace

void FormatRecordLine(std::string& line, std::string_view stamp, std::string_view address,
                      std::string_view facility, std::string_view severity,
                      std::string_view message) {
    // The record's own line end replaces the message's, whichever the sender used.
    if (message.ends_with("\r\n")) {
        message.remove_suffix(2);
    } else if (message.ends_with('\n')) {
        message.remove_suffix(1);
    }
    line.clear();
    line.append(stamp).append(1, ' ').append(address).append(1, ' ');
    line.append(facility).append(1, '.').append(severity).append(1, ' ');
    std::size_t plain = 0;
    std::size_t i = 0;
    while (i < message.size()) {
        const auto c = static_cast<unsigned char>(message[i]);
        std::size_t escaped = 0;
        if (c < 0x20) {
            escaped = c == '\t' ? 0 : 1;
        } else if (c == 0x7F || (c >= 0x80 && c <= 0x9F)) {
            // DEL, and a C1 control byte that is not part of a UTF-8 character.
            escaped = 1;
        } else if (c >= 0xC2) {
            const std::size_t length = Utf8SequenceLength(message.substr(i));
            if (length == 2 && c == 0xC2 && static_cast<unsigned char>(message[i + 1]) <= 0x9F) {
                // U+0080 to U+009F, the C1 controls written as UTF-8.
                escaped = 2;
            } else if (length > 0) {
                i += length;
                continue;
            }
            // Otherwise a Latin-1 letter, kept as it is.
        }
        if (escaped == 0) {
            ++i;
            continue;
        }
        line.append(message.substr(plain, i - plain));
        for (std::size_t k = 0; k < escaped; ++k) {
            AppendEscaped(line, static_cast<unsigned char>(message[i + k]));
        }
        i += escaped;
        plain = i;
    }
    line.append(message.substr(plain));
    line.append(1, '\n');
}

}  // namespace quenby
