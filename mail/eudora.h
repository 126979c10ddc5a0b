#pragma once

#include "base/progress.h"
#include "base/readfile.h"
#include "mail/Globals.h"
#include "mail/emailparser.h"

#include <filesystem>

namespace quillmend {

// The loader the window and the command-line tool use: one scan of one mailbox.
class TEudorafile {
public:
  // identity, when given, receives what later opens check the mailbox against; lineEnds how the
  // file ends its lines; threads how many threads the scan may take (0: one a core).
  void LoadEmails(const std::filesystem::path& fileName, TEmailArray& emails, TProgressObserver* observer = nullptr,
                  TFileIdentity* identity = nullptr, TLineEnds* lineEnds = nullptr, unsigned threads = 0);
};

}  // namespace quillmend
