#pragma once
// The flag word that an exported message must not carry: a mail program that imports the file
// would take the message for one deleted.

#include <string>
#include <string_view>

namespace quillmend {

inline constexpr std::string_view kFlagWord = "MSG_FLAG_EXPUNGED";
inline constexpr std::string_view kFlagReplacement = "MSG_FLAG_MARKED";

// Rewrites every occurrence of the flag word, in any letter case, as it streams through; the bytes
// are fed in pieces and the result is the same wherever the pieces are cut.
class TFlagWordReplacer {
public:
  void Feed(std::string_view bytes, std::string& out);  // appends what is final to out
  void Finish(std::string& out);                        // appends what was held back

private:
  void Process(std::string_view text, std::string& out);
  std::string FCarry;
};

}  // namespace quillmend
