// A build without libewf: EnCase images are named as such and refused (source.cpp says how to go on).
#include "carve/ewfsource.h"

#include <stdexcept>

namespace quillmend {

std::unique_ptr<TCarveSource> OpenEwfSource(const std::filesystem::path&)
{
  throw std::logic_error("EnCase images are not read by this build");
}

bool CarveReadsEwf() { return false; }

}  // namespace quillmend
