// The command line: joining argv into the command-line text, splitting it into the ArgumentList and
// redirections, applying redirections, the option letters, and the host entry and exit routine; and
// the UTF-8 decoding and encoding that the command line, the bound command line and every other host
// text pass through.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "host/aplmain.h"
#include "host/exports.h"
#include "base/config.h"
#include "base/platform/resources.h"
#include "base/utf8.h"

namespace vantor {
namespace {

using Words = std::vector<std::string>;

// The words of the ArgumentList after its two built-in entries.
Words SplitWords(std::string_view text) {
  const CommandLineSplit split = SplitCommandLine(text, 0);
  EXPECT_EQ(split.error, "") << text;
  return Words(split.arguments.begin() + 2, split.arguments.end());
}

TEST(CommandLineSplit, WordsQuotesAndParameters) {
  struct Case {
    const char* text;
    Words expected;
  };
  const Case cases[] = {
      {"", {}},
      {"myws", {"myws"}},
      {"  a\tb  ", {"a", "b"}},
      {"\"my ws\" x", {"my ws", "x"}},
      {"\"\"", {""}},
      {"WSPATH=\"/a b\" ws", {"ws"}},
      {"MAXWS=5X -x /WSPATH=/p ws", {"-x", "ws"}},
      {"-x 2>&1 ws >out", {"-x", "ws"}},
  };
  for (const Case& c : cases) EXPECT_EQ(SplitWords(c.text), c.expected) << c.text;
}

TEST(CommandLineSplit, BuiltInEntries) {
  EXPECT_EQ(SplitCommandLine("ws", 0).arguments, (Words{"apl", "+s", "ws"}));
  EXPECT_EQ(SplitCommandLine("ws", kFlagConsole).arguments, (Words{"apl", "-C", "ws"}));
}

TEST(CommandLineSplit, Redirections) {
  struct Case {
    const char* word;
    int stream;
    Redirection::Kind kind;
    std::string target;
    int duplicateOf;
  };
  const Case cases[] = {
      {"<in", 0, Redirection::Read, "in", -1},
      {"0<in", 0, Redirection::Read, "in", -1},
      {">out", 1, Redirection::Truncate, "out", -1},
      {">>log", 1, Redirection::Append, "log", -1},
      {"2>err", 2, Redirection::Truncate, "err", -1},
      {"2>>err=x", 2, Redirection::Append, "err=x", -1},
      {"2>&1", 2, Redirection::Duplicate, "&1", 1},
      {"1>&-", 1, Redirection::Close, "&-", -1},
      {"3<x", 3, Redirection::Read, "x", -1},
  };
  for (const Case& c : cases) {
    const CommandLineSplit split = SplitCommandLine(c.word, 0);
    ASSERT_EQ(split.redirections.size(), 1u) << c.word;
    const Redirection& r = split.redirections.front();
    EXPECT_EQ(r.stream, c.stream) << c.word;
    EXPECT_EQ(r.kind, c.kind) << c.word;
    EXPECT_EQ(r.target, c.target) << c.word;
    if (c.kind == Redirection::Duplicate) {
      EXPECT_EQ(r.duplicateOf, c.duplicateOf) << c.word;
    }
    EXPECT_EQ(split.arguments.size(), 2u) << c.word;
  }
}

TEST(CommandLineSplit, MalformedQuotes) {
  struct Case {
    const char* text;
    const char* fault;
  };
  const Case cases[] = {
      {"\"abc", "has no closing double quote"},
      {"ws X=\"abc", "has no closing double quote"},
      {"ab\"c\"", "ab\"c\" has a double quote outside a parameter value"},
      {"a\"b=c\"", "has a double quote outside a parameter value"},
  };
  for (const Case& c : cases) {
    const std::string error = SplitCommandLine(c.text, 0).error;
    EXPECT_NE(error.find(c.fault), std::string::npos) << c.text << ": " << error;
    EXPECT_EQ(error.rfind("Vantor APL could not initialise because ", 0), 0u) << error;
  }
}

TEST(CommandLineSplit, AtMostSixtyTwoWords) {
  std::string text;
  for (int i = 0; i < 62; ++i) text += "w" + std::to_string(i) + " X=1 ";
  const CommandLineSplit full = SplitCommandLine(text, 0);
  EXPECT_EQ(full.error, "");
  EXPECT_EQ(full.arguments.size(), kMaxArgumentEntries);
  const CommandLineSplit over = SplitCommandLine(text + " one-more", 0);
  EXPECT_NE(over.error.find("more than 62 words"), std::string::npos) << over.error;
}

TEST(CommandLineJoin, QuotesWordsWithBlanksSoTheyReadBack) {
  struct Case {
    Words argv;
    std::string expected;
  };
  const Case cases[] = {
      {{"vantor"}, ""},
      {{"vantor", "a", "b"}, "a b"},
      {{"vantor", "my ws"}, "\"my ws\""},
      {{"vantor", "x\ty"}, "\"x\ty\""},
      {{"vantor", "WSPATH=/a b"}, "WSPATH=\"/a b\""},
      {{"vantor", "\"abc"}, "\"abc"},
  };
  for (const Case& c : cases) {
    std::vector<const char*> argv;
    for (const std::string& word : c.argv) argv.push_back(word.c_str());
    EXPECT_EQ(JoinArguments(static_cast<int>(argv.size()), argv.data()), c.expected);
  }
  const char* argv[] = {"vantor", "my ws", "WSPATH=/a b", "-x"};
  const std::string text = JoinArguments(4, argv);
  EXPECT_EQ(SplitWords(text), (Words{"my ws", "-x"}));
  SetConfigCommandLine(text);
  EXPECT_STREQ(ConfigLookup("WSPATH"), "/a b");
}

// Redirections act on real descriptors; descriptor 9 keeps the test's own streams untouched.
TEST(CommandLineRedirection, OpensCopiesAndCloses) {
  const std::string path =
      (std::filesystem::temp_directory_path() / ("vantor_redirect_" + std::to_string(getpid()))).string();
  auto redirect = [](const std::string& word) {
    return ApplyRedirection(SplitCommandLine(word, 0).redirections.at(0));
  };
  ASSERT_TRUE(redirect("9>" + path));
  ASSERT_EQ(write(9, "one ", 4), 4);
  ASSERT_TRUE(redirect("9>>" + path));
  ASSERT_EQ(write(9, "two", 3), 3);
  ASSERT_TRUE(redirect("8>&9"));
  ASSERT_EQ(write(8, "!", 1), 1);
  ASSERT_TRUE(redirect("9<" + path));
  char text[16] = {};
  EXPECT_EQ(read(9, text, sizeof text), 8);
  EXPECT_STREQ(text, "one two!");
  ASSERT_TRUE(redirect("9>" + path));  // truncates
  EXPECT_EQ(std::filesystem::file_size(path), 0u);
  ASSERT_TRUE(redirect("9>&-"));
  EXPECT_EQ(fcntl(9, F_GETFD), -1);
  close(8);
  EXPECT_FALSE(redirect("9>/nonexistent/dir/file"));
  EXPECT_FALSE(redirect("9<" + path + ".missing"));
  std::filesystem::remove(path);
}

StartupState Options(const Words& words, OptionEffects* effects = nullptr) {
  StartupState state;
  Words arguments{"apl", "+s"};
  arguments.insert(arguments.end(), words.begin(), words.end());
  const OptionEffects result = ApplyOptions(arguments, state);
  if (effects) *effects = result;
  return state;
}

TEST(CommandLineOptions, SessionAndQFlags) {
  EXPECT_TRUE(Options({}).sessionFlag);
  EXPECT_FALSE(Options({"-C"}).sessionFlag);
  EXPECT_TRUE(Options({"-C", "+s"}).sessionFlag);
  EXPECT_TRUE(Options({"+q"}).qFlag);
  EXPECT_FALSE(Options({"+q", "-q"}).qFlag);
  EXPECT_TRUE(Options({"+xzq"}).qFlag);  // other letters after '+' are ignored
}

TEST(CommandLineOptions, LetterFlags) {
  const StartupState state = Options({"-Eab"});
  EXPECT_TRUE(state.eFlag);
  EXPECT_TRUE(state.alternateReader);
  EXPECT_FALSE(state.bFlag);
  EXPECT_TRUE(state.runLatentExpression);
  EXPECT_TRUE(Options({"-e"}).eFlag);
  EXPECT_FALSE(Options({"-x"}).runLatentExpression);
  EXPECT_TRUE(Options({"-z"}).bFlag);
}

TEST(CommandLineOptions, DiagnosticBits) {
  struct Case {
    const char* word;
    uint32_t bits;
  };
  const Case cases[] = {
      {"-D", 0},      {"-D1", 1},     {"-Dd", 1},    {"-Dc", 2},   {"-D4K", 12},
      {"-DMSWwhH", 16 | 32 | 64 | 128 | 256 | 512},  {"-DSz", 0}, {"-DSzx", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(Options({c.word}).diagnosticBits, c.bits) << c.word;
  // The letters after -D are the diagnostic word's, not options: 'c' does not end processing.
  EXPECT_EQ(Options({"-Dc", "ws"}).workspaceName, "ws");
  EXPECT_TRUE(Options({"-DSzx"}).runLatentExpression);
}

TEST(CommandLineOptions, WholeWordOptions) {
  const StartupState navigate = Options({"-Navigate"});
  EXPECT_TRUE(navigate.navigationFlag);
  EXPECT_FALSE(navigate.runLatentExpression);
  EXPECT_FALSE(navigate.alternateReader);  // its letters do not act one by one
  EXPECT_FALSE(navigate.eFlag);
  EXPECT_FALSE(Options({"-Nx"}).navigationFlag);

  OptionEffects effects;
  const StartupState sleep = Options({"-sleep"}, &effects);
  EXPECT_EQ(effects.sleepSeconds, 30);
  EXPECT_FALSE(sleep.eFlag);

  const StartupState script = Options({"-script", "run.apl", "ws"}, &effects);
  EXPECT_EQ(script.scriptFile, "run.apl");
  EXPECT_FALSE(script.sessionFlag);
  EXPECT_EQ(script.workspaceName, "ws");
  EXPECT_EQ(effects.sleepSeconds, 0);

  Options({"-script -sleep", "run.apl"}, &effects);
  EXPECT_EQ(effects.sleepSeconds, 30);
  Options({"-script"}, &effects);
  EXPECT_NE(effects.error.find("-script"), std::string::npos);
}

TEST(CommandLineOptions, WorkspaceNameAndEndOfOptions) {
  EXPECT_EQ(Options({}).workspaceName, "./CONTINUE");
  EXPECT_EQ(Options({"one", "-x", "two"}).workspaceName, "two");
  const StartupState ended = Options({"first", "-xcq", "+q", "second"});
  EXPECT_EQ(ended.workspaceName, "first");
  EXPECT_FALSE(ended.runLatentExpression);
  EXPECT_FALSE(ended.qFlag);
}

// The host entry and the exit routine end or start the whole process, so they run in a child.
TEST(StartupHostEntry, FailureReturnsZeroAndSuccessRunsOnce) {
  EXPECT_EXIT(std::_Exit(Vantor_Initialize(nullptr, "MAXWS=5X", kFlagNonInteractive, nullptr)),
              ::testing::ExitedWithCode(0), "bad startup value for MAXWS");
  EXPECT_EXIT(
      {
        const int first = Vantor_Initialize(nullptr, "MAXWS=8M", kFlagNonInteractive, nullptr);
        const int second = Vantor_Initialize(nullptr, "MAXWS=5X", kFlagNonInteractive, nullptr);
        std::_Exit(first == 1 && second == 1 && Startup().workspaceBytes == 8u << 20 ? 42 : 1);
      },
      ::testing::ExitedWithCode(42), "");
  EXPECT_EQ(Vantor_LoadWorkspace(nullptr), 1);
}

void FirstCleanup() { std::fputs("first-cleanup\n", stderr); }
void SecondCleanup() { std::fputs("second-cleanup ", stderr); }
void ReportExit(int code) { std::fprintf(stderr, "exit-callback %d\n", code); }

TEST(StartupExit, CleanupsRunLatestFirstAndLargeCodesEndWith127) {
  EXPECT_EXIT(
      {
        RegisterCleanup(FirstCleanup);
        RegisterCleanup(SecondCleanup);
        ExitApl(7);
      },
      ::testing::ExitedWithCode(7), "second-cleanup first-cleanup");
  EXPECT_EXIT(ExitApl(255), ::testing::ExitedWithCode(255), "");
  EXPECT_EXIT(ExitApl(256), ::testing::ExitedWithCode(127), "");
  EXPECT_EXIT(
      {
        Startup().exitFn = ReportExit;
        ExitApl(300);
      },
      ::testing::ExitedWithCode(127), "exit-callback 127");
}

// Ill-formed UTF-8 becomes U+FFFD, one for each maximal subpart: the longest start of a well-formed
// sequence, or a single byte that starts none. The last five cases are the examples of the Unicode
// standard (section 3.9, tables 3-8 to 3-12).
TEST(HostText, DecodingReplacesEachMaximalSubpart) {
  constexpr char32_t R = kReplacementCharacter;
  struct Case {
    const char* bytes;
    std::u32string expected;
  };
  const Case cases[] = {
      {"A\x7F", U"A\x7F"},
      {"\xC2\x80\xDF\xBF", U"\x80\x7FF"},
      {"\xE0\xA0\x80\xED\x9F\xBF\xEE\x80\x80\xEF\xBF\xBF", U"\x800\xD7FF\xE000\xFFFF"},
      {"\xF0\x90\x80\x80\xF4\x8F\xBF\xBF", U"\x10000\x10FFFF"},
      {"\xC0\xAF", {R, R}},                  // overlong '/'
      {"\xC1\xBF", {R, R}},                  // overlong
      {"\xE0\x80\x80", {R, R, R}},          // overlong NUL
      {"\xE0\x9F\xBF", {R, R, R}},          // overlong U+07FF
      {"\xF0\x8F\xBF\xBF", {R, R, R, R}},  // overlong U+FFFF
      {"\xED\xA0\x80", {R, R, R}},          // a surrogate
      {"\xF4\x90\x80\x80", {R, R, R, R}},  // above U+10FFFF
      {"\xF5\x80", {R, R}},
      {"\xFF", {R}},
      {"\x80\xBF", {R, R}},                  // continuation bytes alone
      {"\xF0\x9F\x98", {R}},                // truncated at the end
      {"\xE2\x82" "A", {R, U'A'}},           // truncated before a character
      {"\xC2", {R}},
      {"\x61\xF1\x80\x80\xE1\x80\xC2\x62\x80\x63\x80\xBF\x64", {U'a', R, R, R, U'b', R, U'c', R, R, U'd'}},
      {"\xC0\xAF\xE0\x80\xBF\xF0\x81\x82\x41", {R, R, R, R, R, R, R, R, U'A'}},
      {"\xED\xA0\x80\xED\xBF\xBF\xED\xAF\x41", {R, R, R, R, R, R, R, R, U'A'}},
      {"\xF4\x91\x92\x93\xFF\x41\x80\xBF\x42", {R, R, R, R, R, U'A', R, R, U'B'}},
      {"\xE1\x80\xE2\xF0\x91\x92\xF1\xBF\x41", {R, R, R, R, U'A'}},
  };
  for (const Case& c : cases) EXPECT_EQ(FromUtf8(c.bytes), c.expected) << ::testing::PrintToString(c.bytes);
}

TEST(HostText, EncodingNeverWritesIllFormedUtf8) {
  EXPECT_EQ(ToUtf8(U"A\x7FF\xFFFF\x10FFFF"), "A\xDF\xBF\xEF\xBF\xBF\xF4\x8F\xBF\xBF");
  const std::u32string noForm = {0xD800, 0xDFFF, 0x110000, 0xFFFFFFFF};
  EXPECT_EQ(ToUtf8(noForm), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");
  // Every Unicode scalar value survives the trip through UTF-8.
  for (char32_t c = 0; c <= 0x10FFFF; c = c == 0xD7FF ? 0xE000 : c + 1) {
    const std::u32string one(1, c);
    if (FromUtf8(ToUtf8(one)) != one) ADD_FAILURE() << "U+" << std::hex << static_cast<uint32_t>(c);
  }
}

// The bound command line is UTF-16: a lone surrogate in it, or bad UTF-8 given to vantor-bind, reads
// back as U+FFFD.
TEST(HostText, BoundCommandLineTextIsWellFormed) {
  EXPECT_EQ(DecodeResourceText({0x00, 0xD8, 'A', 0, 0, 0}), "\xEF\xBF\xBD" "A");
  EXPECT_EQ(DecodeResourceText(EncodeResourceText("\xC0\xAFx")), "\xEF\xBF\xBD\xEF\xBF\xBDx");
  EXPECT_EQ(DecodeResourceText(EncodeResourceText("\xF0\x9F\x98\x80")), "\xF0\x9F\x98\x80");
}

}  // namespace
}  // namespace vantor
