// quillmend-mailgen: writes a synthetic Eudora mailbox.
//   quillmend-mailgen [--seed N] (--size 1G | --messages N) [--mac] OUT     (OUT "-" for standard output)
//   --toc PER_MILLE also writes the index OUT.toc (for OUT.mbx) without about PER_MILLE of the messages

#include "bench/mail/mailgen.h"

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <stdexcept>
#include <string>

namespace {

int Usage()
{
  std::cerr << "usage: quillmend-mailgen [--seed N] (--size 1G|100M|64K | --messages N)\n"
               "                         [--flag-rate PER_MILLE] [--no-blank-rate PER_MILLE] [--mac]\n"
               "                         [--toc LEFT_OUT_PER_MILLE] OUT\n"
               "  --mac: CR line ends and Mac Roman text, as Eudora on the Mac wrote them\n";
  return 2;
}

}  // namespace

int main(int argc, char** argv)
{
  using namespace quillmend::mailgen;
  TMailGenOptions options;
  std::string out;
  int tocLeftOut = -1;  // no index
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
      else if (arg == "--toc")
        tocLeftOut = std::stoi(value());
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
  if (out.empty() || (options.TargetBytes <= 0 && options.MessageCount <= 0) || (tocLeftOut >= 0 && out == "-"))
    return Usage();
  std::vector<TGeneratedMessage> messages;
  std::vector<TGeneratedMessage>* records = tocLeftOut >= 0 ? &messages : nullptr;

  TMailGenSummary summary;
  if (out == "-") {
    summary = GenerateMailbox(std::cout, options, records);
    std::cout.flush();
  } else {
    std::ofstream file(out, std::ios::binary | std::ios::trunc);
    if (!file) {
      std::cerr << "quillmend-mailgen: cannot create " << out << ": " << std::strerror(errno) << "\n";
      return 1;
    }
    summary = GenerateMailbox(file, options, records);
    file.close();
    if (!file) {
      std::cerr << "quillmend-mailgen: writing " << out << " failed\n";
      return 1;
    }
  }
  if (records) {
    const std::filesystem::path toc = std::filesystem::path(out).replace_extension(".toc");
    std::ofstream index(toc, std::ios::binary | std::ios::trunc);
    const std::vector<int> states = GenerateWindowsIndex(
        index, messages, summary.Bytes, std::filesystem::path(out).stem().string(), tocLeftOut, options.Seed);
    index.close();
    if (!index) {
      std::cerr << "quillmend-mailgen: writing " << toc.string() << " failed\n";
      return 1;
    }
    std::cerr << "index " << toc.string() << ": " << std::count(states.begin(), states.end(), -1)
              << " messages left out\n";
  }
  std::cerr << "messages " << summary.Messages << ", bytes " << summary.Bytes << ", flag words " << summary.FlagWords
            << " in " << summary.MessagesWithFlagWord << " messages, without blank line "
            << summary.MessagesWithoutBlankLine << "\n";
  return 0;
}
