#include "platform/shell.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

namespace platform {

namespace fs = std::filesystem;

namespace {

// An XDG base directory: the variable's value, else the default below the home directory.
fs::path BaseDirectory(const char* variable, const char* underHome) {
    if (const char* value = std::getenv(variable); value != nullptr && *value == '/') {
        return value;
    }
    const char* home = std::getenv("HOME");
    return home != nullptr ? fs::path(home) / underHome : fs::path();
}

std::vector<fs::path> SearchDirectories(const char* variable, const char* fallback) {
    const char* value = std::getenv(variable);
    std::istringstream list(value != nullptr && *value != '\0' ? value : fallback);
    std::vector<fs::path> directories;
    for (std::string entry; std::getline(list, entry, ':');) {
        if (!entry.empty()) {
            directories.emplace_back(entry);
        }
    }
    return directories;
}

std::string DesktopFileName(const DocumentType& type) {
    std::string name = type.applicationName;
    std::transform(name.begin(), name.end(), name.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return name + ".desktop";
}

fs::path UserMimeApps() {
    return BaseDirectory("XDG_CONFIG_HOME", ".config") / "mimeapps.list";
}

fs::path IconPath(const DocumentType& type) {
    return BaseDirectory("XDG_DATA_HOME", ".local/share") / "icons/hicolor/32x32/apps" /
           fs::path(DesktopFileName(type)).replace_extension(".png");
}

std::vector<std::string> ReadLines(const fs::path& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

void WriteLines(const fs::path& path, const std::vector<std::string>& lines) {
    std::error_code error;
    fs::create_directories(path.parent_path(), error);
    std::ofstream out(path, std::ios::trunc);
    for (const std::string& line : lines) {
        out << line << '\n';
    }
}

// Whether a mimeapps.list names a default application for the type.
bool HasDefault(const fs::path& list, const std::string& mimeType) {
    bool inDefaults = false;
    for (const std::string& line : ReadLines(list)) {
        if (!line.empty() && line[0] == '[') {
            inDefaults = line == "[Default Applications]";
        } else if (inDefaults && line.starts_with(mimeType + "=")) {
            return true;
        }
    }
    return false;
}

bool ExtensionIsAssociated(const std::string& mimeType) {
    std::vector<fs::path> lists = {UserMimeApps()};
    for (const fs::path& dir : SearchDirectories("XDG_CONFIG_DIRS", "/etc/xdg")) {
        lists.push_back(dir / "mimeapps.list");
    }
    lists.push_back(BaseDirectory("XDG_DATA_HOME", ".local/share") / "applications/mimeapps.list");
    for (const fs::path& dir : SearchDirectories("XDG_DATA_DIRS", "/usr/local/share:/usr/share")) {
        lists.push_back(dir / "applications/mimeapps.list");
    }
    return std::any_of(lists.begin(), lists.end(),
                       [&](const fs::path& list) { return HasDefault(list, mimeType); });
}

}  // namespace

void RegisterDocumentType(const DocumentType& type) {
    const fs::path applications = BaseDirectory("XDG_DATA_HOME", ".local/share") / "applications";
    if (applications.empty()) {
        return;
    }
    std::error_code error;
    const fs::path icon = IconPath(type);
    fs::create_directories(icon.parent_path(), error);
    std::ofstream(icon, std::ios::binary | std::ios::trunc) << type.iconPng;

    const std::string exec = "\"" + type.programPath + "\"";
    WriteLines(applications / DesktopFileName(type),
               {"[Desktop Entry]", "Type=Application", "Name=" + type.applicationName,
                "GenericName=Log Viewer",
                "Comment=Shows a " + type.typeName + " (" + type.extension + ") newest first",
                "Exec=" + exec + " %f", "Icon=" + icon.string(), "Terminal=false",
                "MimeType=" + type.mimeType + ";", "Categories=System;Monitor;",
                "X-Document-Type=" + type.typeId, "Actions=Print;", "", "[Desktop Action Print]",
                "Name=Print", "Exec=" + exec + " /p %f"});

    if (ExtensionIsAssociated(type.mimeType)) {
        return;
    }
    std::vector<std::string> lines = ReadLines(UserMimeApps());
    const std::string entry = type.mimeType + "=" + DesktopFileName(type);
    const auto section = std::find(lines.begin(), lines.end(), "[Default Applications]");
    if (section == lines.end()) {
        lines.push_back("[Default Applications]");
        lines.push_back(entry);
    } else {
        lines.insert(section + 1, entry);
    }
    WriteLines(UserMimeApps(), lines);
}

void UnregisterDocumentType(const DocumentType& type) {
    std::error_code error;
    fs::remove(
        BaseDirectory("XDG_DATA_HOME", ".local/share") / "applications" / DesktopFileName(type),
        error);
    fs::remove(IconPath(type), error);

    std::vector<std::string> lines = ReadLines(UserMimeApps());
    const std::string entry = type.mimeType + "=" + DesktopFileName(type);
    const auto kept = std::remove(lines.begin(), lines.end(), entry);
    if (kept != lines.end()) {
        lines.erase(kept, lines.end());
        WriteLines(UserMimeApps(), lines);
    }
}

}  // namespace platform
