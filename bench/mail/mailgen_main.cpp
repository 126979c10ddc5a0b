// quillmend-mailgen: writes a synthetic Eudora mailbox.
//   quillmend-mailgen [--seed N] (--size 1G | --messages N) [--mac] OUT     (OUT "-" for standard output)

#include "bench/mail/mailgen.h"

#include <cstring>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

namespace {

int Usage()
{
  std::cerr << "usage: quillmend-mailgen [--seed N] (--size 1G|100M|64K | --messages N)\n"
               "                         [--flag-rate PER_MILLE] [--no-blank-rate PER_MILLE] [--mac] OUT\n"
               "  --mac: CR line ends and Mac Roman text, as Eudora on the Mac wrote them\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv)
{
  using namespace quillmend::mailgen;
  TMailGenOptions options;
  std::string out;
  try {
    for (int i = 1; i < argc; ++i) {
      const std::string arg = argv[i];
      auto value = [&]() -> std::string {
        if (i + 1 >= argc)
          throw std::invalid_argument(arg + " needs a value");
        return argv[++i];
      };
      if (arg == "--seed")
        options.Seed = std::stoull(value());
      else if (arg == "--size")
        options.TargetBytes = ParseSize(value());
      else if (arg == "--messages")
        options.MessageCount = std::stoll(value());
      else if (arg == "--flag-rate")
        options.FlagWordPerMille = std::stoi(value());
      else if (arg == "--no-blank-rate")
        options.NoBlankLinePerMille = std::stoi(value());
      else if (arg == "--mac")
        options.Mac = true;
      else if (arg == "-h" || arg == "--help")
        return Usage();
      else if (out.empty() && (arg == "-" || arg[0] != '-'))
        out = arg;
      else
        throw std::invalid_argument("unexpected argument " + arg);
    }
  } catch (const std::exception& e) {
    std::cerr << "quillmend-mailgen: " << e.what() << "\n";
    return Usage();
  }
  if (out.empty() || (options.TargetBytes <= 0 && options.MessageCount <= 0))
    return Usage();

  TMailGenSummary summary;
  if (out == "-") {
    summary = GenerateMailbox(std::cout, options);
    std::cout.flush();
  } else {
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    if (!file) {
      std::cerr << "quillmend-mailgen: cannot create " << out << ": " << std::strerror(errno) << "\n";
      return 1;
    }
    summary = GenerateMailbox(file, options);
    file.close();
    if (!file) {
      std::cerr << "quillmend-mailgen: writing " << out << " failed\n";
      return 1;
    }
  }
  std::cerr << "messages " << summary.Messages << ", bytes " << summary.Bytes << ", flag words " << summary.FlagWords
            << " in " << summary.MessagesWithFlagWord << " messages, without blank line "
            << summary.MessagesWithoutBlankLine << "\n";
  return 0;
}
