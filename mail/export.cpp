#include "mail/export.h"

#include "mail/bodypart.h"
#include "mail/files.h"
#include "search/FastStrings.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
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
#  include <sys/file.h>
#  include <sys/stat.h>
#  include <unistd.h>
#endif

namespace quillmend {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kWriteBuffer = std::size_t{1} << 20;
constexpr std::size_t kCompareBlock = std::size_t{64} << 10;
constexpr int kNameAttempts = 1000;
// Temporary files held open (and locked) until their batch is flushed: well below the usual limit
// of 1,024 descriptors.
constexpr std::size_t kBatchFiles = 256;
constexpr std::int64_t kBatchBytes = std::int64_t{64} << 20;

// An output file could not be made; unlike a mailbox error it fails one file, not the export.
class TOutputError : public TFileError {
public:
  using TFileError::TFileError;
};

#ifndef _WIN32
// An open descriptor, closed once.
class TFd {
public:
  explicit TFd(int fd) : FFd(fd) {}
  ~TFd()
  {
    if (FFd >= 0)
      ::close(FFd);
  }
  TFd(const TFd&) = delete;
  TFd& operator=(const TFd&) = delete;
  int Get() const { return FFd; }

private:
  int FFd;
};
#endif

// Reads up to count bytes at offset, fewer only at the end. Throws TOutputError.
std::size_t ReadAt(TNativeFile file, std::int64_t offset, char* buffer, std::size_t count)
{
  const std::int64_t got = ReadAtOffset(file, offset, buffer, count);
  if (got < 0)
    throw TOutputError(LastSystemError());
  return static_cast<std::size_t>(got);
}

// A new file, created exclusively: not open, with exists set, when the name is taken. A locked file
// holds an advisory lock for as long as it is open, which tells a cleaner it is still being written.
class TNewFile {
public:
  TNewFile(const fs::path& path, unsigned mode, bool locked, bool& exists) : FPath(path)
  {
#ifdef _WIN32
    // Without FILE_SHARE_DELETE nobody can delete it while it is open: that is the lock.
    (void)mode;
    (void)locked;
    FHandle = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                          FILE_ATTRIBUTE_NORMAL, nullptr);
    FOpen = FHandle != INVALID_HANDLE_VALUE;
    exists = !FOpen && (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS);
#else
    FFd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, static_cast<mode_t>(mode));
    FOpen = FFd >= 0;
    exists = !FOpen && errno == EEXIST;
    struct stat st {};
    // A cleaner that locked the file between its creation and this lock has removed it or is about
    // to: take another name. Where the filesystem has no locks, no cleaner can take one either.
    if (FOpen && locked &&
        ((::flock(FFd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) || (::fstat(FFd, &st) == 0 && st.st_nlink == 0))) {
      ::close(FFd);
      FOpen = false;
      exists = true;
    }
#endif
    if (!FOpen)
      FError = LastSystemError();
  }
  ~TNewFile()
  {
    try {
      Close();
    } catch (const TFileError&) {
    }
  }
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
      FSize += static_cast<std::int64_t>(done);
    }
  }

  // Waits until the bytes are on the disk.
  void Sync()
  {
#ifdef _WIN32
    if (!FlushFileBuffers(FHandle))
      throw TOutputError(LastSystemError());
#else
    if (::fsync(FFd) != 0)
      throw TOutputError(LastSystemError());
#endif
  }

  // Whether the file at path holds exactly the bytes written here; reads both in bounded blocks.
  bool SameBytesAs(const fs::path& path)
  {
#ifdef _WIN32
    const HANDLE other = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (other == INVALID_HANDLE_VALUE)
      throw TOutputError(LastSystemError());
    const std::unique_ptr<void, decltype(&CloseHandle)> closer(other, &CloseHandle);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(other, &size))
      throw TOutputError(LastSystemError());
    const std::int64_t otherSize = size.QuadPart;
#else
    const TFd other(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    struct stat st {};
    if (other.Get() < 0 || ::fstat(other.Get(), &st) != 0)
      throw TOutputError(LastSystemError());
    if (!S_ISREG(st.st_mode))  // a folder or a device under the name is no file to replace or keep
      throw TOutputError(S_ISDIR(st.st_mode) ? SystemErrorText(EISDIR) : "Not a regular file");
    const std::int64_t otherSize = st.st_size;
#endif
    if (otherSize != FSize)
      return false;
    const auto mine = std::make_unique<char[]>(kCompareBlock);
    const auto theirs = std::make_unique<char[]>(kCompareBlock);
    for (std::int64_t at = 0; at < FSize;) {
#ifdef _WIN32
      const std::size_t got = ReadAt(FHandle, at, mine.get(), kCompareBlock);
      const std::size_t otherGot = ReadAt(other, at, theirs.get(), kCompareBlock);
#else
      const std::size_t got = ReadAt(FFd, at, mine.get(), kCompareBlock);
      const std::size_t otherGot = ReadAt(other.Get(), at, theirs.get(), kCompareBlock);
#endif
      if (got == 0 || got != otherGot || std::memcmp(mine.get(), theirs.get(), got) != 0)
        return false;
      at += static_cast<std::int64_t>(got);
    }
    return true;
  }

  // Gives the file the name target, in one step: false, and the file kept as it was, when the name
  // is taken and replace is false.
  bool MoveTo(const fs::path& target, bool replace)
  {
#ifdef _WIN32
    // A file that is open cannot be renamed; the runtime's rename would turn the system's own reason
    // into a bare EACCES or EIO.
    Close();
    if (MoveFileExW(FPath.c_str(), target.c_str(), replace ? MOVEFILE_REPLACE_EXISTING : 0)) {
      FPath = target;
      return true;
    }
    const DWORD error = GetLastError();
    if (replace || (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS))
      throw TOutputError(LastSystemError());
    FHandle = CreateFileW(FPath.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                          nullptr);
    if (FHandle == INVALID_HANDLE_VALUE)
      throw TOutputError(LastSystemError());
    FOpen = true;
    return false;
#else
    if (replace) {
      if (::rename(FPath.c_str(), target.c_str()) != 0)
        throw TOutputError(LastSystemError());
      FPath = target;
      return true;
    }
#  if defined(__linux__) && defined(RENAME_NOREPLACE)
    if (::renameat2(AT_FDCWD, FPath.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0) {
      FPath = target;
      return true;
    }
    if (errno == EEXIST)
      return false;
    if (errno != EINVAL && errno != ENOSYS)  // EINVAL: this filesystem cannot; a link can
      throw TOutputError(LastSystemError());
#  endif
    if (::link(FPath.c_str(), target.c_str()) != 0) {
      if (errno == EEXIST)
        return false;
      throw TOutputError(LastSystemError());
    }
    ::unlink(FPath.c_str());
    FPath = target;
    return true;
#endif
  }

  const fs::path& Path() const { return FPath; }

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
  std::int64_t FSize = 0;
  std::string FError;
#ifdef _WIN32
  HANDLE FHandle;
#else
  int FFd = -1;
#endif
};

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

// ".RecoveredEmail<n>.eml.<k>.part", exactly, as TemporaryName makes them.
bool IsTemporaryName(std::string_view name)
{
  const auto text = [&](std::string_view t) {
    const bool found = name.starts_with(t);
    if (found)
      name.remove_prefix(t.size());
    return found;
  };
  const auto digits = [&] {
    const std::size_t n = std::min(name.find_first_not_of("0123456789"), name.size());
    name.remove_prefix(n);
    return n > 0;
  };
  return text(".RecoveredEmail") && digits() && text(".eml.") && digits() && name == ".part";
}

// Removes the temporary files in folder that no running export holds: those whose writer stopped
// before it could clean up. Best effort: what cannot be looked at is left alone.
void RemoveStaleTemporaries(const fs::path& folder)
{
  std::error_code ec;
  for (fs::directory_iterator entry(folder, ec), end; !ec && entry != end; entry.increment(ec)) {
    const fs::path& path = entry->path();
    if (!IsTemporaryName(PathText(path.filename())))
      continue;
#ifdef _WIN32
    DeleteFileW(path.c_str());  // fails while its writer has it open
#else
    // Locked means written right now. Once locked here, the name must still be this file's: a writer
    // that finished has moved it away, and another may have taken the name since.
    const TFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
    struct stat held {}, named {};
    if (fd.Get() >= 0 && ::flock(fd.Get(), LOCK_EX | LOCK_NB) == 0 && ::fstat(fd.Get(), &held) == 0 &&
        S_ISREG(held.st_mode) && ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino)
      ::unlink(path.c_str());
#endif
  }
}

// Waits until the names given in folder are on the disk; a filesystem that cannot flush a folder
// (EINVAL) keeps them there by itself.
void SyncFolder(const fs::path& folder)
{
#ifndef _WIN32
  const TFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Get() < 0 || (::fsync(fd.Get()) != 0 && errno != EINVAL))
    throw TOutputError(FileErrorMessage("Cannot flush folder", folder, LastSystemError()));
#else
  (void)folder;  // NTFS journals its folders; a folder handle cannot be flushed without more rights
#endif
}

#if defined(__linux__)
// Everything written to folder's filesystem so far onto the disk, in one pass: an fsync per file
// costs a journal commit each, 30 times the whole export on 40,000 small files.
void SyncFilesystem(const fs::path& folder)
{
  const TFd fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.Get() < 0 || ::syncfs(fd.Get()) != 0)
    throw TOutputError(FileErrorMessage("Cannot flush folder", folder, LastSystemError()));
}
#endif

// "<stem><ext>", then "<stem> (2)<ext>", "<stem> (3)<ext>", ...
std::string NumberedName(const std::string& name, int attempt)
{
  if (attempt == 0)
    return name;
  const std::size_t dot = name.rfind('.');
  const std::size_t cut = dot == std::string::npos || dot == 0 ? name.size() : dot;
  return name.substr(0, cut) + " (" + std::to_string(attempt + 1) + ")" + name.substr(cut);
}

// A message's bytes under a temporary name in folder until they are given a name of their own.
class TTemporaryFile {
public:
  TTemporaryFile(const fs::path& folder, const std::string& name, unsigned mode)
      : FFolder(folder), FFile(CreateUnique(folder, [&](int k) { return TemporaryName(name, k); }, mode, true))
  {
  }
  ~TTemporaryFile()
  {
    if (FNamed)
      return;
    // POSIX: removed while still open, and so locked: once closed, the name may be a new writer's.
    // Windows: an open file cannot be removed, and nobody else can remove it while it is.
#ifdef _WIN32
    try {
      FFile->Close();
    } catch (const TFileError&) {
    }
#endif
    std::error_code ignored;
    fs::remove(FFile->Path(), ignored);
  }
  TTemporaryFile(const TTemporaryFile&) = delete;
  TTemporaryFile& operator=(const TTemporaryFile&) = delete;

  void Write(std::string_view bytes) { FFile->Write(bytes); }

  void Sync() { FFile->Sync(); }

  // Gives the file the first of "<stem><ext>", "<stem> (2)<ext>", ... that is free or holds the same
  // bytes already (the temporary file is then dropped); with replace, target whatever it holds.
  // Returns the name. The bytes must be on the disk first (Sync), so no name ever stands for less.
  std::string Commit(const std::string& target, bool replace)
  {
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
      const std::string name = NumberedName(target, attempt);
      if (FFile->MoveTo(FFolder / name, replace)) {
        FNamed = true;
        return name;
      }
      if (FFile->SameBytesAs(FFolder / name))
        return name;
    }
    throw TOutputError(SystemErrorText(EEXIST));
  }

private:
  fs::path FFolder;
  std::unique_ptr<TNewFile> FFile;
  bool FNamed = false;
};

}  // namespace

unsigned ExportMode(const fs::path& mailbox)
{
#ifdef _WIN32
  (void)mailbox;
  return 0666;
#else
  struct stat st {};
  // The mailbox is open already, so stat can only fail in a race with its removal: be strict then.
  return ::stat(mailbox.c_str(), &st) == 0 ? static_cast<unsigned>(st.st_mode & 0666) : 0600;
#endif
}

struct TOutputFile::TImpl {
  TImpl(const fs::path& target, unsigned mode)
      : Folder(target.parent_path().empty() ? fs::path(".") : target.parent_path()),
        Name(PathText(target.filename())), File(Folder, Name, mode)
  {
  }
  fs::path Folder;
  std::string Name;
  TTemporaryFile File;
};

TOutputFile::TOutputFile(const fs::path& target, unsigned mode)
try : FImpl(std::make_unique<TImpl>(target, mode)) {
} catch (const TOutputError& e) {
  throw TFileError(FileErrorMessage("Cannot create file", target, e.what()));
}

TOutputFile::~TOutputFile() = default;

void TOutputFile::Write(std::string_view bytes)
{
  try {
    FImpl->File.Write(bytes);
  } catch (const TOutputError& e) {
    throw TFileError(FileErrorMessage("Cannot write file", FImpl->Folder / FImpl->Name, e.what()));
  }
}

std::string TOutputFile::Commit(bool replace)
{
  try {
    FImpl->File.Sync();
    const std::string name = FImpl->File.Commit(FImpl->Name, replace);
    SyncFolder(FImpl->Folder);
    return name;
  } catch (const TOutputError& e) {
    throw TFileError(FileErrorMessage("Cannot write file", FImpl->Folder / FImpl->Name, e.what()));
  }
}

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

bool ProbeFolder(const fs::path& folder, std::string* reason)
{
  try {
    auto file = CreateUnique(folder, [](int k) { return k == 0 ? std::string("check.DAT") : "check" + std::to_string(k) + ".DAT"; },
                             0666, false);
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

TExportReport ExportMessages(const fs::path& mailbox, const TEmailArray& emails, const std::vector<std::size_t>& indexes,
                             const fs::path& folder, TProgressObserver* observer, TExisting existing,
                             const TFileIdentity* scanned)
{
  for (const std::size_t index : indexes)
    if (index >= emails.size())
      throw std::out_of_range("No message " + std::to_string(index) + " in \"" + PathText(mailbox) + "\"");
  if (indexes.empty()) {
    const TProgressSession session(observer);
    return {};
  }
  TMailboxFile file(mailbox);
  if (scanned)
    file.ExpectUnchanged(*scanned);
  TRangeReader reader(file);
  const auto read = [&](TByteRange range, const std::function<void(std::string_view)>& sink) {
    return reader.Read(range, [&](std::string_view piece) {
      sink(piece);
      return true;
    });
  };
  return ExportMessages(read, ExportMode(mailbox), emails, indexes, folder, observer, existing);
}

TExportReport ExportMessages(const TMessageReader& read, unsigned mode, const TEmailArray& emails,
                             const std::vector<std::size_t>& indexes, const fs::path& folder, TProgressObserver* observer,
                             TExisting existing)
{
  std::string replaced;
  const auto write = [&](std::size_t index, const TByteSink& sink) {
    const TByteRange range = MessageRange(emails.at(index));
    TFlagWordReplacer replacer;
    const std::int64_t got = read(range, [&](std::string_view piece) {
      replaced.clear();
      replacer.Feed(piece, replaced);
      sink(replaced);
    });
    replaced.clear();
    replacer.Finish(replaced);
    sink(replaced);
    return TMessageBytes{got, range.Length()};
  };
  return ExportFiles(write, mode, indexes, folder, observer, existing);
}

TExportReport ExportFiles(const TMessageWriter& write, unsigned mode, const std::vector<std::size_t>& indexes,
                          const fs::path& folder, TProgressObserver* observer, TExisting existing)
{
  TProgressSession session(observer);
  TProgressFeed feed(observer);
  TExportReport report;
  if (indexes.empty())
    return report;
  RemoveStaleTemporaries(folder);
  // Files are written in batches, flushed together, and only then named.
  struct TPending {
    std::string Name;
    std::unique_ptr<TTemporaryFile> File;
    std::int64_t Got;
    std::int64_t Length;
  };
  std::vector<TPending> pending;
  std::int64_t pendingBytes = 0;
  const auto settle = [&] {
#if defined(__linux__)
    std::string syncError;
    try {
      SyncFilesystem(folder);
    } catch (const TFileError& e) {
      syncError = e.what();
    }
#endif
    for (TPending& p : pending) {
      try {
#if defined(__linux__)
        if (!syncError.empty())
          throw TOutputError(syncError);
#else
        p.File->Sync();
#endif
        const std::string stem = p.Name.substr(0, p.Name.size() - 4);
        if (p.Got == p.Length) {
          const std::string as = p.File->Commit(p.Name, existing == TExisting::Replace);
          ++report.Written;
          report.Files.push_back(as);
          if (as != p.Name)
            report.Renamed.push_back({p.Name, as});
        } else {
          // Never under the message's own name: a whole file of an earlier export may be there.
          const std::string as = p.File->Commit(stem + ".incomplete.eml", false);
          report.Failed.push_back({p.Name, "the mailbox ends before the message does: " + std::to_string(p.Got) +
                                               " of " + std::to_string(p.Length) + " bytes could be read, kept as " + as});
        }
      } catch (const TFileError& e) {
        report.Failed.push_back({p.Name, e.what()});
      }
      p.File.reset();
    }
    pending.clear();
    pendingBytes = 0;
  };

  std::string buffer;
  buffer.reserve(2 * kWriteBuffer);
  for (std::size_t done = 0; done < indexes.size(); ++done) {
    const std::size_t index = indexes[done];
    const std::string name = ExportFileName(index);
    try {
      auto out = std::make_unique<TTemporaryFile>(folder, name, mode);
      buffer.clear();
      const TMessageBytes bytes = write(index, [&](std::string_view piece) {
        buffer.append(piece);
        if (buffer.size() >= kWriteBuffer) {
          out->Write(buffer);
          buffer.clear();
        }
      });
      out->Write(buffer);
      if (bytes.Got == 0 && bytes.Length > 0) {
        report.Failed.push_back({name, "the mailbox ends before the message begins: nothing of it could be read"});
      } else {
        pending.push_back({name, std::move(out), bytes.Got, bytes.Length});
        pendingBytes += bytes.Got;
      }
    } catch (const TFileError& e) {  // the file, or this message's bytes in the mailbox
      report.Failed.push_back({name, e.what()});
    }
    if (pending.size() >= kBatchFiles || pendingBytes >= kBatchBytes)
      settle();
    feed.Progress(static_cast<int>((done + 1) * 100 / indexes.size()));
    if (feed.Step() && done + 1 < indexes.size()) {
      report.Cancelled = true;
      break;
    }
  }
  settle();

  try {
    SyncFolder(folder);
  } catch (const TFileError& e) {
    // The files are whole, but their names may not survive a power loss: none counts as written.
    for (const std::string& name : report.Files)
      report.Failed.push_back({name, e.what()});
    report.Written = 0;
    report.Files.clear();
    report.Renamed.clear();
  }
  return report;
}

}  // namespace quillmend
