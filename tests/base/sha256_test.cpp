// SHA-256 from the system's cryptography, at once and in pieces, against the standard's own examples
// (FIPS 180-2, appendix B): the digest is what names a carved message in every listing.

#include "base/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace quillmend {
namespace {

TEST(Sha256, GivesTheStandardsDigestsAtOnceAndInPieces)
{
  const struct {
    std::string Bytes;
    const char* Hex;
  } cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HexOf(Sha256Of(c.Bytes)), c.Hex) << c.Bytes.size() << " bytes";
    EXPECT_EQ(Sha256Hex(c.Bytes), c.Hex) << c.Bytes.size() << " bytes";
    TSha256 pieces;
    for (std::size_t at = 0; at < c.Bytes.size(); at += 4093)
      pieces.Update(std::string_view(c.Bytes).substr(at, 4093));
    EXPECT_EQ(HexOf(pieces.Final()), c.Hex) << c.Bytes.size() << " bytes in pieces";
  }
}

}  // namespace
}  // namespace quillmend
