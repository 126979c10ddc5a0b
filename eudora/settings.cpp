#include "eudora/settings.h"

#include "base/ascii.h"
#include "base/readfile.h"
#include "eudora/markers.h"

#include <algorithm>

namespace quillmend {

std::map<std::string, std::string> ReadEudoraIni(const std::filesystem::path& folder)
{
  constexpr std::size_t kLongestLine = 4096;
  constexpr std::int64_t kLargest = std::int64_t{1} << 20;
  std::map<std::string, std::string> settings;
  // Only a regular file, and only its start: a FIFO or a device under the name is no settings file.
  const std::filesystem::path path = folder / "eudora.ini";
  std::error_code ec;
  if (!std::filesystem::is_regular_file(path, ec))
    return settings;
  std::string text;
  try {
    const TReadOnlyFile file(path);
    text.resize(static_cast<std::size_t>(std::min(file.Size(), kLargest)));
    text.resize(file.ReadAt(0, text.data(), text.size()));
  } catch (const TFileError&) {
    return settings;
  }
  for (const std::string_view view : SplitLines(text)) {
    const std::string line(view);
    const std::size_t equals = line.find('=');
    if (line.size() > kLongestLine || equals == std::string::npos || line.starts_with('[') ||
        line.starts_with(';'))
      continue;
    std::string value = line.substr(equals + 1);
    value.erase(value.find_last_not_of(" \t\r") + 1);
    // The first of a key counts, as the client reads it.
    settings.emplace(AsciiLowered(line.substr(0, equals)), ClientText(value));
  }
  return settings;
}

std::array<std::string, 7> LabelNames(const std::map<std::string, std::string>& settings)
{
  std::array<std::string, 7> names;
  for (std::size_t i = 0; i < names.size(); ++i) {
    const std::string number = std::to_string(i + 1);
    const auto set = settings.find("labeltext" + number);
    names[i] = set != settings.end() && !set->second.empty() ? set->second : "Label " + number;
  }
  return names;
}

}  // namespace quillmend
