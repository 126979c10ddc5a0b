#pragma once
// A MIME message as a tree of parts, and the writer that puts it out: headers, then each leaf's
// body (text already encoded, or a file as base64 read in bounded pieces), or each child between
// its multipart's boundary lines.

#include "base/bytesink.h"
#include "base/readfile.h"

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace quillmend {

struct TMimePart {
  std::string Headers;  // each line ended by the writer's line end
  std::string Text;     // the body of an encoded text leaf
  // The body of a file leaf: the file at FilePath, opened only when the part is written (a message
  // may name thousands), which must then still be the file FileIdentity says, of that size. A text
  // whose lines end in CR alone (CrText) goes out with CR LF.
  std::filesystem::path FilePath;
  TFileIdentity FileIdentity;
  bool CrText = false;
  std::vector<TMimePart> Children;  // a multipart's
};

class TMimeWriter {
public:
  // Boundaries are boundaryStem followed by a number: the stem must be one that no encoded line can
  // hold.
  TMimeWriter(const TByteSink& sink, std::string_view eol, std::string boundaryStem);

  TMimePart Multipart(const char* subtype, std::vector<TMimePart> children);

  // Throws TFileError when a file part cannot be read, is no longer the file it was, or became
  // shorter while it was read.
  void Write(const TMimePart& part);

private:
  void WriteFile(const TMimePart& part);

  const TByteSink& FSink;
  std::string FEol;
  std::string FStem;
  int FBoundaries = 0;
};

}  // namespace quillmend
