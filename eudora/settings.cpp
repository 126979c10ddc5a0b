#include "eudora/settings.h"

#include "base/ascii.h"
#include "base/text.h"
#include "search/codepage.h"

#include <fstream>

namespace quillmend {

std::map<std::string, std::string> ReadEudoraIni(const std::filesystem::path& folder)
{
  constexpr std::size_t kLongestLine = 4096;
  constexpr int kMostLines = 100000;
  std::map<std::string, std::string> settings;
  std::ifstream ini(folder / "eudora.ini", std::ios::binary);
  std::string line;
  for (int lines = 0; lines < kMostLines && std::getline(ini, line); ++lines) {
    const std::size_t equals = line.find('=');
    if (line.size() > kLongestLine || equals == std::string::npos || line.starts_with('[') ||
        line.starts_with(';'))
      continue;
    std::string value = line.substr(equals + 1);
    value.erase(value.find_last_not_of(" \t\r") + 1);
    if (!IsUtf8BeyondAscii(value))
      value = MailToUtf8(value, TCodePage::Windows);
    // The first of a key counts, as the client reads it.
    settings.emplace(AsciiLowered(line.substr(0, equals)), std::move(value));
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
