#include "mime/tree.h"

#include "base/system.h"
#include "mime/encodings.h"

namespace quillmend {

namespace {

constexpr std::size_t kFileBlock = std::size_t{57} << 12;  // whole base64 lines

}  // namespace

TMimeWriter::TMimeWriter(const TByteSink& sink, std::string_view eol, std::string boundaryStem)
    : FSink(sink), FEol(eol), FStem(std::move(boundaryStem))
{
}

TMimePart TMimeWriter::Multipart(const char* subtype, std::vector<TMimePart> children)
{
  TMimePart part;
  // Ended by "_": no boundary is the start of another ("..._1" of "..._10").
  part.Headers = std::string("Content-Type: multipart/") + subtype + "; boundary=\"" + FStem +
                 std::to_string(FBoundaries++) + "_\"" + FEol;
  part.Children = std::move(children);
  return part;
}

void TMimeWriter::Write(const TMimePart& part)
{
  FSink(part.Headers);
  FSink(FEol);
  if (!part.FilePath.empty()) {
    WriteFile(part);
  } else if (part.Children.empty()) {
    FSink(part.Text);
    FSink(FEol);
  } else {
    const std::string& h = part.Headers;
    const std::size_t b = h.find("boundary=\"") + 10;
    const std::string boundary = h.substr(b, h.find('"', b) - b);
    for (const TMimePart& child : part.Children) {
      FSink("--" + boundary + FEol);
      Write(child);
    }
    FSink("--" + boundary + "--" + FEol);
  }
}

void TMimeWriter::WriteFile(const TMimePart& part)
{
  const TReadOnlyFile file(part.FilePath);
  const TFileIdentity now = file.Identity();
  const TFileIdentity& then = part.FileIdentity;
  if (!SameFile(now, then) || now.Size != then.Size)
    throw TFileError(FileErrorMessage("Cannot read file", part.FilePath, "it changed since it was looked at"));
  TBase64Writer base64(FSink, FEol);
  std::string block(kFileBlock, '\0');
  std::string text;
  bool afterCr = false;
  std::int64_t at = 0;
  while (at < then.Size) {
    const std::size_t got = file.ReadAt(at, block.data(), block.size());
    if (got == 0)
      break;
    if (part.CrText) {  // CR, and CR LF, as CR LF
      text.clear();
      for (const char c : std::string_view(block.data(), got)) {
        if (c == '\n' && afterCr) {
          afterCr = false;
          continue;
        }
        text += c;
        if ((afterCr = c == '\r'))
          text += '\n';
      }
      base64.Feed(text);
    } else {
      base64.Feed(std::string_view(block.data(), got));
    }
    at += static_cast<std::int64_t>(got);
  }
  base64.Finish();
  if (at != then.Size)  // cut while being read: a short part would pass for the whole file
    throw TFileError(FileErrorMessage("Cannot read file", part.FilePath, "it became shorter while read"));
}

}  // namespace quillmend
