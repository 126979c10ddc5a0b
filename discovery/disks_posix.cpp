// Linux lists its block devices in /sys/block, partitions as subfolders of their disk; elsewhere
// (no /sys) the list is empty and an image or a device path is given by hand.
#include "discovery/disks.h"

#include <algorithm>
#include <fstream>
#include <string_view>
#include <system_error>

namespace quillmend {

namespace {

namespace fs = std::filesystem;

std::string FirstLine(const fs::path& file)
{
  std::ifstream in(file);
  std::string line;
  std::getline(in, line);
  while (!line.empty() && (line.back() == ' ' || line.back() == '\n'))
    line.pop_back();
  return line;
}

TDisk DiskAt(const fs::path& sys, const std::string& name, const std::string& model)
{
  TDisk disk;
  disk.Device = fs::path("/dev") / name;
  // /sys gives sizes in 512-byte units whatever the device's sector size.
  try {
    disk.Size = std::stoll(FirstLine(sys / "size")) * 512;
  } catch (const std::exception&) {
    disk.Size = 0;
  }
  disk.Description = model;
  return disk;
}

}  // namespace

std::vector<TDisk> ListDisks()
{
  std::vector<TDisk> disks;
  std::error_code error;
  std::vector<fs::path> blocks;
  for (const fs::directory_entry& entry : fs::directory_iterator("/sys/block", error))
    blocks.push_back(entry.path());
  std::sort(blocks.begin(), blocks.end());
  for (const fs::path& block : blocks) {
    const std::string name = block.filename().string();
    // Memory and loop devices and optical drives are not disks that held a mail folder.
    if (name.starts_with("loop") || name.starts_with("ram") || name.starts_with("zram") || name.starts_with("sr"))
      continue;
    const std::string model = FirstLine(block / "device" / "model");
    disks.push_back(DiskAt(block, name, model));
    std::vector<fs::path> parts;
    for (const fs::directory_entry& entry : fs::directory_iterator(block, error))
      if (entry.path().filename().string().starts_with(name) && fs::exists(entry.path() / "partition", error))
        parts.push_back(entry.path());
    std::sort(parts.begin(), parts.end());
    for (const fs::path& part : parts)
      disks.push_back(DiskAt(part, part.filename().string(), "partition of " + name));
  }
  return disks;
}

}  // namespace quillmend
