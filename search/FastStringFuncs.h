#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace quillmend {

// count bytes of s from 1-based position start, clipped at the end of s.
std::string CopyFrom(std::string_view s, std::int64_t start, std::int64_t count);

}  // namespace quillmend
