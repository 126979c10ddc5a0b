#include "tests/support/testfiles.h"

#include <atomic>
#include <fstream>
#include <random>
#include <stdexcept>

namespace quillmend {

void PrintTo(const TEmail& email, std::ostream* out)
{
  auto quoted = [](std::string_view s) {
    std::string q = "\"";
    for (const char c : s) {
      if (c == '\r')
        q += "\\r";
      else if (c == '\n')
        q += "\\n";
      else if (c == '\0')
        q += "\\0";
      else
        q += c;
    }
    return q + "\"";
  };
  *out << "{start " << email.StartOffset << ", body " << email.BodyOffset << ", end " << email.EndOffset << ", from "
       << quoted(email.From()) << ", to " << quoted(email.To()) << ", subject " << quoted(email.Subject()) << ", date "
       << quoted(email.Date()) << "}";
}

}  // namespace quillmend

namespace quillmend::test {

namespace fs = std::filesystem;

TTempDir::TTempDir()
{
  static std::atomic<int> counter{0};
  std::random_device seed;
  FPath = fs::temp_directory_path() / ("quillmend-test-" + std::to_string(seed()) + "-" + std::to_string(++counter));
  fs::create_directories(FPath);
}

TTempDir::~TTempDir()
{
  std::error_code ignored;
  fs::permissions(FPath, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(FPath, ignored);
}

fs::path TTempDir::Write(const std::string& name, std::string_view bytes) const
{
  const fs::path path = FPath / fs::path(std::u8string(name.begin(), name.end()));
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out)
    throw std::runtime_error("cannot write test file " + path.string());
  return path;
}

std::string ReadFile(const fs::path& path)
{
  std::ifstream in(path, std::ios::binary);
  if (!in)
    throw std::runtime_error("cannot read test file " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), {});
}

fs::path DataFile(const std::string& relative) { return fs::path(QUILLMEND_TEST_DATA) / relative; }

void OccupyEveryName(const std::filesystem::path& folder, const std::string& name)
{
  const std::size_t dot = name.rfind('.');
  const std::string stem = name.substr(0, dot), extension = name.substr(dot);
  std::filesystem::create_directories(folder / name);
  for (int k = 2; k <= 1000; ++k)
    std::filesystem::create_directory(folder / (stem + " (" + std::to_string(k) + ")" + extension));
}

}  // namespace quillmend::test
