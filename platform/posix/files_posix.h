// The profile reader of the POSIX back end, on bytes, for its tests.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace platform::posix {

// The value of a key in a section of an INI text, read as the Windows profile functions read it:
// lines of any length with LF or CR LF ends; blanks around section names, keys and values dropped;
// section and key names compared without regard to case; the first occurrence of the key in a
// section of that name counts; one pair of enclosing quotes removed; a line that starts with ';'
// is a comment; a line without '=' is no key. The value is cut to size - 1 characters. Nothing
// when the key is not there.
std::optional<std::string> FindProfileString(std::string_view bytes, std::string_view section,
                                             std::string_view key, std::size_t size);

}  // namespace platform::posix
