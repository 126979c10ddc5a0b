#pragma once
// Internal to discovery: what the POSIX and Win32 halves of the mailbox file search share. The
// search itself is TmbxFiles::TSearch; each half defines its TWalk and Run.

#include "discovery/mbxfiles.h"

#include <cstddef>
#include <filesystem>
#include <string_view>

namespace quillmend {

// One SearchFolder or FindMailFiles walk. It keeps a view of mask, which must outlive it.
class TmbxFiles::TSearch {
public:
  // eudora: every mail file MailFileKind names, not only the names mask matches.
  TSearch(TmbxFiles& owner, std::string_view mask, bool eudora = false) : FOwner(owner), FMask(mask), FEudora(eudora) {}

  void Run(const std::filesystem::path& folder, bool recurse);

private:
  class TWalk;  // the platform's own walk

  TmbxFiles& FOwner;
  std::string_view FMask;
  bool FEudora;
};

namespace mailnames {

constexpr std::string_view kSeparator = "From ???@??? ";

template <class C>
bool EndsWithMbx(std::basic_string_view<C> name)
{
  if (name.size() < 4)
    return false;
  const std::basic_string_view<C> tail = name.substr(name.size() - 4);
  for (std::size_t i = 0; i < 4; ++i) {
    const C c = tail[i];
    const C lower = (c >= 'A' && c <= 'Z') ? static_cast<C>(c - 'A' + 'a') : c;
    if (lower != static_cast<C>(".mbx"[i]))
      return false;
  }
  return true;
}

enum class TNameRule { None, Mailbox, Backup, Sniff };

// What a file name says. A name without extension may be a Mac mailbox, the content decides; an
// AppleDouble companion "._X" never is one, so it is not opened.
template <class C>
TNameRule NameRule(std::basic_string_view<C> name)
{
  if (EndsWithMbx(name))
    return TNameRule::Mailbox;
  const std::size_t n = name.size();
  if (n > 4 && name[n - 4] == '.' && EndsWithMbx(name.substr(0, n - 4))) {
    bool digits = true;
    for (std::size_t i = n - 3; i < n; ++i)
      digits = digits && name[i] >= '0' && name[i] <= '9';
    if (digits)
      return TNameRule::Backup;
  }
  if (name.find(static_cast<C>('.')) == std::basic_string_view<C>::npos)
    return TNameRule::Sniff;
  return TNameRule::None;
}

// Whether the first bytes read from a file, count of them, are a separator line's start.
bool IsSeparatorStart(const char* bytes, std::size_t count);

}  // namespace mailnames

}  // namespace quillmend
