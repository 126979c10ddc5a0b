// The Win32 half of the mailbox file search: FindFirstFileEx listings, drive letters.

#include "discovery/mbxfiles.h"

#include "base/system.h"
#include "discovery/mbxfiles_platform.h"

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "base/win32.h"

namespace quillmend {

using mailnames::IsSeparatorStart;
using mailnames::kSeparator;
using mailnames::NameRule;
using mailnames::TNameRule;

namespace {

// Entries with this attribute are volume labels; winnt.h has no name for it.
constexpr DWORD kVolumeLabel = 0x8;

std::wstring Widen(std::string_view text)
{
  if (text.empty())
    return {};
  const int size = MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(size > 0 ? size : 0), L'\0');
  if (size > 0)
    MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
  return wide;
}

// Paths near MAX_PATH only open in their \\?\ form; the result keeps the form the listing built.
std::wstring ApiPath(const std::wstring& path)
{
  if (path.size() < 240 || path.rfind(L"\\\\?\\", 0) == 0)
    return path;
  std::wstring native = path;
  for (wchar_t& c : native)
    if (c == L'/')
      c = L'\\';
  if (native.rfind(L"\\\\", 0) == 0)
    return L"\\\\?\\UNC\\" + native.substr(2);
  if (native.size() > 2 && native[1] == L':' && native[2] == L'\\')
    return L"\\\\?\\" + native;
  return path;
}

class TFindHandle {
public:
  explicit TFindHandle(HANDLE handle) : FHandle(handle) {}
  TFindHandle(const TFindHandle&) = delete;
  TFindHandle& operator=(const TFindHandle&) = delete;
  ~TFindHandle()
  {
    if (FHandle != INVALID_HANDLE_VALUE)
      FindClose(FHandle);
  }
  explicit operator bool() const { return FHandle != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return FHandle; }

private:
  HANDLE FHandle;
};

HANDLE FindFirst(const std::wstring& pattern, WIN32_FIND_DATAW& data, bool directoriesOnly)
{
  return FindFirstFileExW(ApiPath(pattern).c_str(), FindExInfoBasic, &data,
                          directoriesOnly ? FindExSearchLimitToDirectories : FindExSearchNameMatch, nullptr,
                          FIND_FIRST_EX_LARGE_FETCH);
}

bool IsDotOrDotDot(const wchar_t* name)
{
  return name[0] == L'.' && (name[1] == L'\0' || (name[1] == L'.' && name[2] == L'\0'));
}

// Junctions and directory symbolic links point at folders found elsewhere (or at their own
// parents), so they are not entered; other reparse points, such as cloud-synced folders, are.
bool IsFolderLink(const WIN32_FIND_DATAW& data)
{
  return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 && (data.dwReserved0 & 0x20000000u) != 0;
}

// Whether the regular file at path begins with a separator line. Read-only, shared with every writer.
bool StartsWithSeparator(const std::wstring& path)
{
  const HANDLE file =
      CreateFileW(ApiPath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE)
    return false;
  char bytes[kSeparator.size()];
  DWORD got = 0;
  const bool read = GetFileType(file) == FILE_TYPE_DISK && ReadFile(file, bytes, sizeof bytes, &got, nullptr);
  CloseHandle(file);
  return read && IsSeparatorStart(bytes, got);
}

}  // namespace

std::optional<TMailFileKind> MailFileKind(const std::filesystem::path& path)
{
  switch (NameRule(std::wstring_view(path.filename().native()))) {
  case TNameRule::Mailbox: return TMailFileKind::WindowsMailbox;
  case TNameRule::Backup: return TMailFileKind::Backup;
  case TNameRule::Sniff:
    if (StartsWithSeparator(path.native()))
      return TMailFileKind::MacMailbox;
    return std::nullopt;
  default: return std::nullopt;
  }
}

class TmbxFiles::TSearch::TWalk {
public:
  // eudora: every mail file MailFileKind names, not only the names mask matches.
  TWalk(TmbxFiles& owner, std::string_view mask, bool eudora = false)
      : FOwner(owner), FMask(eudora ? std::wstring(L"*") : Widen(mask)), FEudora(eudora)
  {
  }

  void Run(const std::filesystem::path& folder, bool recurse) { Walk(folder.native(), recurse); }

private:
  void Walk(std::wstring base, bool recurse)
  {
    if (base.empty())
      return;
    if (base.back() != L'\\' && base.back() != L'/')
      base.push_back(L'\\');

    WIN32_FIND_DATAW data;
    {
      TFindHandle files(FindFirst(base + FMask, data, false));
      if (files) {
        do {
          FOwner.Entry();
          if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 && Wanted(base, data))
            FOwner.FFileList.emplace_back(base + data.cFileName);
        } while (FindNextFileW(files.Get(), &data));
      }
    }
    if (!recurse)
      return;

    // Names first, handle closed, then the descent: deep trees hold one handle at a time.
    std::vector<std::wstring> folders;
    {
      TFindHandle entries(FindFirst(base + L"*.*", data, true));
      if (entries) {
        do {
          FOwner.Entry();
          const DWORD attributes = data.dwFileAttributes;
          if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
              (attributes & (FILE_ATTRIBUTE_SYSTEM | kVolumeLabel)) != 0)
            continue;
          if (IsDotOrDotDot(data.cFileName) || IsFolderLink(data))
            continue;
          folders.emplace_back(data.cFileName);
        } while (FindNextFileW(entries.Get(), &data));
      }
    }
    for (const std::wstring& name : folders)
      Walk(base + name, true);
  }

  bool Wanted(const std::wstring& base, const WIN32_FIND_DATAW& data) const
  {
    if (!FEudora)
      return true;
    switch (NameRule(std::wstring_view(data.cFileName))) {
    case TNameRule::Mailbox:
    case TNameRule::Backup: return true;
    case TNameRule::Sniff:
      // A link or other reparse point is no regular file of this folder.
      return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0 && StartsWithSeparator(base + data.cFileName);
    default: return false;
    }
  }

  TmbxFiles& FOwner;
  std::wstring FMask;
  bool FEudora;
};

void TmbxFiles::TSearch::Run(const std::filesystem::path& folder, bool recurse)
{
  TWalk(FOwner, FMask, FEudora).Run(folder, recurse);
}

std::vector<std::filesystem::path> TmbxFiles::GetFixedDrives()
{
  constexpr DWORD kBufferLength = 129;
  char buffer[kBufferLength + 1] = {};
  const DWORD length = GetLogicalDriveStringsA(kBufferLength, buffer);
  std::vector<std::filesystem::path> drives;
  if (length == 0)
    return drives;
  if (length > kBufferLength)
    throw std::runtime_error(SystemErrorText(ERROR_OUTOFMEMORY));
  // Four characters a root: "C:\" and its terminating zero.
  for (const char* root = buffer; root + 3 < buffer + kBufferLength && *root != '\0'; root += 4) {
    const std::string text(root, 3);
    if (GetDriveTypeA(text.c_str()) == DRIVE_FIXED && DriveReady(text))
      drives.emplace_back(text);
  }
  return drives;
}

bool TmbxFiles::DriveReady(const std::filesystem::path& root)
{
  // A drive that is not ready must not bring up the system's "insert a disk" box.
  const UINT previousMode = SetErrorMode(SEM_FAILCRITICALERRORS);
  struct TRestoreMode {
    UINT Mode;
    ~TRestoreMode() { SetErrorMode(Mode); }
  } restoreMode{previousMode};

  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  std::wstring saved(size, L'\0');
  const DWORD written = size != 0 ? GetCurrentDirectoryW(size, saved.data()) : 0;
  saved.resize(written < size ? written : 0);

  const bool entered = SetCurrentDirectoryW(root.c_str()) != 0;
  if (!saved.empty() && SetCurrentDirectoryW(saved.c_str()) == 0)
    throw std::filesystem::filesystem_error("Cannot return to the current directory", std::filesystem::path(saved),
                                            std::make_error_code(std::errc::io_error));
  return entered;
}

}  // namespace quillmend
