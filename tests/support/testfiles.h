#pragma once
// Files for tests: a private temporary folder per test, removed afterwards, and the shipped mail folders.

#include "mail/Globals.h"

#include <filesystem>
#include <ostream>
#include <string>
#include <string_view>

namespace quillmend {
// Readable test failures for records.
void PrintTo(const TEmail& email, std::ostream* out);
}  // namespace quillmend

namespace quillmend::test {

class TTempDir {
public:
  TTempDir();
  ~TTempDir();
  TTempDir(const TTempDir&) = delete;
  TTempDir& operator=(const TTempDir&) = delete;

  const std::filesystem::path& Path() const { return FPath; }
  // Writes bytes to a file of that name in the folder and returns its path.
  std::filesystem::path Write(const std::string& name, std::string_view bytes) const;

private:
  std::filesystem::path FPath;
};

std::string ReadFile(const std::filesystem::path& path);

// Makes a folder at name in folder and at every name an output could take instead ("<stem> (2)<ext>"
// up to "(1000)"), so that writing a file of that name fails.
void OccupyEveryName(const std::filesystem::path& folder, const std::string& name);

// A file of the shipped test data, e.g. DataFile("eudora-windows-7.1/In.mbx").
std::filesystem::path DataFile(const std::string& relative);

}  // namespace quillmend::test
