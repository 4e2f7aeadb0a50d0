// A received datagram through the decoding and the record line, as the daemon handles it. The
// record line goes into files that people read on terminals and that programs split into
// records, so whatever a sender puts into its datagram, the line must stay one line without
// control characters, and it must still say what was sent.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "daemon/record.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

constexpr std::size_t kMaxDatagram = 1024;
constexpr std::string_view kStamp = "Mar 07 14:05:09";
constexpr std::string_view kAddress = "10.1.2.3";

bool IsNamed(const quenby::CodeName* table, std::string_view name) {
    for (; table->name != nullptr; ++table) {
        if (name == table->name) {
            return true;
        }
    }
    return false;
}

// The length of the well-formed UTF-8 character at the start of the bytes, its code point in
// `code`; 0 when the bytes start none. Decoded from the bit patterns, so that it shares no logic
// with the daemon's table of second-byte ranges.
std::size_t DecodeUtf8(std::string_view bytes, std::uint32_t& code) {
    const auto lead = static_cast<unsigned char>(bytes[0]);
    std::size_t length;
    std::uint32_t smallest;
    if ((lead & 0xE0u) == 0xC0u) {
        length = 2;
        smallest = 0x80;
        code = lead & 0x1Fu;
    } else if ((lead & 0xF0u) == 0xE0u) {
        length = 3;
        smallest = 0x800;
        code = lead & 0x0Fu;
    } else if ((lead & 0xF8u) == 0xF0u) {
        length = 4;
        smallest = 0x10000;
        code = lead & 0x07u;
    } else {
        return 0;
    }
    if (bytes.size() < length) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<unsigned char>(bytes[i]);
        if ((next & 0xC0u) != 0x80u) {
            return 0;
        }
        code = (code << 6) | (next & 0x3Fu);
    }
    if (code < smallest || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
        return 0;
    }
    return length;
}

bool IsC0Control(unsigned char c) {
    return (c < 0x20 && c != '\t') || c == 0x7F;
}

// Checks that no C1 control reaches the line: neither a byte 0x80 to 0x9F outside a UTF-8
// character nor a character U+0080 to U+009F.
void CheckNoC1(std::string_view line) {
    std::size_t i = 0;
    while (i < line.size()) {
        const auto c = static_cast<unsigned char>(line[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        std::uint32_t code = 0;
        const std::size_t length = DecodeUtf8(line.substr(i), code);
        if (length > 0) {
            FUZZ_CHECK(code < 0x80 || code > 0x9F);
            i += length;
        } else {
            FUZZ_CHECK(c < 0x80 || c > 0x9F);
            ++i;
        }
    }
}

bool IsOctal(char c) {
    return c >= '0' && c <= '7';
}

// Undoes the "#ooo" escapes of a message part whose message held no '#', so that every '#' of
// the part starts an escape. Checks on the way that only bytes that had to be escaped were.
std::string Unescape(std::string_view part) {
    std::string bytes;
    std::size_t i = 0;
    while (i < part.size()) {
        if (part[i] != '#') {
            bytes += part[i++];
            continue;
        }
        FUZZ_CHECK(i + 4 <= part.size());
        FUZZ_CHECK(part[i + 1] >= '0' && part[i + 1] <= '3');
        FUZZ_CHECK(IsOctal(part[i + 2]) && IsOctal(part[i + 3]));
        const auto value = static_cast<unsigned char>((part[i + 1] - '0') * 64 +
                                                      (part[i + 2] - '0') * 8 + (part[i + 3] - '0'));
        bytes += static_cast<char>(value);
        i += 4;
    }
    return bytes;
}

// Every escaped byte is a control: C0 but TAB, DEL, a C1 byte, or the first byte of a C1
// control written in UTF-8, whose second byte is escaped right after it.
void CheckOnlyControlsEscaped(std::string_view part) {
    for (std::size_t i = 0; i + 4 <= part.size(); ++i) {
        if (part[i] != '#') {
            continue;
        }
        const std::string_view escape = part.substr(i, 4);
        if (escape == "#302") {
            FUZZ_CHECK(i + 8 <= part.size());
            const std::string_view second = part.substr(i + 4, 4);
            FUZZ_CHECK(second >= "#200" && second <= "#237");
            i += 7;
            continue;
        }
        const bool c0 = escape <= "#037" && escape != "#011";
        const bool del = escape == "#177";
        const bool c1 = escape >= "#200" && escape <= "#237";
        FUZZ_CHECK(c0 || del || c1);
        i += 3;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > kMaxDatagram) {
        // The receive discards a longer datagram whole.
        return 0;
    }
    // The daemon decodes the received bytes as a C string.
    const char* bytes = reinterpret_cast<const char*>(data);
    const auto text = std::string_view(bytes, size > 0 ? strnlen(bytes, size) : 0);

    const quenby::DecodedMessage decoded = quenby::DecodeDatagram(text);
    FUZZ_CHECK(decoded.facility != nullptr);
    FUZZ_CHECK(decoded.severity != nullptr);
    FUZZ_CHECK(IsNamed(quenby::kFacilityNames, decoded.facility) ||
               std::string_view(decoded.facility) == "(null)");
    FUZZ_CHECK(IsNamed(quenby::kSeverityNames, decoded.severity));
    // The message is the text after the first '>' when a '<' is there too, else all of it, and
    // it points into the received bytes.
    const std::size_t close = text.find('>');
    if (text.find('<') == std::string_view::npos || close == std::string_view::npos) {
        FUZZ_CHECK(std::string_view(decoded.facility) == "user");
        FUZZ_CHECK(std::string_view(decoded.severity) == "info");
        FUZZ_CHECK(decoded.message.data() == text.data());
        FUZZ_CHECK(decoded.message.size() == text.size());
    } else {
        FUZZ_CHECK(decoded.message.data() == text.data() + close + 1);
        FUZZ_CHECK(decoded.message.size() == text.size() - close - 1);
    }

    std::string line;
    quenby::FormatRecordLine(line, kStamp, kAddress, decoded.facility, decoded.severity,
                             decoded.message);

    std::string header;
    header.append(kStamp).append(" ").append(kAddress).append(" ");
    header.append(decoded.facility).append(".").append(decoded.severity).append(" ");
    FUZZ_CHECK(line.size() > header.size());
    FUZZ_CHECK(line.compare(0, header.size(), header) == 0);
    FUZZ_CHECK(line.size() <= header.size() + 4 * decoded.message.size() + 1);

    // One line: its only LF ends it, and no other C0 control or DEL is in it.
    FUZZ_CHECK(line.back() == '\n');
    const std::string_view body = std::string_view(line).substr(0, line.size() - 1);
    FUZZ_CHECK(body.find('\n') == std::string_view::npos);
    for (const char c : body) {
        FUZZ_CHECK(!IsC0Control(static_cast<unsigned char>(c)));
    }
    CheckNoC1(line);

    // Without a '#' of its own the message can be read back: the escapes undone give the message
    // without its final line end. (A literal "#012" in a message reads like an escaped LF.)
    std::string_view message = decoded.message;
    if (message.ends_with("\r\n")) {
        message.remove_suffix(2);
    } else if (message.ends_with('\n')) {
        message.remove_suffix(1);
    }
    const std::string_view part = body.substr(header.size());
    if (message.find('#') == std::string_view::npos) {
        FUZZ_CHECK(Unescape(part) == message);
        CheckOnlyControlsEscaped(part);
    } else {
        // At least the escapes only ever lengthen the message.
        FUZZ_CHECK(part.size() >= message.size());
    }
    return 0;
}
