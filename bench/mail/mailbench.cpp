// quillmend-mailbench: runs one core operation on a mailbox so that run.sh can time it as a whole
// process against a plain tool. Prints what it found and the process's peak resident memory.
//   quillmend-mailbench scan MAILBOX
//   quillmend-mailbench keyword MAILBOX WORD
//   quillmend-mailbench export MAILBOX FOLDER

#include "document/export.h"
#include "mail/bodypart.h"
#include "mail/eudora.h"

#include <chrono>
#include <cstdio>
#include <exception>
#include <numeric>
#include <string>

#include <sys/resource.h>

namespace {

using Clock = std::chrono::steady_clock;

long PeakRssKiB()
{
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;  // KiB on Linux
}

double Seconds(Clock::time_point from) { return std::chrono::duration<double>(Clock::now() - from).count(); }

int Usage()
{
  std::fprintf(stderr, "usage: quillmend-mailbench scan MAILBOX\n"
                       "       quillmend-mailbench keyword MAILBOX WORD\n"
                       "       quillmend-mailbench export MAILBOX FOLDER\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv)
{
  using namespace quillmend;
  if (argc < 3)
    return Usage();
  const std::string command = argv[1];
  const std::filesystem::path mailbox = argv[2];
  if ((command == "scan" && argc != 3) || ((command == "keyword" || command == "export") && argc != 4))
    return Usage();
  if (command != "scan" && command != "keyword" && command != "export")
    return Usage();

  try {
    const auto start = Clock::now();
    TEmailArray emails;
    TEudorafile().LoadEmails(mailbox, emails);
    const double scan = Seconds(start);
    std::fprintf(stderr, "messages %zu, scan %.3f s", emails.size(), scan);

    if (command == "keyword") {
      const auto t = Clock::now();
      const auto kept = FilterEmails(mailbox, emails, argv[3]);
      std::fprintf(stderr, ", matches %zu, filter %.3f s", kept.size(), Seconds(t));
    } else if (command == "export") {
      const std::filesystem::path folder = argv[3];
      if (!ProbeFolder(folder)) {
        std::fprintf(stderr, "\ncannot write to %s\n", folder.string().c_str());
        return 1;
      }
      std::vector<std::size_t> all(emails.size());
      std::iota(all.begin(), all.end(), std::size_t{0});
      const auto t = Clock::now();
      const TExportReport report = ExportMessages(mailbox, emails, all, folder);
      std::fprintf(stderr, ", written %zu, failed %zu, export %.3f s", report.Written, report.Failed.size(),
                   Seconds(t));
      if (!report.Succeeded())
        return 1;
    }
    std::fprintf(stderr, ", peak RSS %ld KiB\n", PeakRssKiB());
  } catch (const std::exception& e) {
    std::fprintf(stderr, "\nquillmend-mailbench: %s\n", e.what());
    return 1;
  }
  return 0;
}
