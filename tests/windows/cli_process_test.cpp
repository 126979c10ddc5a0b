// The built quillmend-cli.exe as a process of its own: its command line, its standard streams and
// the drive paths it is given, none of which an in-process run goes through.

#include "base/readfile.h"
#include "discovery/mbxfiles.h"

#include "tests/support/testfiles.h"
#include "tests/windows/codepages.h"
#include "tests/windows/handle.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

using namespace std::string_literals;

namespace quillmend {
namespace {

namespace fs = std::filesystem;
using test::THandle;
using test::TTempDir;

struct TProcessResult {
  DWORD Code = 0;
  std::string Out, Err;
};

// One argument as CommandLineToArgvW reads it back: quoted, with backslashes doubled in front of
// a quote.
std::wstring Quote(const std::wstring& arg)
{
  std::wstring quoted = L"\"";
  std::size_t backslashes = 0;
  for (const wchar_t c : arg) {
    if (c == L'\\') {
      ++backslashes;
      continue;
    }
    quoted.append(c == L'"' ? 2 * backslashes + 1 : backslashes, L'\\');
    backslashes = 0;
    quoted += c;
  }
  quoted.append(2 * backslashes, L'\\');
  return quoted + L"\"";
}

class WindowsCliProcess : public testing::Test {
protected:
  // Runs the tool with stdout and stderr going to files, as a shell redirection would.
  TProcessResult Run(const std::vector<std::wstring>& args)
  {
    const fs::path exe = fs::absolute(QUILLMEND_CLI_EXE);
    std::wstring commandLine = Quote(exe.wstring());
    for (const std::wstring& arg : args)
      commandLine += L" " + Quote(arg);

    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    auto create = [&](const fs::path& path) {
      return THandle(CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    const fs::path outPath = streams.Path() / "stdout", errPath = streams.Path() / "stderr";
    TProcessResult result;
    {
      const THandle in(CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inherit, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
      const THandle out = create(outPath), err = create(errPath);
      EXPECT_TRUE(in && out && err) << LastSystemError();
      STARTUPINFOW startup{};
      startup.cb = sizeof startup;
      startup.dwFlags = STARTF_USESTDHANDLES;
      startup.hStdInput = in.Get();
      startup.hStdOutput = out.Get();
      startup.hStdError = err.Get();
      PROCESS_INFORMATION process{};
      if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr, nullptr,
                          &startup, &process)) {
        ADD_FAILURE() << "cannot start " << PathText(exe) << ": " << LastSystemError();
        return result;
      }
      const THandle processHandle(process.hProcess), threadHandle(process.hThread);
      WaitForSingleObject(process.hProcess, INFINITE);
      GetExitCodeProcess(process.hProcess, &result.Code);
    }
    result.Out = test::ReadFile(outPath);
    result.Err = test::ReadFile(errPath);
    return result;
  }

  TTempDir streams;
};

// A tree below the current folder, which ctest puts in the build tree: under Wine a Z:\ path.
class TLocalTree {
public:
  TLocalTree()
  {
    std::random_device random;
    FRoot = fs::current_path() / ("quillmend-windows-" + std::to_string(random()));
    fs::create_directory(FRoot);
  }
  ~TLocalTree()
  {
    std::error_code ignored;
    fs::remove_all(FRoot, ignored);
  }
  TLocalTree(const TLocalTree&) = delete;
  TLocalTree& operator=(const TLocalTree&) = delete;

  const fs::path& Root() const { return FRoot; }
  void File(const fs::path& relative, const std::string& bytes = "From ???@??? \r\n") const
  {
    fs::create_directories((FRoot / relative).parent_path());
    std::ofstream(FRoot / relative, std::ios::binary) << bytes;
  }

private:
  fs::path FRoot;
};

bool UnderWine() { return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr; }

TEST_F(WindowsCliProcess, FindListsTheMailboxesOfADriveTreeInTheFindersOrder)
{
  const TLocalTree tree;
  if (UnderWine()) {
    ASSERT_EQ(tree.Root().wstring().rfind(L"Z:\\", 0), 0u) << PathText(tree.Root());
  }
  for (const fs::path& relative : {fs::path(L"a\\b\\deep.mbx"), fs::path(L"a\\IN.MBX"), fs::path(L"notes.txt"),
                                   fs::path(L"\u00dcn\u00efc\u00f6d\u00e9.mbx")})
    tree.File(relative);

  const TProcessResult r = Run({L"find", tree.Root().wstring()});
  EXPECT_EQ(r.Code, 0u) << r.Err;
  EXPECT_EQ(r.Err, "") << "no progress line when stderr is no console";
  const std::string root = PathText(tree.Root());
  EXPECT_EQ(r.Out, root +
                       "\\\xc3\x9cn\xc3\xaf"
                       "c\xc3\xb6"
                       "d\xc3\xa9.mbx\n" +
                       root + "\\a\\IN.MBX\n" + root + "\\a\\b\\deep.mbx\n");

  TmbxFiles finder(nullptr, [&] { return std::vector<fs::path>{tree.Root()}; });
  std::string expected;
  for (const fs::path& path : finder.FindMailFiles())
    expected += PathText(path) + "\n";
  EXPECT_EQ(r.Out, expected);
}

TEST_F(WindowsCliProcess, TakesNonAsciiArgumentsAndWritesUtf8)
{
  const TTempDir dir;
  const fs::path mailbox = dir.Write("\xd0\x9f\xd0\xbe\xd1\x87\xd1\x82\xd0\xb0.mbx",
                                     "From ???@??? \r\nSubject: caf\xe9 \x80\r\n\r\nbody\r\n");
  const TProcessResult r = Run({L"list", mailbox.wstring(), L"--format", L"json"});
  EXPECT_EQ(r.Code, 0u) << r.Err;
  EXPECT_NE(r.Out.find("\"subject\": \"caf\xc3\xa9 \xe2\x82\xac\""), std::string::npos) << r.Out;
  // stderr is a text stream, so its line ends are CR LF.
  EXPECT_EQ(r.Err,
            "quillmend-cli: \xd0\x9f\xd0\xbe\xd1\x87\xd1\x82\xd0\xb0.toc: not found; 1 message found, no index\r\n");
}

// A keyword typed in the system's letters finds mail written in its ANSI code page, in either case,
// and the headers come out as the same letters.
TEST_F(WindowsCliProcess, FiltersAndListsMailInTheAnsiCodePage)
{
  const test::TCodePageWords* words = test::AnsiCodePageWords();
  if (!words)
    GTEST_SKIP() << "no words for code page " << GetACP();
  const TTempDir dir;
  const fs::path mailbox =
      dir.Write("box.mbx", "From ???@??? \r\nSubject: " + words->LowerBytes + "\r\n\r\nin " + words->UpperBytes +
                               "\r\n" + "From ???@??? \r\nSubject: other\r\n\r\nnothing\r\n");
  const std::wstring keyword = fs::path(std::u8string(words->Lower.begin(), words->Lower.end())).wstring();
  const TProcessResult r = Run({L"list", mailbox.wstring(), L"--keyword", keyword, L"--format", L"json"});
  EXPECT_EQ(r.Code, 0u) << r.Err;
  EXPECT_NE(r.Out.find(words->Lower), std::string::npos) << r.Out;
  EXPECT_EQ(r.Out.find("other"), std::string::npos) << r.Out;
  EXPECT_EQ(r.Err, "quillmend-cli: box.toc: not found; 2 messages found, no index\r\n");
}

TEST_F(WindowsCliProcess, ShowRawWritesTheMessageBytesUnchanged)
{
  const TTempDir dir;
  const std::string message = "From ???@??? \r\n\r\nlone LF\nCR LF\r\nCtrl-Z \x1a and NUL \0 end\r\n"s;
  const fs::path mailbox = dir.Write("box.mbx", message);
  const TProcessResult r = Run({L"show", mailbox.wstring(), L"0", L"--raw"});
  EXPECT_EQ(r.Code, 0u) << r.Err;
  EXPECT_EQ(r.Out, message);
}

TEST_F(WindowsCliProcess, ReportsAMissingMailboxOnStderr)
{
  const TTempDir dir;
  const fs::path missing = dir.Path() / L"\u00dcn\u00efc\u00f6d\u00e9.mbx";
  const TProcessResult r = Run({L"list", missing.wstring()});
  EXPECT_EQ(r.Code, 1u);
  EXPECT_EQ(r.Out, "");
  // stderr is a text stream, so its line ends are CR LF.
  EXPECT_EQ(r.Err, "quillmend-cli: Cannot open file \"" + PathText(missing) + "\". " +
                       SystemErrorText(ERROR_FILE_NOT_FOUND) + "\r\n");
}

}  // namespace
}  // namespace quillmend
