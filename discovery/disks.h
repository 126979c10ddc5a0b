#pragma once
// The machine's disks, for a search of their raw bytes: whole disks and their partitions, as the
// system names them for reading (/dev/sda, \\.\PhysicalDrive0). Listing needs no rights; reading a
// disk usually does, which the search then says.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace quillmend {

struct TDisk {
  std::filesystem::path Device;
  std::int64_t Size = 0;    // bytes; 0 when the system did not say
  std::string Description;  // the model, when the system names it

  friend bool operator==(const TDisk&, const TDisk&) = default;
};

// Whole disks first, each followed by its partitions; none when the system lists none.
std::vector<TDisk> ListDisks();

}  // namespace quillmend
