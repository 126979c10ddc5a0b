#pragma once
// The encodings of MIME that a message is written with: base64 in bounded pieces,
// quoted-printable, parameters of header fields, and media types by file name.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace quillmend {

// base64 in lines of 76 characters, each ended by eol, from bytes fed in pieces of any size: only
// the bytes of one unfinished line are held.
class TBase64Writer {
public:
  TBase64Writer(std::function<void(std::string_view)> sink, std::string_view eol);
  void Feed(std::string_view bytes);
  void Finish();  // writes what is held; the last line ends with eol too

private:
  void Line(std::string_view bytes);  // at most 57 bytes
  std::function<void(std::string_view)> FSink;
  std::string FEol;
  std::string FHeld;
  std::string FLine;
};

// text, its lines separated by LF, as quoted-printable lines of at most 76 characters ended by eol.
// A line that matches ^>*From has its first byte encoded, so no mailbox file needs to escape it.
std::string QuotedPrintable(std::string_view text, std::string_view eol);

// Whether text, its lines separated by LF, must be encoded to travel as 7bit: a byte above 127, a
// control byte other than tab, a line longer than 998 bytes, a line that matches ^>*From , or the
// "=_" that every boundary here starts with.
bool Needs7bitEncoding(std::string_view text);

// Whether text, its lines separated by LF, is a body still in base64: only its letters, whole
// groups of four, "=" only at the end.
bool IsBase64Body(std::string_view text);

// Whether text, its lines separated by LF, is a body still in quoted-printable: printable ASCII in
// lines of at most 76 characters, at least one "=" and each one an escape "=XX" or a soft break.
bool IsQuotedPrintableBody(std::string_view text);

// name="value" for an ASCII value; name*=UTF-8''%xx... (RFC 2231) for any other. value is UTF-8.
std::string Parameter(std::string_view name, std::string_view value);

// The media type that a file's extension stands for, else what its first bytes show: the image
// kinds a mail program shows inline, HTML, a PGP signature, text under a name without extension
// (Mac files often have none); application/octet-stream for the rest.
std::string MediaTypeOf(std::string_view fileName, std::string_view head = {});

// The value of parameter name (a charset, a boundary) in a header value or an HTML tag, without
// its quotes; nullopt when it has none.
std::optional<std::string> ParameterValue(std::string_view text, std::string_view name);

}  // namespace quillmend
