// The journal's catalog of the POSIX back end, for the back end and its tests.
#pragma once

#include <cstdint>
#include <string>

namespace platform::posix {

// Where the catalog files of locally installed programs go.
inline constexpr const char kCatalogDirectory[] = "/usr/local/lib/systemd/catalog/";

// The MESSAGE_ID of the catalog message for an event id; null for an id without one.
const char* MessageIdOf(std::uint32_t eventId);

// The catalog file of a source: one entry for each message of a supported event type.
std::string CatalogText(const char* source, const char* messageFilePath,
                        std::uint32_t typesSupported);

// The catalog file's path: the source's name in lower case, then ".catalog".
std::string CatalogPath(const char* source);

}  // namespace platform::posix
