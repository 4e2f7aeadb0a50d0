// Decoding of a syslog datagram and the record line that stores it.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "platform/socket.h"

namespace quenby {

// A row of the facility or severity table. The value of a facility is its number times 8, the
// place it has inside a priority value.
struct CodeName {
    const char* name;
    int value;
};

// Both tables end with a row without a name. Lookups take the first row with the value, so
// "security", "error", "panic" and "warning" never appear in a record.
extern const CodeName kFacilityNames[];
extern const CodeName kSeverityNames[];

struct DecodedMessage {
    const char* facility;
    const char* severity;
    std::string_view message;
};

// The number after the '<': leading white space skipped, one optional sign, decimal digits up to
// the first other character, wrapping at 32 bits; 0 when there is no digit.
std::int32_t ReadPriority(std::string_view text);

// Splits the priority prefix off a received text that holds no zero byte. Without a '<' or
// without a '>' the whole text is the message, of facility "user" and severity "info". Otherwise
// the number after the first '<' gives the names, "(null)" for a facility without a row, and the
// message is what follows the first '>'.
DecodedMessage DecodeDatagram(std::string_view text);

// "%b %d %H:%M:%S" with English month names whatever the locale: 15 characters and a zero.
void FormatTimestamp(const std::tm& local, char (&stamp)[16]);

// The dotted decimal form of an IPv4 address, without leading zeros.
void FormatAddress(const platform::IPv4Address& address, char (&text)[16]);

// The record line "<stamp> <address> <facility>.<severity> <message>" followed by one LF, which
// stands in for a final LF or CR LF of the message. Every other control character of the message
// is written as '#' and three octal digits, so that a sender can neither split its record into
// forged ones nor send control sequences to a terminal: the C0 controls but TAB, DEL, the C1
// controls 0x80 to 0x9F that are no part of a UTF-8 character, and both bytes of the UTF-8 forms
// of U+0080 to U+009F. Other UTF-8 characters and Latin-1 letters stay as they are.
void FormatRecordLine(std::string& line, std::string_view stamp, std::string_view address,
                      std::string_view facility, std::string_view severity,
                      std::string_view message);

}  // namespace quenby
