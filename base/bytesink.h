#pragma once

#include <functional>
#include <string_view>

namespace quillmend {

// Where bytes being written go, piece by piece.
using TByteSink = std::function<void(std::string_view)>;

}  // namespace quillmend
