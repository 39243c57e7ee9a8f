// The vendra program, run as a user runs it: exit codes, what goes to which
// stream, the JSON of results and failures, and the instance it works on.
#include <fcntl.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apps/vendra/json.h"

extern char** environ;

namespace {

namespace fs = std::filesystem;

struct Outcome {
  int code = -1;
  std::string out;
  std::string err;
  platform::Json OutJson() const { return platform::Json::parse(out); }
  platform::Json ErrJson() const { return platform::Json::parse(err); }
};

std::string Slurp(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class VendraProgram : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "vendra-cli-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    scratch_ = pattern;
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(scratch_, ec);
  }

  // Runs the program with args; VENDRA_HOME is set to env_home when given
  // and removed otherwise, so the caller's environment cannot leak in.
  Outcome Vendra(const std::vector<std::string>& args, const std::string& env_home = "",
             const std::string& stdin_text = "", const std::string& extra_env = "") {
    const std::string extra_name = extra_env.substr(0, extra_env.find('=') + 1);
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) {
      const std::string_view entry(*e);
      if (entry.rfind("VENDRA_HOME=", 0) == 0) continue;
      if (!extra_name.empty() && entry.rfind(extra_name, 0) == 0) continue;
      env.emplace_back(entry);
    }
    if (!env_home.empty()) env.push_back("VENDRA_HOME=" + env_home);
    if (!extra_env.empty()) env.push_back(extra_env);

    const fs::path out_file = scratch_ / "stdout.txt";
    const fs::path err_file = scratch_ / "stderr.txt";
    const fs::path in_file = scratch_ / "stdin.txt";
    std::ofstream(in_file, std::ios::binary) << stdin_text;

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, in_file.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, out_file.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_addopen(&actions, 2, err_file.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::vector<std::string> argv_text{VENDRA_PROGRAM};
    argv_text.insert(argv_text.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argv_text) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    Outcome run;
    pid_t pid = 0;
    const int rc = posix_spawn(&pid, VENDRA_PROGRAM, &actions, nullptr, argv.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0) {
      ADD_FAILURE() << "cannot start " << VENDRA_PROGRAM << ": " << std::strerror(rc);
      return run;
    }
    int status = 0;
    waitpid(pid, &status, 0);
    run.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    run.out = Slurp(out_file);
    run.err = Slurp(err_file);
    return run;
  }

  // A demo instance of its own, made by the program.
  fs::path DemoInstance() {
    const fs::path home = scratch_ / "shop";
    const Outcome run = Vendra({"init", "--home", home.string(), "--demo"});
    EXPECT_EQ(run.code, 0) << run.err;
    return home;
  }

  fs::path scratch_;
};

TEST_F(VendraProgram, UsageErrorsExitTwoWithTheUsageText) {
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {}, {"bogus"}, {"call"}, {"call", "Vendra.SalesParameter"}, {"init"},
           {"demo", "--bogus"}}) {
    const Outcome run = Vendra(args);
    EXPECT_EQ(run.code, 2) << (args.empty() ? "" : args[0]);
    EXPECT_NE(run.err.find("Usage:"), std::string::npos) << run.err;
    EXPECT_TRUE(run.out.empty());
  }
  const Outcome help = Vendra({"--help"});
  EXPECT_EQ(help.code, 0);
  for (const char* command : {"init", "call", "demo", "--home"}) {
    EXPECT_NE(help.out.find(command), std::string::npos) << command;
  }
}

TEST_F(VendraProgram, InitCreatesAnInstanceOnceOnly) {
  const fs::path home = scratch_ / "new";
  const Outcome first = Vendra({"init", "--home", home.string()});
  ASSERT_EQ(first.code, 0) << first.err;
  EXPECT_TRUE(fs::is_regular_file(home / "platform.xml"));
  EXPECT_TRUE(fs::is_regular_file(home / "config" / "VendraConfiguration.xml"));
  const std::string config = Slurp(home / "config" / "VendraConfiguration.xml");

  // VENDRA_HOME stands in for --home; the existing instance is left alone.
  const Outcome second = Vendra({"init", "--demo"}, home.string());
  EXPECT_EQ(second.code, 1);
  EXPECT_FALSE(second.err.empty());
  EXPECT_EQ(Slurp(home / "config" / "VendraConfiguration.xml"), config);
}

TEST_F(VendraProgram, CallPrintsResultAndArgumentsAsJson) {
  const fs::path home = DemoInstance();
  const Outcome run = Vendra({"--home", home.string(), "call", "Vendra.SalesParameter",
                          "GetParameterValue", "\" EnableFreight \""});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_TRUE(run.err.empty()) << run.err;
  const platform::Json doc = run.OutJson();
  ASSERT_TRUE(doc.contains("result") && doc.contains("args")) << run.out;
  EXPECT_TRUE(doc["result"].is_string());
  EXPECT_EQ(doc["args"], platform::Json::parse(R"([" EnableFreight "])"));

  // The same read with the argument from a file, through VENDRA_HOME and
  // with the program's option after the command word.
  std::ofstream(scratch_ / "arg.json") << "\"EnableFreight\"\n";
  const Outcome from_file = Vendra({"call", "Vendra.SalesParameter", "GetParameterValue",
                                "@" + (scratch_ / "arg.json").string()},
                               home.string());
  ASSERT_EQ(from_file.code, 0) << from_file.err;
  EXPECT_EQ(from_file.OutJson()["result"], doc["result"]);
  const Outcome from_stdin =
      Vendra({"call", "--home", home.string(), "Vendra.SalesParameter", "GetParameterValue", "@-"},
             "", "\"EnableFreight\"");
  ASSERT_EQ(from_stdin.code, 0) << from_stdin.err;
  EXPECT_EQ(from_stdin.OutJson()["result"], doc["result"]);
}

TEST_F(VendraProgram, CallWorksWithoutAHomeForObjectsThatNeedNone) {
  const Outcome run = Vendra({"call", "Scripting.Dictionary", "Exists", "\"key\""});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.OutJson()["result"], false);
  // Negative numbers are arguments, not options.
  const Outcome count = Vendra({"call", "Scripting.Dictionary", "Exists", "-5"});
  ASSERT_EQ(count.code, 0) << count.err;
  EXPECT_EQ(count.OutJson()["args"][0], -5);
  // Arrays arrive whole, and an argument that looks like an option after
  // METHOD belongs to the operation.
  const Outcome array =
      Vendra({"call", "Scripting.Dictionary", "Add", "\"k\"", "[2,99]"});
  ASSERT_EQ(array.code, 0) << array.err;
  EXPECT_EQ(array.OutJson()["args"][1], platform::Json::parse("[2,99]"));
  const Outcome dashes = Vendra({"call", "Scripting.Dictionary", "Exists", "--home"});
  EXPECT_EQ(dashes.code, 1);
  EXPECT_EQ(dashes.ErrJson()["number"], 13) << dashes.err;
}

TEST_F(VendraProgram, FailuresGoToStandardErrorInTheFixedLayout) {
  struct Case {
    std::vector<std::string> args;
    int32_t number;
    const char* says;
  };
  const fs::path home = DemoInstance();
  const std::string h = home.string();
  for (const Case& c : std::vector<Case>{
           {{"call", "Vendra.NoSuchThing", "Run"}, 429, "Vendra.NoSuchThing"},
           {{"--home", h, "call", "Vendra.SalesParameter", "NoSuchMethod"}, 438, "NoSuchMethod"},
           {{"--home", h, "call", "Vendra.SalesParameter", "GetParameterValue"}, 450, ""},
           {{"--home", h, "call", "Vendra.SalesParameter", "GetParameterValue", "EnableFreight"},
            13, "'\"EnableFreight\"'"},
           {{"--home", h, "call", "Vendra.SalesParameter", "GetParameterValue", "[1,"},
            13, "Argument 1 is not valid JSON"},
           {{"--home", h, "call", "Vendra.SalesParameter", "GetParameterValue", "\"x\"",
             "{\"$bogus\":1}"},
            13, "Argument 2: Unknown tag"},
           {{"--home", h, "call", "Vendra.SalesParameter", "GetParameterValue", "@/no/such.json"},
            53, "/no/such.json"},
           {{"--home", (scratch_ / "nothing-here").string(), "call", "Scripting.Dictionary",
             "Exists", "\"k\""},
            5, "platform.xml"},
       }) {
    SCOPED_TRACE(c.args.back());
    const Outcome run = Vendra(c.args);
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.out.empty()) << run.out;
    const platform::Json doc = run.ErrJson();
    ASSERT_EQ(doc.size(), 3u) << run.err;
    auto it = doc.begin();
    EXPECT_EQ(it.key(), "number");
    EXPECT_EQ((++it).key(), "source");
    EXPECT_EQ((++it).key(), "description");
    EXPECT_EQ(doc["number"].get<int32_t>(), c.number) << run.err;
    EXPECT_NE(doc["description"].get<std::string>().find(c.says), std::string::npos) << run.err;
  }
}

TEST_F(VendraProgram, AFailingParameterReadKeepsItsNumberAndLayout) {
  const fs::path home = DemoInstance();
  const fs::path file = home / "config" / "VendraConfiguration.xml";
  std::string xml = Slurp(file);
  const size_t key = xml.find("key=\"Logo\"");
  ASSERT_NE(key, std::string::npos);
  const size_t start = xml.rfind("<item", key);
  const size_t close = xml.find('>', key);
  ASSERT_NE(close, std::string::npos);
  const size_t end =
      xml[close - 1] == '/' ? close + 1 : xml.find("</item>", close) + std::strlen("</item>");
  xml.erase(start, end - start);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << xml;

  const Outcome run = Vendra(
      {"--home", home.string(), "call", "Vendra.SalesParameter", "GetParameterValue", "\"Logo\""});
  EXPECT_EQ(run.code, 1);
  const platform::Json doc = run.ErrJson();
  EXPECT_EQ(doc["number"].get<int32_t>(), static_cast<int32_t>(0x8004000Fu));
  const std::string description = doc["description"];
  EXPECT_EQ(description.rfind("\r\nERROR 0x8004000F\r\n METHOD: ", 0), 0u) << description;
  EXPECT_NE(description.find("Parameter 'Logo' is not found"), std::string::npos);
}

TEST_F(VendraProgram, CallTakesANewObjectAsAnArgument) {
  const Outcome run = Vendra({"call", "Scripting.Dictionary", "Add", "\"k\"",
                              "{\"$object\": \"StrCat.Catter\"}"});
  ASSERT_EQ(run.code, 0) << run.err;
  EXPECT_EQ(run.OutJson()["args"][1], platform::Json::parse(R"({"$object": "Catter"})"));
  const Outcome unknown =
      Vendra({"call", "Scripting.Dictionary", "Add", "\"k\"", "{\"$object\": \"No.Such\"}"});
  EXPECT_EQ(unknown.code, 1);
  EXPECT_EQ(unknown.ErrJson()["number"], 429) << unknown.err;
  const Outcome ref =
      Vendra({"call", "Scripting.Dictionary", "Add", "\"k\"", "{\"$ref\": \"doc\"}"});
  EXPECT_EQ(ref.code, 1);
  EXPECT_EQ(ref.ErrJson()["number"], 13) << ref.err;
}

// The program's side of a script: where it is read from, what it prints and
// its exit status. The steps themselves are tried in script_test.cpp.
TEST_F(VendraProgram, ScriptPrintsOneArrayAndExitsOneOnAFailure) {
  const fs::path home = DemoInstance();
  const std::string script = R"([
    {"new": "Vendra.SalesParameter", "as": "p"},
    {"call": "p.GetParameterValue", "args": ["EnableFreight"]},
    {"call": "p.NoSuchOperation", "continue": true},
    {"get": "p.NoSuchProperty"},
    {"call": "p.GetParameterValue", "args": ["EnableFreight"]}
  ])";
  std::ofstream(scratch_ / "request.json") << script;
  const Outcome from_file =
      Vendra({"--home", home.string(), "script", (scratch_ / "request.json").string()});
  EXPECT_EQ(from_file.code, 1) << from_file.err;
  EXPECT_TRUE(from_file.err.empty()) << from_file.err;
  const platform::Json answers = from_file.OutJson();
  ASSERT_EQ(answers.size(), 4u) << from_file.out;
  EXPECT_TRUE(answers[1]["result"].is_string());
  EXPECT_EQ(answers[2]["error"]["number"], 438);
  EXPECT_EQ(answers[3]["error"]["number"], 438);

  const std::string good = R"([{"new": "Scripting.Dictionary", "as": "d"},
                                {"call": "d.Add", "args": ["k", 1]}, {"get": "d.Count"}])";
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"script"}, std::vector<std::string>{"script", "-"}}) {
    const Outcome from_stdin = Vendra(args, home.string(), good);
    EXPECT_EQ(from_stdin.code, 0) << from_stdin.out << from_stdin.err;
    EXPECT_EQ(from_stdin.OutJson().back()["result"], 1) << from_stdin.out;
  }

  // A script past the limit is refused before it is read whole.
  const fs::path huge = scratch_ / "huge.json";
  std::ofstream(huge) << "[";
  fs::resize_file(huge, 17u * 1024u * 1024u);
  const Outcome refused = Vendra({"script", huge.string()});
  EXPECT_EQ(refused.code, 1);
  EXPECT_EQ(refused.OutJson()[0]["error"]["number"], 7) << refused.out;

  const Outcome missing = Vendra({"script", (scratch_ / "none.json").string()});
  EXPECT_EQ(missing.code, 1);
  EXPECT_EQ(missing.OutJson()[0]["error"]["number"], 53) << missing.out;

  const Outcome help = Vendra({"script", "--help"});
  EXPECT_EQ(help.code, 0);
  for (const char* word : {"FILE", "\"$ref\"", "continue", "release"}) {
    EXPECT_NE(help.out.find(word), std::string::npos) << word << "\n" << help.out;
  }
}

TEST_F(VendraProgram, DemoRunsAndCleansUpUnlessKept) {
  // The demo's throw-away instance goes under TMPDIR, here a directory of
  // the test's own, so what is left behind can be seen.
  const fs::path tmp = scratch_ / "tmp";
  fs::create_directory(tmp);
  const Outcome run = Vendra({"demo"}, "", "", "TMPDIR=" + tmp.string());
  EXPECT_EQ(run.code, 0) << run.out << run.err;
  EXPECT_NE(run.out.find("GetParameterValue"), std::string::npos);
  EXPECT_NE(run.out.find("ERROR 0x8004000F"), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("THIS STEP FAILED"), std::string::npos) << run.out;
  EXPECT_TRUE(fs::is_empty(tmp));

  const Outcome kept = Vendra({"demo", "--keep"}, "", "", "TMPDIR=" + tmp.string());
  EXPECT_EQ(kept.code, 0) << kept.err;
  ASSERT_FALSE(fs::is_empty(tmp));
  const fs::path home = fs::directory_iterator(tmp)->path() / "shop";
  EXPECT_TRUE(fs::is_regular_file(home / "platform.xml"));
  EXPECT_NE(kept.out.find(home.string()), std::string::npos);
}

}  // namespace
