#pragma once
// EnCase (E01) images through libewf: the part of carving that needs it, in a target of its own.

#include "carve/source.h"

#include <filesystem>
#include <memory>

namespace quillmend {

// The image whose first segment file is path (the others, .E02..., found beside it). Throws TFileError
// naming the file and libewf's reason.
std::unique_ptr<TCarveSource> OpenEwfSource(const std::filesystem::path& path);

}  // namespace quillmend
