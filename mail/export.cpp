#include "mail/export.h"

#include "mail/bodypart.h"
#include "mail/files.h"
#include "search/FastStrings.h"

#include <cerrno>
#include <memory>
#include <stdexcept>
#include <system_error>

#ifdef _WIN32
#  ifndef NOMINMAX
#    define NOMINMAX
#  endif
// Leaves out commdlg.h, whose FindText macro would rename quillmend::FindText.
#  define WIN32_LEAN_AND_MEAN
#  include <windows.h>
#else
#  include <fcntl.h>
#  include <unistd.h>
#endif

namespace quillmend {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kWriteBuffer = std::size_t{1} << 20;

// An output file could not be made; unlike a mailbox error it fails one file, not the export.
class TOutputError : public TFileError {
public:
  using TFileError::TFileError;
};

// A new file, created exclusively: false with *exists set when the name is taken.
class TNewFile {
public:
  TNewFile(const fs::path& path, bool& exists) : FPath(path)
  {
#ifdef _WIN32
    FHandle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    FOpen = FHandle != INVALID_HANDLE_VALUE;
    exists = !FOpen && (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS);
#else
    FFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    FOpen = FFd >= 0;
    exists = !FOpen && errno == EEXIST;
#endif
    if (!FOpen)
      FError = LastSystemError();
  }
  ~TNewFile() { Close(); }
  TNewFile(const TNewFile&) = delete;
  TNewFile& operator=(const TNewFile&) = delete;

  bool IsOpen() const { return FOpen; }
  const std::string& Error() const { return FError; }

  void Write(std::string_view bytes)
  {
    while (!bytes.empty()) {
#ifdef _WIN32
      DWORD done = 0;
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 1u << 30));
      if (!WriteFile(FHandle, bytes.data(), want, &done, nullptr))
        throw TOutputError(LastSystemError());
#else
      const ssize_t done = ::write(FFd, bytes.data(), bytes.size());
      if (done < 0) {
        if (errno == EINTR)
          continue;
        throw TOutputError(LastSystemError());
      }
#endif
      bytes.remove_prefix(static_cast<std::size_t>(done));
    }
  }

  void Close()
  {
    if (!FOpen)
      return;
    FOpen = false;
#ifdef _WIN32
    if (!CloseHandle(FHandle))
      throw TOutputError(LastSystemError());
#else
    if (::close(FFd) != 0)
      throw TOutputError(LastSystemError());
#endif
  }

private:
  fs::path FPath;
  bool FOpen = false;
  std::string FError;
#ifdef _WIN32
  HANDLE FHandle;
#else
  int FFd = -1;
#endif
};

// The first free name among base + suffix(0), base + suffix(1), ...
template <class Name>
std::unique_ptr<TNewFile> CreateUnique(const fs::path& folder, Name name, fs::path& chosen)
{
  for (int attempt = 0; attempt < 1000; ++attempt) {
    bool exists = false;
    chosen = folder / name(attempt);
    auto file = std::make_unique<TNewFile>(chosen, exists);
    if (file->IsOpen())
      return file;
    if (!exists)
      throw TOutputError(file->Error());
  }
  throw TOutputError(std::system_category().message(EEXIST));
}

// A file written under a temporary name in its folder and renamed over its target on Commit.
class TReplacingFile {
public:
  TReplacingFile(const fs::path& folder, const std::string& name) : FTarget(folder / name)
  {
    FFile = CreateUnique(folder, [&](int k) { return "." + name + "." + std::to_string(k) + ".part"; }, FTemp);
  }
  ~TReplacingFile()
  {
    if (FFile) {
      try {
        FFile->Close();
      } catch (const TFileError&) {
      }
      std::error_code ignored;
      fs::remove(FTemp, ignored);
    }
  }
  TReplacingFile(const TReplacingFile&) = delete;
  TReplacingFile& operator=(const TReplacingFile&) = delete;

  void Write(std::string_view bytes) { FFile->Write(bytes); }

  void Commit()
  {
    FFile->Close();
#ifdef _WIN32
    // Replaces the target in one step, and a failure keeps the system's own reason, which the
    // runtime's rename would turn into a bare EACCES or EIO.
    if (!MoveFileExW(FTemp.c_str(), FTarget.c_str(), MOVEFILE_REPLACE_EXISTING))
      throw TOutputError(LastSystemError());
#else
    std::error_code ec;
    fs::rename(FTemp, FTarget, ec);
    if (ec)
      throw TOutputError(ec.message());
#endif
    FFile.reset();
  }

private:
  fs::path FTarget;
  fs::path FTemp;
  std::unique_ptr<TNewFile> FFile;
};

}  // namespace

void TFlagWordReplacer::Feed(std::string_view bytes, std::string& out)
{
  if (FCarry.empty()) {
    Process(bytes, out);
  } else {
    std::string text = std::move(FCarry);
    text.append(bytes);
    Process(text, out);
  }
}

void TFlagWordReplacer::Finish(std::string& out)
{
  out.append(FCarry);
  FCarry.clear();
}

void TFlagWordReplacer::Process(std::string_view text, std::string& out)
{
  static const TTextSearcher flagWord(kFlagWord, false);
  std::size_t done = 0;
  while (const std::int64_t at = flagWord.Find(text, static_cast<std::int64_t>(done) + 1)) {
    const auto match = static_cast<std::size_t>(at - 1);
    out.append(text.substr(done, match - done)).append(kFlagReplacement);
    done = match + kFlagWord.size();
  }
  // A match that starts in the last bytes may end in the next piece: hold them back.
  const std::size_t hold = kFlagWord.size() - 1;
  const std::size_t safe = std::max(done, text.size() > hold ? text.size() - hold : 0);
  out.append(text.substr(done, safe - done));
  FCarry.assign(text.substr(safe));
}

std::string ExportFileName(std::size_t index) { return "RecoveredEmail" + std::to_string(index) + ".eml"; }

bool ProbeFolder(const fs::path& folder)
{
  try {
    fs::path probe;
    auto file = CreateUnique(folder, [](int k) { return k == 0 ? std::string("check.DAT") : "check" + std::to_string(k) + ".DAT"; }, probe);
    file->Close();
    std::error_code ignored;
    fs::remove(probe, ignored);
    return true;
  } catch (const TFileError&) {
    return false;
  }
}

TExportReport ExportMessages(const fs::path& mailbox, const TEmailArray& emails, const std::vector<std::size_t>& indexes,
                             const fs::path& folder, TScanObserver* observer, const TFileIdentity* scanned)
{
  TObserverSession session(observer);
  TObserverFeed feed(observer);
  TExportReport report;
  if (indexes.empty())
    return report;
  TMailboxFile file(mailbox);
  if (scanned)
    file.ExpectUnchanged(*scanned);
  TRangeReader reader(file);
  std::string buffer;
  buffer.reserve(kWriteBuffer + kFlagWord.size());

  for (std::size_t done = 0; done < indexes.size(); ++done) {
    const std::size_t index = indexes[done];
    if (index >= emails.size())
      throw std::out_of_range("No message " + std::to_string(index) + " in \"" + PathText(mailbox) + "\"");
    const std::string name = ExportFileName(index);
    const TByteRange range = MessageRange(emails[index]);
    try {
      TReplacingFile out(folder, name);
      TFlagWordReplacer replacer;
      buffer.clear();
      const std::int64_t read = reader.Read(range, [&](std::string_view piece) {
        replacer.Feed(piece, buffer);
        if (buffer.size() >= kWriteBuffer) {
          out.Write(buffer);
          buffer.clear();
        }
        return true;
      });
      replacer.Finish(buffer);
      out.Write(buffer);
      out.Commit();
      if (read < range.Length())
        report.Failed.push_back({name, "the mailbox ends before the message does: " + std::to_string(read) + " of " +
                                           std::to_string(range.Length()) + " bytes written"});
      else
        ++report.Written;
    } catch (const TOutputError& e) {
      report.Failed.push_back({name, e.what()});
    }
    feed.Progress(static_cast<int>((done + 1) * 100 / indexes.size()));
    feed.Idle();
  }
  return report;
}

}  // namespace quillmend
