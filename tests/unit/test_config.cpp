// Configuration: the order of ConfigLookup's sources and the forms a parameter may take on the
// command line, the registry stand-in's INI files, the numeric readers, start-up error messages and
// YY_WINDOW values.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>

#include "host/aplmain.h"
#include "base/config.h"
#include "base/platform/registry.h"
#include "memory/memory1.h"

namespace vantor {
namespace {

// Sets (or, with nullopt, removes) an environment variable for the life of the object.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, std::optional<std::string> value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      setenv(name, value->c_str(), 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      setenv(name_, old_->c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

class TempIniFile {
 public:
  explicit TempIniFile(const std::string& text)
      : path_(std::filesystem::temp_directory_path() / ("vantor_config_" + std::to_string(getpid()) + ".ini")) {
    std::ofstream(path_) << text;
  }
  ~TempIniFile() { std::filesystem::remove(path_); }
  std::string path() const { return path_.string(); }

 private:
  std::filesystem::path path_;
};

std::optional<std::string> Lookup(const char* name) {
  const char* value = ConfigLookup(name);
  return value ? std::optional<std::string>(value) : std::nullopt;
}

TEST(ConfigLookupOrder, CommandLineFormsOfAParameter) {
  ScopedEnv env("WSPATH", std::nullopt);
  struct Case {
    const char* commandLine;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"WSPATH=/a", "/a"},
      {"-WSPATH=/a", "/a"},
      {"/wspath=/a", "/a"},
      {"ws -x WsPath=/a other", "/a"},
      {"WSPATH=\"/a b\" ws", "/a b"},
      {"WSPATH=\"/a b", "/a b"},
      {"WSPATH= ws", ""},
      {"X=1 WSPATH=/b Y=2", "/b"},
      {"NOTWSPATH=/x", "."},  // another parameter's name only ends the same way: the default
      {"--WSPATH=/x", "."},   // only one leading '-' or '/' is dropped
  };
  for (const Case& c : cases) {
    SetConfigCommandLine(c.commandLine);
    EXPECT_EQ(Lookup("WSPATH"), c.expected) << c.commandLine;
  }
}

TEST(ConfigLookupOrder, CommandLineThenEnvironmentThenRegistryThenDefaults) {
  TempIniFile ini("WSPATH=/registry\nLOG_SIZE=900\n");
  ScopedEnv iniFile("INIFILE", ini.path());
  ScopedEnv wspath("WSPATH", "/environment");
  ScopedEnv logSize("LOG_SIZE", "");  // an empty variable does not count

  SetConfigCommandLine("WSPATH=/command");
  EXPECT_EQ(Lookup("WSPATH"), "/command");
  SetConfigCommandLine("");
  EXPECT_EQ(Lookup("WSPATH"), "/environment");
  EXPECT_EQ(Lookup("LOG_SIZE"), "900");
  EXPECT_EQ(Lookup("MAPCHARS"), "db0deba7eec00be0");
  EXPECT_EQ(Lookup("NO_SUCH_PARAMETER"), std::nullopt);
}

TEST(ConfigLookupOrder, DefaultsTable) {
  SetConfigCommandLine("");
  const std::pair<const char*, const char*> defaults[] = {
      {"MAXWS", "16Mb"}, {"LOG_SIZE", "800"}, {"TMP", ""}, {"MAPCHARS", "db0deba7eec00be0"},
      {"APLNID", "0"}, {"CONFIRM_SESSION_DELETE", "1"}, {"LOG_FILE", "nul"}, {"TERM", "WIN"},
      {"WSPATH", "."}, {"AUTOFORMAT", "1"},
  };
  for (const auto& [name, value] : defaults) {
    ScopedEnv env(name, std::nullopt);
    EXPECT_EQ(Lookup(name), value) << name;
  }
}

TEST(ConfigLookupOrder, IniFileNamedOnTheCommandLineAndSubKeys) {
  TempIniFile ini("[Threads]\nFlags=12\n[Captions]\nMESSAGEBOX=My App\n");
  ScopedEnv env("INIFILE", std::nullopt);
  SetConfigCommandLine("-INIFILE=" + ini.path() + " ws");
  EXPECT_EQ(Lookup("Threads\\Flags"), "12");
  EXPECT_EQ(Lookup("Captions\\MessageBox"), "My App");
  EXPECT_EQ(Lookup("Flags"), std::nullopt);
  EXPECT_EQ(Lookup("INIFILE"), ini.path());

  // Start-up flag bit 3 turns the registry stand-in off.
  Startup().startupFlags |= kFlagNoRegistry;
  EXPECT_EQ(Lookup("Threads\\Flags"), std::nullopt);
  Startup().startupFlags &= ~kFlagNoRegistry;

  // The key is fixed again after the command line changes.
  SetConfigCommandLine("");
  EXPECT_EQ(Lookup("Threads\\Flags"), std::nullopt);
}

TEST(ConfigLookupOrder, VantorIsTheExecutableDirectoryWhenNothingElseYields) {
  ScopedEnv env("VANTOR", std::nullopt);
  SetConfigCommandLine("");
  EXPECT_EQ(Lookup("VANTOR"), std::filesystem::read_symlink("/proc/self/exe").parent_path().string());
  SetConfigCommandLine("VANTOR=/opt/vantor");
  EXPECT_EQ(Lookup("VANTOR"), "/opt/vantor");
}

TEST(ConfigLookupOrder, LongValuesAreCutToTheBuffer) {
  SetConfigCommandLine("WSPATH=" + std::string(kConfigBufferChars + 100, 'x'));
  EXPECT_EQ(std::string(ConfigLookup("WSPATH")).size(), kConfigBufferChars - 1);
  // A cut never splits a UTF-8 character: "é" is two bytes and the cut falls inside the last one.
  std::string accents;
  while (accents.size() < kConfigBufferChars) accents += "\xC3\xA9";
  SetConfigCommandLine("WSPATH=" + accents);
  EXPECT_EQ(std::string(ConfigLookup("WSPATH")).size(), kConfigBufferChars - 2);
}

TEST(ConfigRegistry, IniSectionsAreSubKeys) {
  const RegistryKey key = RegistryKey::Parse(
      "; comment\r\n"
      "Top = top value \r\n"
      "# another comment\n"
      "[Threads]\n"
      "Flags=3\n"
      "Quoted=\"  padded  \"\n"
      "[ Kite\\Deep ]\n"
      "Init=yes\n"
      "no equals sign here\n"
      "[Threads]\n"
      "Flags=4\n");
  struct Case {
    const char* name;
    std::optional<std::string> expected;
  };
  const Case cases[] = {
      {"Top", "top value"},       {"TOP", "top value"},      {"Threads\\Flags", "4"},
      {"threads\\flags", "4"},    {"Flags", std::nullopt},   {"Threads\\Quoted", "  padded  "},
      {"Kite\\Deep\\Init", "yes"}, {"Kite\\Init", std::nullopt}, {"Threads\\Top", std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(key.Value(c.name), c.expected) << c.name;
}

TEST(ConfigRegistry, ByteOrderMarkIsNotPartOfTheFirstName) {
  EXPECT_EQ(RegistryKey::Parse("\xEF\xBB\xBFMAXWS=8M\nTMP=/t\n").Value("MAXWS"), "8M");
  EXPECT_EQ(RegistryKey::Parse("\xEF\xBB\xBF[Threads]\nFlags=3\n").Value("Threads\\Flags"), "3");
}

// A file that is not there gives no values quietly (as a registry key that does not exist); a file
// that is there but cannot be an INI file is a problem, and is never read into memory whole.
TEST(ConfigRegistry, OpenReadsOnlyASmallRegularFile) {
  TempIniFile ini("Top=1\n");
  const std::string large = ini.path() + ".large";
  std::ofstream(large).close();
  std::filesystem::resize_file(large, RegistryKey::kMaxFileBytes + 1);
  struct Case {
    std::string path;
    std::optional<std::string> top;
    std::string problem;  // a part of the expected problem text; empty: none
  };
  const Case cases[] = {
      {ini.path(), "1", ""},
      {"/nonexistent/vantor.ini", std::nullopt, ""},
      {"/tmp", std::nullopt, "/tmp is not a regular file"},
      {"/dev/zero", std::nullopt, "/dev/zero is not a regular file"},
      {large, std::nullopt, "is larger than 4194304 bytes"},
  };
  for (const Case& c : cases) {
    std::string problem;
    EXPECT_EQ(RegistryKey::Open(c.path, problem).Value("Top"), c.top) << c.path;
    if (c.problem.empty()) {
      EXPECT_EQ(problem, "") << c.path;
    } else {
      EXPECT_NE(problem.find(c.problem), std::string::npos) << c.path << ": " << problem;
    }
  }
  std::filesystem::remove(large);
}

TEST(ConfigReaders, SizeReader) {
  ScopedEnv env("MAXWS", std::nullopt);
  constexpr uint32_t kMb = 1024 * 1024;
  struct Case {
    const char* commandLine;
    uint32_t expected;
  };
  const Case cases[] = {
      {"", 16 * kMb},  // the default "16Mb"
      {"MAXWS=64000", 64000u * 1024},
      {"MAXWS=1G", 1024 * kMb},
      {"MAXWS=1gb", 1024 * kMb},
      {"MAXWS=1024M", 1024 * kMb},
      {"MAXWS=2M", 4 * kMb},  // raised to the minimum
      {"MAXWS=6144k", 6 * kMb},
      {"MAXWS=\" 8 M b # eight megabytes\"", 8 * kMb},
      {"MAXWS=4194303K", 4194303u * 1024},
      {"MAXWS=0", 4 * kMb},
  };
  for (const Case& c : cases) {
    SetConfigCommandLine(c.commandLine);
    EXPECT_EQ(ReadSize("MAXWS", kMinimumWorkspaceBytes), c.expected) << c.commandLine;
  }
  SetConfigCommandLine("APL_WS_BASEADDR=0");
  EXPECT_EQ(ReadSize("APL_WS_BASEADDR", 0), 0u);
}

TEST(ConfigReaders, SizeReaderRejectsBadValues) {
  for (const char* value : {"5X", "4G", "4194304K", "99999999999", "4.5M", "5MX", "5M5", "64000b", "-4M"}) {
    SetConfigCommandLine(std::string("MAXWS=") + value);
    try {
      ReadSize("MAXWS", kMinimumWorkspaceBytes);
      ADD_FAILURE() << value << " was accepted";
    } catch (const StartupFailure& failure) {
      EXPECT_EQ(failure.exitCode, 1) << value;
      EXPECT_EQ(failure.message, "Vantor APL could not initialise because of a bad startup value for MAXWS.");
    }
  }
}

TEST(ConfigReaders, LenientReader) {
  struct Case {
    const char* commandLine;
    int64_t expected;
  };
  const Case cases[] = {
      {"", 8},  // no value: the fallback
      {"LIMIT=", 8},
      {"LIMIT=5", 5},
      {"LIMIT=0", 1},
      {"LIMIT=-5", 1},
      {"LIMIT=abc", 1},
      {"LIMIT=7abc", 7},
      {"LIMIT=100", 50},  // cut to the maximum
      {"LIMIT=99999999999999999999999", 50},
  };
  ScopedEnv env("LIMIT", std::nullopt);
  for (const Case& c : cases) {
    SetConfigCommandLine(c.commandLine);
    EXPECT_EQ(ReadLenient("LIMIT", 8, 50), c.expected) << c.commandLine;
  }
}

TEST(ConfigReaders, StrictReader) {
  struct Case {
    const char* commandLine;
    bool valid;
    int64_t destination;
  };
  const Case cases[] = {
      {"", true, 42},  // no value leaves the destination alone
      {"PROPS=0", true, 0},
      {"PROPS=3", true, 3},
      {"PROPS=4", false, 4},  // above the maximum, but stored anyway
      {"PROPS=", false, 0},
      {"PROPS=-1", false, -1},
      {"PROPS=2x", false, 2},
      {"PROPS=x", false, 0},
  };
  ScopedEnv env("PROPS", std::nullopt);
  for (const Case& c : cases) {
    SetConfigCommandLine(c.commandLine);
    int64_t destination = 42;
    EXPECT_EQ(ReadStrict("PROPS", destination, 3), c.valid) << c.commandLine;
    EXPECT_EQ(destination, c.destination) << c.commandLine;
  }
}

TEST(ConfigStartupErrors, MessagesJoinedInBitOrder) {
  const std::string c = "the environment variable APL_FCREATE_PROPS_C contains an illegal value";
  const std::string j = "the environment variable APL_FCREATE_PROPS_J contains an illegal value";
  const std::string flock =
      "the values in the environment variable APL_FLOCK_YIELD and/or APL_FLOCK_PAUSE contain an illegal value";
  EXPECT_EQ(StartupErrorReason(kStartupErrorFcreatePropsC, ""), c);
  EXPECT_EQ(StartupErrorReason(kStartupErrorFlock | kStartupErrorFcreatePropsC, ""), c + " and " + flock);
  EXPECT_EQ(StartupErrorReason(kStartupErrorFcreatePropsC | kStartupErrorFcreatePropsJ | kStartupErrorFlock, ""),
            c + ", " + j + " and " + flock);
  EXPECT_EQ(StartupErrorReason(kStartupErrorRuntimeText | 128, "the host said no"),
            "the host said no and there is an unspecified error");
  EXPECT_EQ(CouldNotInitialiseMessage(""), "Vantor APL could not initialise.");
  EXPECT_EQ(CouldNotInitialiseMessage("x"), "Vantor APL could not initialise because x.");
}

TEST(ConfigStartupErrors, ExitCodes) {
  EXPECT_EQ(StartupErrorExitCode(kStartupErrorFcreatePropsC | kStartupErrorFlock), 1);
  EXPECT_EQ(StartupErrorExitCode(kStartupErrorKite | kStartupErrorFlock), 5);
  EXPECT_EQ(StartupErrorExitCode(kStartupErrorRuntimeText | kStartupErrorKite), 6);
}

TEST(ConfigYearWindow, ValidAndInvalidValues) {
  constexpr int kThisYear = 2024;
  struct Case {
    const char* text;
    std::optional<std::pair<int, int>> expected;
  };
  const Case cases[] = {
      {"1950", std::pair{1950, 2049}},
      {"1950,2030", std::pair{1950, 2030}},
      {"1950,2049", std::pair{1950, 2049}},
      {"-50", std::pair{1974, 2073}},
      {"-10,10", std::pair{2014, 2034}},
      {"1950,2050", std::nullopt},  // 101 years
      {"2000,1990", std::nullopt},
      {"12345", std::nullopt},
      {"19a0", std::nullopt},
      {"1950,", std::nullopt},
      {"", std::nullopt},
      {"1950,2000,2010", std::nullopt},
  };
  for (const Case& c : cases) {
    const std::optional<YearWindow> window = ParseYearWindow(c.text, kThisYear);
    ASSERT_EQ(window.has_value(), c.expected.has_value()) << c.text;
    if (window) {
      EXPECT_EQ(std::pair(window->first, window->last), *c.expected) << c.text;
    }
  }
}

TEST(ConfigWorkspaceSize, ShownInMegabytesOrKilobytes) {
  EXPECT_EQ(FormatWorkspaceSize(16u << 20), "16Mb");
  EXPECT_EQ(FormatWorkspaceSize(1536u << 10), "1536Kb");
}

}  // namespace
}  // namespace vantor
