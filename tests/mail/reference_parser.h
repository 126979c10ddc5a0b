#pragma once
// The scan as first written: one LocatePattern call per line, every line read again on a handle of
// its own. Slow, but plainly right, so the fast one-pass scan is checked against it.

#include "mail/Globals.h"

#include <cstddef>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>

namespace quillmend::test {

TEmailArray ReferenceParse(const std::filesystem::path& fileName);

// Mailbox-like noise: separator and header lines, blank lines, bodies, and stray CR, LF and NUL.
// lineEnd "\r" writes a Mac mailbox whose lines now and then end in CR LF after all; longLine, when
// not 0, adds runs of up to that many bytes to some lines.
std::string RandomMailbox(std::mt19937& random, std::size_t lines, std::size_t longLine,
                          std::string_view lineEnd = "\r\n");

}  // namespace quillmend::test
