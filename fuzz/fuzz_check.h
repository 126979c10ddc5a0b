#pragma once
// Shared by the fuzz targets: a failed check reports and aborts, so libFuzzer and the replay main
// both stop at the input that broke it.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

#define FUZZ_CHECK(cond)                                                                                               \
  do {                                                                                                                 \
    if (!(cond)) {                                                                                                     \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond);                                    \
      std::abort();                                                                                                    \
    }                                                                                                                  \
  } while (0)

namespace quillmend::fuzz {

// Input-derived choices (piece sizes, cut points) that stay the same when an input is replayed.
class TInputRandom {
public:
  explicit TInputRandom(std::string_view data)
  {
    for (const char c : data)
      FState = (FState ^ static_cast<unsigned char>(c)) * 0x100000001B3ULL;
  }
  std::uint64_t Next()
  {
    FState += 0x9E3779B97F4A7C15ULL;
    std::uint64_t z = FState;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  std::size_t Below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(Next() % n); }

private:
  std::uint64_t FState = 0xCBF29CE484222325ULL;
};

}  // namespace quillmend::fuzz
