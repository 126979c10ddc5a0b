// Reads lines "H<TAB>value" and "D<TAB>value" (value's bytes as a header holds them) and writes, for
// each, the header text shown for it or the instant its date names ("none" when it names none): the
// core's answers, for a comparison with another implementation.

#include "mime/headertext.h"
#include "mime/maildate.h"

#include <iostream>
#include <string>

int main()
{
  std::string line;
  while (std::getline(std::cin, line)) {
    const std::string value = line.size() > 2 ? line.substr(2) : std::string();
    if (line.starts_with("H\t")) {
      std::cout << quillmend::HeaderText(value) << '\n';
    } else if (line.starts_with("D\t")) {
      const auto instant = quillmend::MailDateInstant(value);
      std::cout << (instant ? std::to_string(*instant) : std::string("none")) << '\n';
    } else {
      std::cerr << "header_probe: cannot read line \"" << line << "\"\n";
      return 2;
    }
  }
  return 0;
}
