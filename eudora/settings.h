#pragma once
// Eudora's own settings file, eudora.ini at the top of its folder: where it put attachments, and
// what the user called the labels.

#include <array>
#include <filesystem>
#include <map>
#include <string>

namespace quillmend {

// The key=value lines of eudora.ini in folder, keys in lower case, values as UTF-8 (Windows Eudora
// writes the file in the system's code page). Empty when there is no such regular file. Only its
// first MiB is read, and no line past a sane length.
std::map<std::string, std::string> ReadEudoraIni(const std::filesystem::path& folder);

// The names of labels 1 to 7: LabelText1..7 of the settings, the client's own names where unset.
std::array<std::string, 7> LabelNames(const std::map<std::string, std::string>& settings);

}  // namespace quillmend
