// Micro-benchmarks of the core's inner loops on a generated mailbox that stays in the page cache.

#include "bench/mail/mailgen.h"

#include "eudora/markers.h"
#include "eudora/rebuild.h"
#include "mail/bodypart.h"
#include "mail/emailparser.h"
#include "mail/flagword.h"
#include "search/FastStrings.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace quillmend;

namespace {

// One mailbox of about 32 MiB for the whole run, deleted at exit.
class TBenchMailbox {
public:
  TBenchMailbox()
  {
    FPath = fs::temp_directory_path() / ("quillmend-microbench-" + std::to_string(::getpid()) + ".mbx");
    mailgen::TMailGenOptions options;
    options.Seed = 17;
    options.TargetBytes = 32 << 20;
    std::ofstream out(FPath, std::ios::binary);
    FSummary = mailgen::GenerateMailbox(out, options);
  }
  ~TBenchMailbox()
  {
    std::error_code ignored;
    fs::remove(FPath, ignored);
  }
  const fs::path& Path() const { return FPath; }
  std::int64_t Bytes() const { return FSummary.Bytes; }

private:
  fs::path FPath;
  mailgen::TMailGenSummary FSummary;
};

const TBenchMailbox& Mailbox()
{
  static const TBenchMailbox mailbox;
  return mailbox;
}

// A few MiB of generated mail text held in memory.
const std::string& Text()
{
  static const std::string text = [] {
    mailgen::TMailGenOptions options;
    options.Seed = 23;
    options.TargetBytes = 4 << 20;
    options.FlagWordPerMille = 0;
    std::ostringstream out;
    mailgen::GenerateMailbox(out, options);
    return out.str();
  }();
  return text;
}

void BM_ParseFile(benchmark::State& state)
{
  const auto& mailbox = Mailbox();
  std::size_t found = 0;
  for (auto _ : state) {
    TEmailArray emails;
    TEmailParser::ParseFile(mailbox.Path(), emails);
    found = emails.size();
    benchmark::DoNotOptimize(emails.data());
  }
  state.SetBytesProcessed(state.iterations() * mailbox.Bytes());
  state.counters["messages"] = static_cast<double>(found);
}
BENCHMARK(BM_ParseFile)->Unit(benchmark::kMillisecond);

void BM_FilterEmails(benchmark::State& state)
{
  const auto& mailbox = Mailbox();
  TEmailArray emails;
  TEmailParser::ParseFile(mailbox.Path(), emails);
  std::size_t kept = 0;
  for (auto _ : state) {
    kept = FilterEmails(mailbox.Path(), emails, "invoice 2099").size();
    benchmark::DoNotOptimize(kept);
  }
  state.SetBytesProcessed(state.iterations() * mailbox.Bytes());
  state.counters["matches"] = static_cast<double>(kept);
}
BENCHMARK(BM_FilterEmails)->Unit(benchmark::kMillisecond);

// A keyword that never occurs: the search runs over every byte. Argument: the keyword's length.
void BM_FindTextAbsent(benchmark::State& state)
{
  const std::string& text = Text();
  const std::string pattern =
      std::string("zebra-crossing-quarterly-xylophone").substr(0, static_cast<std::size_t>(state.range(0)));
  for (auto _ : state)
    benchmark::DoNotOptimize(FindText(pattern, text, false, 1, true));
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_FindTextAbsent)->Arg(3)->Arg(6)->Arg(12)->Arg(17);

// The export's rewrite of the flag word, fed in pieces of the given size.
void BM_FlagWordReplacer(benchmark::State& state)
{
  const std::string& text = Text();
  const auto piece = static_cast<std::size_t>(state.range(0));
  std::string out;
  out.reserve(text.size());
  for (auto _ : state) {
    out.clear();
    TFlagWordReplacer replacer;
    for (std::size_t at = 0; at < text.size(); at += piece)
      replacer.Feed(std::string_view(text).substr(at, piece), out);
    replacer.Finish(out);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_FlagWordReplacer)->Arg(4 << 10)->Arg(64 << 10)->Arg(1 << 20);

// A rebuilt HTML message of many parts whose every part is full of <meta tags, against the same
// size of plain text: the charset of each part is looked for once, whatever the number of tags.
void BM_RebuildMetaTags(benchmark::State& state)
{
  const bool tags = state.range(0) != 0;
  const std::string part = tags ? std::string("<x-html>\r\n") +
                                      [] {
                                        std::string html;
                                        for (int i = 0; i < 819; ++i)
                                          html += "<meta x>";
                                        return html;
                                      }() +
                                      "\r\n</x-html>\r\n"
                                : std::string(819 * 8 + 24, 'p') + "\r\n";
  std::string stored = "From ???@??? Mon Dec 13 18:45:29 2010\r\nSubject: tags\r\n\r\n";
  while (stored.size() < (std::size_t{4} << 20))
    stored += part;
  const std::size_t header = stored.find("\r\n\r\n") + 2;
  const TPartFinder finder(fs::temp_directory_path(), {});
  for (auto _ : state) {
    std::size_t size = 0;
    RebuildMessage(stored, header, finder, [&](std::string_view s) { size += s.size(); });
    benchmark::DoNotOptimize(size);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * stored.size()));
}
BENCHMARK(BM_RebuildMetaTags)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// The cid: references of an HTML text, each once: linear in their number.
void BM_ContentIdReferences(benchmark::State& state)
{
  std::string html;
  for (std::int64_t i = 0; i < state.range(0); ++i)
    html += "<img src=\"cid:" + std::to_string(i % 50000) + "\">";
  for (auto _ : state)
    benchmark::DoNotOptimize(ContentIdReferences(html));
  state.SetItemsProcessed(state.iterations() * state.range(0));
}
BENCHMARK(BM_ContentIdReferences)->Arg(20000)->Arg(200000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
