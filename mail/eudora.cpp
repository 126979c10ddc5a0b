#include "mail/eudora.h"

#include "mail/emailparser.h"

namespace quillmend {

void TEudorafile::LoadEmails(const std::filesystem::path& fileName, TEmailArray& emails, TProgressObserver* observer,
                             TFileIdentity* identity, TLineEnds* lineEnds, unsigned threads)
{
  TEmailParser::ParseFile(fileName, emails, observer, identity, lineEnds, threads);
}

}  // namespace quillmend
