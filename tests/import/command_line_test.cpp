// prodloader's command line: how a text splits into switches and values.

#include "import/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace prodloader {
namespace {

struct ParseCase {
  const char* line;
  std::string Settings::*setting;
  const char* expected;
};

TEST(CommandLine, ParsesEachCase) {
  const ParseCase cases[] = {
      {"/VER:4c /KELMOR:Common", &Settings::VornVersion, "4c"},
      {"/VER:4c /KELMOR:Common", &Settings::KelmorDb, "Common"},
      // A quoted value over several tokens keeps its blanks, loses its quotes.
      {"/LOG:\"/var/log/import logs\" /VER:4c", &Settings::LogFolder, "/var/log/import logs"},
      {"/LOG:\"a  b\" /VER:4c", &Settings::LogFolder, "a  b"},
      {"/LOG:\"a  b\" /VER:4c", &Settings::VornVersion, "4c"},
      // Closed in its own token.
      {"/LOG:\"quoted\" /VER:1", &Settings::LogFolder, "quoted"},
      // The value is split at the first colon only.
      {"/EXCHANGE:C:\\exchange", &Settings::SchemeFolder, "C:\\exchange"},
      // Switches are case-sensitive: /ver: is someone else's.
      {"/VER:4c /ver:5", &Settings::VornVersion, "4c"},
      // A later switch wins.
      {"/USER:first /USER:second", &Settings::DbUser, "second"},
      // A switch without a colon has an empty value.
      {"/USER:first /USER", &Settings::DbUser, ""},
      // A closing quote that never comes: the value runs to the last token
      // and only its opening quote goes.
      {"/VER:4c /LOG:\"/logs/a b c", &Settings::LogFolder, "/logs/a b c"},
      {"/LOG:\"/logs/a b c", &Settings::VornVersion, ""},
      // The tokens the quoted value used are not read as switches.
      {"/LOG:\"x /VER:9\" /PWD:p", &Settings::VornVersion, ""},
      {"/LOG:\"x /VER:9\" /PWD:p", &Settings::LogFolder, "x /VER:9"},
      {"/LOG:\"x /VER:9\" /PWD:p", &Settings::DbPwd, "p"},
      // Unknown switches are ignored; double blanks make empty tokens.
      {"/NOPE:1  /DBSERVER:/srv/data", &Settings::DbServer, "/srv/data"},
      {"/WEBSERVER:web1 /FALCREST:f", &Settings::HostName, "web1"},
  };
  for (const ParseCase& c : cases) {
    const Settings s = ParseCommandLine(c.line);
    EXPECT_EQ(s.*c.setting, c.expected) << c.line;
  }
}

TEST(CommandLine, EverySwitchHasItsSetting) {
  const Settings s = ParseCommandLine(
      "/DBSERVER:a /USER:b /PWD:c /WEBSERVER:d /KELMOR:e /KELMORUSER:f /KELMORPWD:g /BREVANE:h "
      "/BREVANEUSER:i /BREVANEPWD:j /FALCREST:k /FALCRESTUSER:l /FALCRESTPWD:m /EXCHANGE:n "
      "/LOG:o /VER:p");
  const std::vector<std::string> got = {
      s.DbServer,      s.DbUser,     s.DbPwd,         s.HostName,     s.KelmorDb,      s.KelmorDbUser,
      s.KelmorPwd,     s.BrevaneDb,  s.BrevaneDbUser, s.BrevanePwd,   s.FalcrestDb,    s.FalcrestDbUser,
      s.FalcrestPwd,   s.SchemeFolder, s.LogFolder,   s.VornVersion};
  const std::vector<std::string> want = {"a", "b", "c", "d", "e", "f", "g", "h",
                                         "i", "j", "k", "l", "m", "n", "o", "p"};
  EXPECT_EQ(got, want);
}

TEST(CommandLine, PackageNameAndLogFolder) {
  const Settings s = ParseCommandLine("/KELMOR:Common /VER:4c /LOG:\"/var/log/with blank\"");
  EXPECT_EQ(s.PackageName(), "Prodloader_4c_Common");
  EXPECT_EQ(s.PackageLogFolder(), "/var/log/with blank/Prodloader_4c_Common");
  EXPECT_EQ(Settings{}.PackageName(), "Prodloader__");
}

// The shell takes the quotes off "/LOG:/a b"; joining the arguments puts
// them back so the text parses as typed.
TEST(CommandLine, ArgumentsJoinAsTyped) {
  EXPECT_EQ(JoinArguments({"/VER:4c", "/LOG:/a b", "/KELMOR:Common"}),
            "/VER:4c /LOG:\"/a b\" /KELMOR:Common");
  EXPECT_EQ(JoinArguments({"/LOG:\"/a b\""}), "/LOG:\"/a b\"");
  EXPECT_EQ(JoinArguments({"loose word"}), "\"loose word\"");
  const Settings s = ParseCommandLine(JoinArguments({"/LOG:/a b", "/USER:x", "/USER:y"}));
  EXPECT_EQ(s.LogFolder, "/a b");
  EXPECT_EQ(s.DbUser, "y");
}

}  // namespace
}  // namespace prodloader
