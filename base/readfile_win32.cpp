#include "base/readfile.h"

#include "base/win32.h"

#include <winioctl.h>

#include <cerrno>
#include <system_error>

namespace quillmend {

namespace fs = std::filesystem;

TReadOnlyFile::TReadOnlyFile(const fs::path& path) : FPath(path)
{
  FFile = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (FFile == INVALID_HANDLE_VALUE)
    throw TFileError(FileErrorMessage("Cannot open file", path, LastSystemError()));
  // A console, a printer port or a pipe under the name (CON, NUL, COM1...) would never end or never come.
  if (GetFileType(FFile) != FILE_TYPE_DISK) {
    CloseHandle(FFile);
    throw TFileError(FileErrorMessage("Cannot open file", path, "Not a regular file"));
  }
}

bool TReadOnlyFile::IsRegular() const
{
  BY_HANDLE_FILE_INFORMATION info{};
  return GetFileInformationByHandle(FFile, &info) && !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

TReadOnlyFile::~TReadOnlyFile() { CloseHandle(FFile); }

std::int64_t TReadOnlyFile::Size() const
{
  LARGE_INTEGER size{};
  if (GetFileSizeEx(FFile, &size))
    return size.QuadPart;
  // A disk device (\\.\PhysicalDrive0) has no file size: its length is asked of the disk.
  GET_LENGTH_INFORMATION length{};
  DWORD returned = 0;
  if (DeviceIoControl(FFile, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned, nullptr))
    return length.Length.QuadPart;
  throw TFileError(FileErrorMessage("Cannot read file", FPath, LastSystemError()));
}

TFileIdentity TReadOnlyFile::Identity() const
{
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(FFile, &info))
    throw TFileError(FileErrorMessage("Cannot read file", FPath, LastSystemError()));
  TFileIdentity identity;
  identity.Device = info.dwVolumeSerialNumber;
  identity.File = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  identity.Size = static_cast<std::int64_t>((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow);
  identity.Modified = static_cast<std::int64_t>(
      (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) | info.ftLastWriteTime.dwLowDateTime);
  return identity;
}

// Windows reports a failed read of mapped bytes only as an exception: files are read, never mapped.
TFileMapping::TFileMapping(const TReadOnlyFile& file) : FPath(file.Path()) {}
TFileMapping::~TFileMapping() = default;
void TFileMapping::Load(std::int64_t, std::size_t) const {}
void TFileMapping::Release(std::int64_t, std::size_t) const {}

}  // namespace quillmend
