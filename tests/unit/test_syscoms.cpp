// System commands seen from C++: the workspace and file names that the workspace commands read from
// their arguments, and the list of permitted commands, which no APL code can install.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "heap_fixture.h"
#include "sysfns/syscoms.h"

namespace vantor::test {
namespace {

struct NameCase {
  std::u32string text;
  bool wholeArgument;
  std::u32string name;  // expected when accepted
  std::u32string rest;
  const char32_t* refusal;
};

TEST(CommandFileNameTest, ReadsPlainAndQuotedNamesAndRefusesTheRest) {
  const std::u32string x255(255, U'x');
  const NameCase cases[] = {
      {U"ws", true, U"ws", U"", nullptr},
      {U"dir/my.ws", true, U"dir/my.ws", U"", nullptr},
      {U"\"my ws\"", true, U"my ws", U"", nullptr},
      {U"\"a\"\"b\"\"\"", true, U"a\"b\"", U"", nullptr},
      {U"\"\"", true, U"", U"", nullptr},
      {U"ws  a b ", false, U"ws", U"a b", nullptr},
      {U"\"my ws\" a", false, U"my ws", U"a", nullptr},
      {U"my ws", true, U"", U"", U"unacceptable char"},
      {U"\"my ws\" a", true, U"", U"", U"unacceptable char"},
      {U"\"my\"ws", false, U"", U"", U"unacceptable char"},
      {U"\"my ws", false, U"", U"", U"unacceptable char"},
      {U"\"my \"\"", false, U"", U"", U"unacceptable char"},
      {U"\"", false, U"", U"", U"unacceptable char"},
      {U"a⍝b", false, U"", U"", U"unacceptable char"},
      {U"\"a⍝b\"", false, U"", U"", U"unacceptable char"},
      // 259 characters at most, counting the ".vws" that a name without an extension gets.
      {x255, true, x255, U"", nullptr},
      {x255 + U"x", true, U"", U"", U"name too long"},
      {x255 + U"xx.a", true, x255 + U"xx.a", U"", nullptr},
      {x255 + U"xxx.a", true, U"", U"", U"name too long"},
      {x255 + U"xxx/", true, x255 + U"xxx/", U"", nullptr},
      {x255 + U"xxxx/", true, U"", U"", U"name too long"},
  };
  for (const NameCase& c : cases) {
    SCOPED_TRACE(std::string(c.text.begin(), c.text.end()));
    CommandFileName parsed = ReadCommandFileName(c.text, c.wholeArgument);
    if (c.refusal) {
      ASSERT_NE(parsed.refusal, nullptr);
      EXPECT_EQ(std::u32string(parsed.refusal), c.refusal);
    } else {
      EXPECT_EQ(parsed.refusal, nullptr);
      EXPECT_EQ(parsed.name, c.name);
      EXPECT_EQ(std::u32string(parsed.rest), c.rest);
    }
  }
}

class SystemCommandTest : public InterpreterTest {
 protected:
  void TearDown() override {
    SetPermittedCommands(std::nullopt);
    InterpreterTest::TearDown();
  }
  // What a command writes to the session.
  static std::string Output(std::u32string_view command) {
    int fds[2];
    EXPECT_EQ(pipe(fds), 0);
    Startup().sessionOutputFd = fds[1];
    RunSystemCommand(command);
    Startup().sessionOutputFd = -1;
    close(fds[1]);
    std::string out;
    char buffer[256];
    for (ssize_t n; (n = read(fds[0], buffer, sizeof buffer)) > 0;) out.append(buffer, static_cast<size_t>(n));
    close(fds[0]);
    return out;
  }
};

TEST_F(SystemCommandTest, APermittedListLeavesOtherCommandsUnknown) {
  SetPermittedCommands(std::vector<std::u32string>{U"WSID", U"TID"});
  EXPECT_EQ(Output(U"wsid"), "is CLEAR WS\n");
  EXPECT_EQ(Output(U" TID"), "is 0\n");
  EXPECT_EQ(Output(U"ED"), "Incorrect command\n");
  SetPermittedCommands(std::nullopt);
  EXPECT_EQ(Output(U"ED"), ")ED needs a session\n");
}

}  // namespace
}  // namespace vantor::test
