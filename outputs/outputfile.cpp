#include "outputs/outputfile.h"

#include "outputs/newfile.h"

#include <algorithm>
#include <cerrno>
#include <functional>
#include <system_error>

namespace quillmend {

namespace fs = std::filesystem;

namespace {

constexpr int kNameAttempts = 1000;
constexpr const char* kKeptReason = "it is the mailbox being read, or its index: choose another name";

// The first free name among name(0), name(1), ...
template <class Name>
std::unique_ptr<TNewFile> CreateUnique(const fs::path& folder, Name name, unsigned mode, bool locked)
{
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    bool exists = false;
    auto file = std::make_unique<TNewFile>(folder / name(attempt), mode, locked, exists);
    if (file->IsOpen())
      return file;
    if (!exists)
      throw TOutputError(file->Error());
  }
  throw TOutputError(SystemErrorText(EEXIST));
}

std::string TemporaryName(const std::string& name, int k) { return "." + name + "." + std::to_string(k) + ".part"; }

// Whether entry is ".<name>.<k>.part" as TemporaryName makes it, for a name that named accepts.
bool IsTemporaryName(std::string_view entry, const std::function<bool(std::string_view name)>& named)
{
  constexpr std::string_view kEnd = ".part";
  if (!entry.starts_with('.') || !entry.ends_with(kEnd))
    return false;
  entry = entry.substr(1, entry.size() - 1 - kEnd.size());
  const std::size_t dot = entry.rfind('.');
  if (dot == std::string_view::npos || dot + 1 == entry.size() ||
      entry.find_first_not_of("0123456789", dot + 1) != std::string_view::npos)
    return false;
  return named(entry.substr(0, dot));
}

// "<stem><ext>", then "<stem> (2)<ext>", "<stem> (3)<ext>", ...
std::string NumberedName(const std::string& name, int attempt)
{
  if (attempt == 0)
    return name;
  const std::size_t dot = name.rfind('.');
  const std::size_t cut = dot == std::string::npos || dot == 0 ? name.size() : dot;
  return name.substr(0, cut) + " (" + std::to_string(attempt + 1) + ")" + name.substr(cut);
}

// folder, unless target is one of kept. Throws TOutputError.
const fs::path& Unkept(const fs::path& folder, const fs::path& target, const TKeptFiles& kept)
{
  if (kept.Holds(target))
    throw TOutputError(kKeptReason);
  return folder;
}

}  // namespace

bool ProbeFolder(const fs::path& folder, std::string* reason)
{
  try {
    auto file = CreateUnique(
        folder, [](int k) { return k == 0 ? std::string("check.DAT") : "check" + std::to_string(k) + ".DAT"; }, 0666,
        false);
    const fs::path probe = file->Path();
    file.reset();
    std::error_code ignored;
    fs::remove(probe, ignored);
    return true;
  } catch (const TFileError& e) {
    if (reason)
      *reason = e.what();
    return false;
  }
}

void PrepareFolder(const fs::path& folder, bool create)
{
  const fs::path target = folder.empty() ? fs::path(".") : folder;
  std::error_code ec;
  if (create)
    fs::create_directories(target, ec);
  std::string reason;
  if (!ProbeFolder(target, &reason))
    throw TFileError(FileErrorMessage("Cannot write to folder", folder, ec ? ec.message() : reason));
}

TTemporaryFile::TTemporaryFile(const fs::path& folder, const std::string& name, unsigned mode)
    : FFolder(folder), FFile(CreateUnique(
                           folder, [&](int k) { return TemporaryName(name, k); }, mode, true))
{
}

TTemporaryFile::~TTemporaryFile()
{
  if (!FNamed)
    FFile->Discard();
}

void TTemporaryFile::Write(std::string_view bytes) { FFile->Write(bytes); }

void TTemporaryFile::Sync() { FFile->Sync(); }

void TTemporaryFile::SetModified(std::int64_t seconds) { FFile->SetModified(seconds); }

std::int64_t TTemporaryFile::Size() const { return FFile->Size(); }

void TTemporaryFile::TruncateTo(std::int64_t size) { FFile->TruncateTo(size); }

std::string TTemporaryFile::Commit(const std::string& target, bool replace, const TKeptFiles& kept)
{
  for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
    const std::string name = NumberedName(target, attempt);
    if (replace && kept.Holds(FFolder / name))
      throw TOutputError(kKeptReason);
    if (FFile->MoveTo(FFolder / name, replace)) {
      FNamed = true;
      return name;
    }
    if (FFile->SameBytesAs(FFolder / name))
      return name;
  }
  throw TOutputError(SystemErrorText(EEXIST));
}

void TKeptFiles::Add(const TFileIdentity& file) { FFiles.push_back(file); }

void TKeptFiles::Add(const fs::path& file)
{
  try {
    Add(TReadOnlyFile(file).Identity());
  } catch (const TFileError&) {  // not there, or nothing an output could take the place of
  }
}

bool TKeptFiles::Holds(const fs::path& file) const
{
  if (FFiles.empty())
    return false;
  try {
    const TFileIdentity there = TReadOnlyFile(file).Identity();
    return std::any_of(FFiles.begin(), FFiles.end(),
                       [&](const TFileIdentity& f) { return SameFile(f, there); });
  } catch (const TFileError&) {
    return false;
  }
}

void RemoveStaleTemporaries(const fs::path& folder, const std::function<bool(std::string_view name)>& named)
{
  std::error_code ec;
  for (fs::directory_iterator entry(folder, ec), end; !ec && entry != end; entry.increment(ec))
    if (IsTemporaryName(PathText(entry->path().filename()), named))
      RemoveIfStale(entry->path());
}

TOutputFile::TOutputFile(const fs::path& target, unsigned mode, TKeptFiles kept)
try : FFolder(target.parent_path().empty() ? fs::path(".") : target.parent_path()), FName(PathText(target.filename())),
    FKept(std::move(kept)), FFile(Unkept(FFolder, target, FKept), FName, mode) {
  RemoveStaleTemporaries(FFolder, [&](std::string_view name) { return name == FName; });
} catch (const TOutputError& e) {
  throw TFileError(FileErrorMessage("Cannot create file", target, e.what()));
}

TOutputFile::~TOutputFile() = default;

void TOutputFile::Write(std::string_view bytes)
{
  try {
    FFile.Write(bytes);
  } catch (const TOutputError& e) {
    throw TFileError(FileErrorMessage("Cannot write file", FFolder / FName, e.what()));
  }
}

std::int64_t TOutputFile::Size() const { return FFile.Size(); }

void TOutputFile::TruncateTo(std::int64_t size)
{
  try {
    FFile.TruncateTo(size);
  } catch (const TOutputError& e) {
    throw TFileError(FileErrorMessage("Cannot write file", FFolder / FName, e.what()));
  }
}

std::string TOutputFile::Commit(bool replace)
{
  try {
    FFile.Sync();
    const std::string name = FFile.Commit(FName, replace, FKept);
    SyncFolder(FFolder);
    return name;
  } catch (const TOutputError& e) {
    throw TFileError(FileErrorMessage("Cannot write file", FFolder / FName, e.what()));
  }
}

}  // namespace quillmend
