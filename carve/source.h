#pragma once
// The bytes a carve reads: a disk, a partition, a raw or EnCase image, or any file. Always opened
// read-only; a source is never written.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace quillmend {

inline constexpr const char* kEwfKind = "EnCase (E01)";

class TCarveSource {
public:
  virtual ~TCarveSource() = default;
  virtual const std::filesystem::path& Path() const = 0;
  virtual std::int64_t Size() const = 0;
  // Reads up to count bytes at offset, fewer only where the source ends; safe from several threads
  // at once. Throws TFileError naming the source.
  virtual std::size_t ReadAt(std::int64_t offset, char* buffer, std::size_t count) const = 0;
  // "raw", "device" or kEwfKind: what the front ends say they read.
  virtual std::string Kind() const = 0;

  // The source's bytes where they can be read in place (a raw image mapped into memory), empty where
  // they are read with ReadAt. A stretch of them is read only after Load, and Released when no thread
  // will read it again (whole pages inside the stretch; a reader after that would not have Loaded).
  virtual std::string_view Bytes() const { return {}; }
  // Throws TFileError naming the source when the bytes cannot be read.
  virtual void Load(std::int64_t /*offset*/, std::size_t /*count*/) const {}
  virtual void Release(std::int64_t /*offset*/, std::size_t /*count*/) const {}
};

// Bytes held in memory as a source: what the tests and the fuzzer carve, in place or read as from a
// file.
class TMemorySource : public TCarveSource {
public:
  explicit TMemorySource(std::string bytes, bool inPlace = false) : FBytes(std::move(bytes)), FInPlace(inPlace) {}
  std::string_view Bytes() const override { return FInPlace ? std::string_view(FBytes) : std::string_view(); }
  const std::filesystem::path& Path() const override { return FPath; }
  std::int64_t Size() const override { return static_cast<std::int64_t>(FBytes.size()); }
  std::string Kind() const override { return "memory"; }
  std::size_t ReadAt(std::int64_t offset, char* buffer, std::size_t count) const override
  {
    if (offset >= Size())
      return 0;
    const std::size_t n = std::min(count, FBytes.size() - static_cast<std::size_t>(offset));
    std::memcpy(buffer, FBytes.data() + offset, n);
    return n;
  }

private:
  std::filesystem::path FPath = "memory";
  std::string FBytes;
  bool FInPlace;
};

// The source at path: an EnCase image (by its signature) through libewf where the build has it,
// anything else byte for byte. Throws TFileError naming the path and the system's reason, and for a
// device it may not read the usual remedy.
std::unique_ptr<TCarveSource> OpenCarveSource(const std::filesystem::path& path);

// Whether this build reads EnCase images.
bool CarveReadsEwf();

}  // namespace quillmend
