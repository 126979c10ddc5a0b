#include "carve/ewfsource.h"

#include "base/system.h"

#include <libewf.h>

#include <mutex>
#include <string>
#include <vector>

namespace quillmend {

namespace {

// libewf's error text, the error freed.
std::string Reason(libewf_error_t*& error)
{
  char text[512] = "unknown error";
  if (error) {
    libewf_error_sprint(error, text, sizeof text);
    libewf_error_free(&error);
  }
  std::string reason(text);
  while (!reason.empty() && (reason.back() == '\n' || reason.back() == '.' || reason.back() == ' '))
    reason.pop_back();
  return reason;
}

class TEwfSource : public TCarveSource {
public:
  explicit TEwfSource(const std::filesystem::path& path) : FPath(path)
  {
    libewf_error_t* error = nullptr;
    const std::string first = path.string();
    char** names = nullptr;
    int count = 0;
    if (libewf_glob(first.c_str(), first.size(), LIBEWF_FORMAT_UNKNOWN, &names, &count, &error) != 1)
      Fail("Cannot open image", error);
    const bool opened = libewf_handle_initialize(&FHandle, &error) == 1 &&
                        libewf_handle_open(FHandle, names, count, LIBEWF_OPEN_READ, &error) == 1;
    libewf_error_t* ignored = nullptr;
    libewf_glob_free(names, count, &ignored);
    libewf_error_free(&ignored);
    if (!opened)
      Fail("Cannot open image", error);
    size64_t size = 0;
    if (libewf_handle_get_media_size(FHandle, &size, &error) != 1)
      Fail("Cannot read image", error);
    FSize = static_cast<std::int64_t>(size);
  }
  ~TEwfSource() override
  {
    if (!FHandle)
      return;
    libewf_error_t* error = nullptr;
    libewf_handle_close(FHandle, &error);
    libewf_handle_free(&FHandle, &error);
    libewf_error_free(&error);
  }
  TEwfSource(const TEwfSource&) = delete;
  TEwfSource& operator=(const TEwfSource&) = delete;

  const std::filesystem::path& Path() const override { return FPath; }
  std::int64_t Size() const override { return FSize; }
  std::string Kind() const override { return kEwfKind; }
  std::size_t ReadAt(std::int64_t offset, char* buffer, std::size_t count) const override
  {
    if (offset >= FSize)
      return 0;
    count = static_cast<std::size_t>(std::min<std::int64_t>(static_cast<std::int64_t>(count), FSize - offset));
    // One handle decompresses one chunk at a time: the threads take turns.
    const std::lock_guard lock(FMutex);
    std::size_t done = 0;
    while (done < count) {
      libewf_error_t* error = nullptr;
      const ssize_t got = libewf_handle_read_random(FHandle, buffer + done, count - done,
                                                              static_cast<off64_t>(offset) + static_cast<off64_t>(done), &error);
      if (got < 0)
        throw TFileError(FileErrorMessage("Cannot read image", FPath, Reason(error)));
      if (got == 0)
        break;
      done += static_cast<std::size_t>(got);
    }
    return done;
  }

private:
  [[noreturn]] void Fail(const char* what, libewf_error_t*& error)
  {
    const std::string reason = Reason(error);
    if (FHandle) {
      libewf_error_t* ignored = nullptr;
      libewf_handle_free(&FHandle, &ignored);
      libewf_error_free(&ignored);
    }
    throw TFileError(FileErrorMessage(what, FPath, reason));
  }

  std::filesystem::path FPath;
  libewf_handle_t* FHandle = nullptr;
  std::int64_t FSize = 0;
  mutable std::mutex FMutex;
};

}  // namespace

std::unique_ptr<TCarveSource> OpenEwfSource(const std::filesystem::path& path)
{
  return std::make_unique<TEwfSource>(path);
}

bool CarveReadsEwf() { return true; }

}  // namespace quillmend
