#include "base/readfile.h"

#include <cerrno>
#include <system_error>

namespace quillmend {

namespace fs = std::filesystem;

std::size_t TReadOnlyFile::ReadAt(std::int64_t offset, char* buffer, std::size_t count) const
{
  const std::int64_t got = ReadAtOffset(FFile, offset, buffer, count);
  if (got < 0)
    throw TFileError(FileErrorMessage("Cannot read file", FPath, LastSystemError()));
  return static_cast<std::size_t>(got);
}

void TReadOnlyFile::ExpectUnchanged(const TFileIdentity& scanned) const
{
  const TFileIdentity now = Identity();
  if (!SameFile(now, scanned) || now.Size < scanned.Size || (now.Size == scanned.Size && now.Modified != scanned.Modified))
    throw TFileError(QuotedPath(FPath) + " has changed since it was scanned; open it again");
}

TReadAhead::TReadAhead(const TReadOnlyFile& file, std::int64_t offset, std::size_t blockSize)
    : FFile(file),
      FBlockSize(blockSize), FBuffers{std::make_unique<char[]>(blockSize), std::make_unique<char[]>(blockSize)},
      FThread([this, offset] { Run(offset); })
{
}

TReadAhead::~TReadAhead()
{
  {
    const std::lock_guard lock(FMutex);
    FStop = true;
  }
  FChanged.notify_all();
  FThread.join();
}

std::string_view TReadAhead::Next()
{
  std::unique_lock lock(FMutex);
  if (FError)
    std::rethrow_exception(FError);
  if (FEnded)  // waiting for the other block would be forever
    return {};
  if (FHanded) {  // the block handed out last is free again
    FFilled[FConsumer] = false;
    FConsumer ^= 1;
  }
  FHanded = true;
  FChanged.notify_all();
  FChanged.wait(lock, [this] { return FFilled[FConsumer] || FError; });
  if (FError)
    std::rethrow_exception(FError);
  FEnded = FCount[FConsumer] == 0;
  return {FBuffers[FConsumer].get(), FCount[FConsumer]};
}

void TReadAhead::Run(std::int64_t offset)
{
  for (int slot = 0;; slot ^= 1) {
    {
      std::unique_lock lock(FMutex);
      FChanged.wait(lock, [&] { return !FFilled[slot] || FStop; });
      if (FStop)
        return;
    }
    std::size_t count = 0;
    try {
      count = FFile.ReadAt(offset, FBuffers[slot].get(), FBlockSize);
    } catch (...) {
      const std::lock_guard lock(FMutex);
      FError = std::current_exception();
      FChanged.notify_all();
      return;
    }
    offset += static_cast<std::int64_t>(count);
    {
      const std::lock_guard lock(FMutex);
      FCount[slot] = count;
      FFilled[slot] = true;
    }
    FChanged.notify_all();
    if (count == 0)
      return;
  }
}

}  // namespace quillmend
