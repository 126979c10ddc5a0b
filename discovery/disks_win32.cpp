// Windows names its disks \\.\PhysicalDrive0, 1, ...: those that open, with their length.
#include "discovery/disks.h"

#include "base/win32.h"

#include <winioctl.h>

#include <string>

namespace quillmend {

std::vector<TDisk> ListDisks()
{
  std::vector<TDisk> disks;
  // No access asked: a disk's length can be read without the rights to read the disk.
  for (int number = 0; number < 32; ++number) {
    const std::wstring name = L"\\\\.\\PhysicalDrive" + std::to_wstring(number);
    const HANDLE handle = ::CreateFileW(name.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                        nullptr);
    if (handle == INVALID_HANDLE_VALUE)
      continue;
    TDisk disk;
    disk.Device = name;
    GET_LENGTH_INFORMATION length{};
    DWORD returned = 0;
    if (::DeviceIoControl(handle, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &length, sizeof length, &returned, nullptr))
      disk.Size = length.Length.QuadPart;
    ::CloseHandle(handle);
    disks.push_back(std::move(disk));
  }
  return disks;
}

}  // namespace quillmend
