#include "mail/eudora.h"

#include "mail/emailparser.h"

namespace quillmend {

void TEudorafile::LoadEmails(const std::filesystem::path& fileName, TEmailArray& emails, TScanObserver* observer)
{
  TEmailParser::ParseFile(fileName, emails, observer);
}

}  // namespace quillmend
