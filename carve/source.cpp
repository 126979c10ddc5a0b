#include "carve/source.h"

#include "base/readfile.h"
#include "base/system.h"
#include "carve/ewfsource.h"

#include <array>
#include <cstring>
#include <memory>

namespace quillmend {

namespace {

class TRawSource : public TCarveSource {
public:
  TRawSource(const std::filesystem::path& path, bool device)
      : FFile(path), FSize(FFile.Size()), FDevice(device), FMapping(FFile)
  {
  }
  std::string_view Bytes() const override
  {
    // The size when opened: a file that grew since is searched as it was.
    return FMapping.Bytes().substr(0, static_cast<std::size_t>(FSize));
  }
  void Load(std::int64_t offset, std::size_t count) const override { FMapping.Load(offset, count); }
  void Release(std::int64_t offset, std::size_t count) const override { FMapping.Release(offset, count); }
  const std::filesystem::path& Path() const override { return FFile.Path(); }
  std::int64_t Size() const override { return FSize; }
  std::size_t ReadAt(std::int64_t offset, char* buffer, std::size_t count) const override
  {
    if (offset >= FSize)
      return 0;
    count = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(count), FSize - offset));
    if (!FDevice)
      return FFile.ReadAt(offset, buffer, count);
    // A disk device reads whole sectors only (Windows refuses anything else): the sectors around
    // the bytes asked for, and those bytes copied out.
    const std::int64_t first = offset / kDeviceSector * kDeviceSector;
    const std::int64_t last = std::min(FSize, (offset + static_cast<std::int64_t>(count) + kDeviceSector - 1) /
                                                  kDeviceSector * kDeviceSector);
    const auto size = static_cast<std::size_t>(last - first);
    const auto sectors = std::make_unique_for_overwrite<char[]>(size);
    const std::size_t got = FFile.ReadAt(first, sectors.get(), size);
    const auto skip = static_cast<std::size_t>(offset - first);
    const std::size_t copied = got > skip ? std::min(count, got - skip) : 0;
    std::memcpy(buffer, sectors.get() + skip, copied);
    return copied;
  }
  std::string Kind() const override { return FDevice ? "device" : "raw"; }

private:
  // Disks have 512- or 4096-byte sectors; 4096 serves both.
  static constexpr std::int64_t kDeviceSector = 4096;
  TReadOnlyFile FFile;
  std::int64_t FSize;
  bool FDevice;
  TFileMapping FMapping;  // empty for a device, and where the system maps no file
};

// The first bytes of an EnCase (EWF) segment file.
constexpr std::array<char, 8> kEwfSignature = {'E', 'V', 'F', '\x09', '\x0d', '\x0a', '\xff', '\x00'};

bool IsDevice(const std::filesystem::path& path)
{
  std::error_code error;
  return std::filesystem::is_block_file(path, error) || std::filesystem::is_character_file(path, error) ||
         path.generic_string().starts_with("//./");  // \\.\PhysicalDrive0 on Windows
}

std::unique_ptr<TCarveSource> OpenRaw(const std::filesystem::path& path)
{
  try {
    return std::make_unique<TRawSource>(path, IsDevice(path));
  } catch (const TFileError& error) {
    // A disk device is readable by its owner group or root only, on purpose.
    if (IsDevice(path))
      throw TFileError(std::string(error.what()) +
                       ". Make an image of it first (dd or ddrescue) and search the image, or run with the rights "
                       "to read the device");
    throw;
  }
}

}  // namespace

std::unique_ptr<TCarveSource> OpenCarveSource(const std::filesystem::path& path)
{
  std::unique_ptr<TCarveSource> raw = OpenRaw(path);
  std::array<char, kEwfSignature.size()> head{};
  if (raw->ReadAt(0, head.data(), head.size()) == head.size() && head == kEwfSignature) {
    if (!CarveReadsEwf())
      throw TFileError(FileErrorMessage("Cannot read image", path,
                                        "It is an EnCase image, which this build cannot read; convert it to a raw "
                                        "image with ewfexport"));
    raw.reset();
    return OpenEwfSource(path);
  }
  return raw;
}

}  // namespace quillmend
