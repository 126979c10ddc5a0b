#pragma once
// The scan as first written: one LocatePattern call per line, every line read again on a handle of
// its own. Slow, but plainly right, so the fast one-pass scan is checked against it.

#include "mail/Globals.h"

#include <filesystem>

namespace quillmend::test {

TEmailArray ReferenceParse(const std::filesystem::path& fileName);

}  // namespace quillmend::test
