// Scripts through the late-bound door: each step kind, objects that stay live
// across steps, release order and end-of-life failures, failure and continue,
// and the inputs a script is refused for.
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apps/vendra/script.h"
#include "platform/core/dictionary.h"
#include "platform/core/dispatch.h"
#include "platform/host/registry.h"
#include "tests/support/test_instance.h"

namespace {

using platform::Json;
using platform::Variant;
using vendra_cli::ExecuteScript;

// A component that records its end-of-life work, in the order objects end.
std::vector<std::string>& Ended() {
  static std::vector<std::string> ended;
  return ended;
}

class Probe : public platform::Dispatchable<Probe>, public platform::Terminable {
 public:
  static const platform::ClassBinding<Probe>& Binding() {
    static const auto binding = platform::ClassBinding<Probe>("Probe")
                                    .Property("Name", &Probe::Name, &Probe::SetName)
                                    .Property("FailOnRelease", &Probe::FailOnRelease,
                                              &Probe::SetFailOnRelease)
                                    .Property("Touches", &Probe::Touches)
                                    .Method("Touch", &Probe::Touch)
                                    .Method("Fail", &Probe::Fail)
                                    .Method("Replace", &Probe::Replace);
    return binding;
  }
  std::string Name() const { return name_; }
  void SetName(const std::string& name) { name_ = name; }
  bool FailOnRelease() const { return fail_on_release_; }
  void SetFailOnRelease(bool fail) { fail_on_release_ = fail; }
  int32_t Touches() const { return touches_; }
  int32_t Touch() { return ++touches_; }
  int32_t Fail() { platform::Raise(1234, "Test.Probe.Fail", "told to fail"); }
  // An in/out argument the callee replaces with another object.
  void Replace(Variant& slot) {
    auto fresh = platform::Dictionary::New();
    fresh->Add("replaced", Variant(true));
    slot = Variant(fresh);
  }
  void Terminate() override {
    Ended().push_back(name_);
    if (fail_on_release_) platform::Raise(4321, "Test.Probe.Terminate", "cannot close " + name_);
  }

 private:
  std::string name_;
  bool fail_on_release_ = false;
  int32_t touches_ = 0;
};

class ScriptTest : public ::testing::Test {
 protected:
  void SetUp() override { Ended().clear(); }

  // Runs the script; the answers, and whether it failed.
  Json Run(const std::string& text, bool expect_failed = false) {
    vendra_cli::ScriptOutcome outcome = ExecuteScript(text);
    EXPECT_EQ(outcome.failed, expect_failed) << platform::DumpJson(outcome.answers, 2);
    return outcome.answers;
  }

  platform::ScopedRegistration probe_{"Test.Probe", [] { return std::make_shared<Probe>(); }};
};

TEST_F(ScriptTest, EachStepKindAnswersInOrder) {
  const Json answers = Run(R"([
    {"new": "Test.Probe", "as": "p"},
    {"let": "p.Name", "value": "first"},
    {"get": "p.Name"},
    {"call": "p.Touch"},
    {"call": "p.Touch"},
    {"get": "p.touches"},
    {"new": "Scripting.Dictionary", "as": "d"},
    {"call": "d.Add", "args": ["k", {"$integer": 5}]},
    {"let": "d.Item", "args": ["k"], "value": "six"},
    {"get": "d.Item", "args": ["k"]},
    {"release": "d"}
  ])");
  ASSERT_EQ(answers.size(), 11u) << answers.dump(2);
  EXPECT_EQ(answers[0], Json::parse(R"({"result": {"$object": "Probe"}})"));
  EXPECT_EQ(answers[1], Json::parse(R"({"result": {"$empty": null}})"));
  EXPECT_EQ(answers[2], Json::parse(R"({"result": "first"})"));
  EXPECT_EQ(answers[4], Json::parse(R"({"result": 2, "args": []})"));
  EXPECT_EQ(answers[5]["result"], 2);
  EXPECT_EQ(answers[7],
            Json::parse(R"({"result": {"$empty": null}, "args": ["k", {"$integer": 5}]})"));
  EXPECT_EQ(answers[9]["result"], "six");
  EXPECT_EQ(answers[10], Json::parse(R"({"result": {"$empty": null}})"));
}

TEST_F(ScriptTest, NamedObjectsStayTheSameLiveObjectAcrossSteps) {
  const Json answers = Run(R"([
    {"new": "Scripting.Dictionary", "as": "outer"},
    {"new": "Scripting.Dictionary", "as": "inner"},
    {"call": "outer.Add", "args": ["inner", {"$ref": "inner"}]},
    {"call": "inner.Add", "args": ["later", 1]},
    {"get": "outer.Item", "args": ["inner"], "as": "same"},
    {"call": "same.Add", "args": ["through same", 2]},
    {"get": "inner.Count"},
    {"call": "outer.Add", "args": ["fresh", {"$object": "Scripting.Dictionary"}]},
    {"get": "outer.Item", "args": ["fresh"]}
  ])");
  ASSERT_EQ(answers.size(), 9u) << answers.dump(2);
  // A reference stays a reference in the answer; the callee kept the object.
  EXPECT_EQ(answers[2]["args"][1], Json::parse(R"({"$ref": "inner"})"));
  EXPECT_EQ(answers[4]["result"], Json::parse(R"({"later": 1})"));
  EXPECT_EQ(answers[6]["result"], 2);
  EXPECT_EQ(answers[8]["result"], Json::object());
}

TEST_F(ScriptTest, ACalleeThatReplacesAReferenceRebindsTheName) {
  const Json answers = Run(R"([
    {"new": "Test.Probe", "as": "p"},
    {"new": "Scripting.Dictionary", "as": "doc"},
    {"call": "p.Replace", "args": [{"$ref": "doc"}]},
    {"get": "doc.Item", "args": ["replaced"]}
  ])");
  ASSERT_EQ(answers.size(), 4u) << answers.dump(2);
  EXPECT_EQ(answers[2]["args"][0], Json::parse(R"({"$ref": "doc"})"));
  EXPECT_EQ(answers[3]["result"], true);
}

TEST_F(ScriptTest, ObjectsAreReleasedInReverseOrderUnlessReleasedEarly) {
  Run(R"([
    {"new": "Test.Probe", "as": "a"}, {"let": "a.Name", "value": "a"},
    {"new": "Test.Probe", "as": "b"}, {"let": "b.Name", "value": "b"},
    {"new": "Test.Probe", "as": "c"}, {"let": "c.Name", "value": "c"},
    {"release": "b"},
    {"call": "a.Touch"}
  ])");
  EXPECT_EQ(Ended(), (std::vector<std::string>{"b", "c", "a"}));

  // An object the script no longer holds alone ends with its last holder.
  Ended().clear();
  Run(R"([
    {"new": "Scripting.Dictionary", "as": "d"},
    {"new": "Test.Probe", "as": "kept"}, {"let": "kept.Name", "value": "kept"},
    {"call": "d.Add", "args": ["k", {"$ref": "kept"}]},
    {"release": "kept"},
    {"get": "d.Count"}
  ])");
  EXPECT_EQ(Ended(), std::vector<std::string>{});
}

TEST_F(ScriptTest, AFailureWhileReleasingIsReportedAndTheRestStillEnd) {
  const Json answers = Run(R"([
    {"new": "Test.Probe", "as": "a"}, {"let": "a.Name", "value": "a"},
    {"new": "Test.Probe", "as": "b"}, {"let": "b.Name", "value": "b"},
    {"let": "b.FailOnRelease", "value": true}
  ])",
                           true);
  ASSERT_EQ(answers.size(), 6u) << answers.dump(2);
  EXPECT_EQ(answers[5]["release"], "b");
  EXPECT_EQ(answers[5]["error"]["number"], 4321);
  EXPECT_EQ(answers[5]["error"]["source"], "Test.Probe.Terminate");
  EXPECT_EQ(Ended(), (std::vector<std::string>{"b", "a"}));

  // An early release reports its failure as the step's own.
  const Json early = Run(R"([
    {"new": "Test.Probe", "as": "x"}, {"let": "x.FailOnRelease", "value": true},
    {"release": "x", "continue": true},
    {"get": "x.Name", "continue": true}
  ])");
  ASSERT_EQ(early.size(), 4u) << early.dump(2);
  EXPECT_EQ(early[2]["error"]["number"], 4321);
  EXPECT_EQ(early[3]["error"]["number"], 500);  // released, so no longer defined
}

TEST_F(ScriptTest, TheFirstFailureEndsTheScriptUnlessTheStepSaysContinue) {
  const Json stopped = Run(R"([
    {"new": "Test.Probe", "as": "p"},
    {"call": "p.Fail"},
    {"call": "p.Touch"}
  ])",
                           true);
  ASSERT_EQ(stopped.size(), 2u) << stopped.dump(2);
  EXPECT_EQ(stopped[1], Json::parse(R"({"error": {"number": 1234, "source": "Test.Probe.Fail",
                                                   "description": "told to fail"}})"));

  const Json went_on = Run(R"([
    {"new": "Test.Probe", "as": "p"},
    {"call": "p.Fail", "continue": true},
    {"call": "p.Touch"}
  ])");
  ASSERT_EQ(went_on.size(), 3u) << went_on.dump(2);
  EXPECT_EQ(went_on[1]["error"]["number"], 1234);
  EXPECT_EQ(went_on[2]["result"], 1);
}

TEST_F(ScriptTest, BadInputIsAClearErrorAndNothingRunsAfterIt) {
  struct Case {
    const char* script;
    size_t answers;  // entries, the error last
    int32_t number;
    const char* says;
  };
  const std::string many_levels = std::string(300, '[') + std::string(300, ']');
  const Case cases[] = {
      {"[{\"new\": ", 1, 13, "is not valid JSON"},
      {R"({"new": "Test.Probe"})", 1, 5, "JSON array of steps"},
      {many_levels.c_str(), 1, 13, "nested more than 256"},
      // Malformed steps refuse the whole script, even after good steps.
      {R"([{"new": "Test.Probe", "as": "p"}, {"invoke": "p.Touch"}])", 1, 5, "unknown step kind"},
      {R"([{"new": "Test.Probe", "as": "p"}, 7])", 1, 5, "a step is a JSON object"},
      {R"([{"call": "p.Touch", "get": "p.Name"}])", 1, 5, "one kind"},
      {R"([{"call": "p.Touch", "arg": [1]}])", 1, 5, "\"arg\" is not part of a call step"},
      {R"([{"call": "pTouch"}])", 1, 5, "name.Member"},
      {R"([{"new": "Test.Probe"}])", 1, 5, "needs a name"},
      {R"([{"let": "p.Name"}])", 1, 5, "needs the new \"value\""},
      {R"([{"call": "p.Touch", "args": 5}])", 1, 5, "needs an array"},
      {R"([{"call": "p.Touch", "continue": "yes"}])", 1, 5, "true or false"},
      {R"([{"new": "Test.Probe", "as": "a.b"}])", 1, 5, "cannot be a name"},
      // Failures while running: the answers so far, then the error.
      {R"([{"call": "p.Touch"}])", 1, 500, "'p'"},
      {R"([{"new": "Test.Probe", "as": "p"}, {"get": "p.Colour"}, {"call": "p.Touch"}])", 2, 438,
       "Probe.Colour"},
      {R"([{"new": "Test.Probe", "as": "p"}, {"let": "p.Touches", "value": 3}])", 2, 438,
       "read-only"},
      {R"([{"new": "Vendra.NoSuchThing", "as": "p"}])", 1, 429, "Vendra.NoSuchThing"},
      {R"([{"new": "Test.Probe", "as": "p"}, {"new": "Test.Probe", "as": "p"}])", 2, 5,
       "'p' is in use"},
      {R"([{"new": "Test.Probe", "as": "p"}, {"call": "p.Replace", "args": [{"$ref": "q"}]}])", 2,
       500, "'q'"},
      {R"([{"new": "Test.Probe", "as": "p"}, {"call": "p.Touch", "as": "n"},
           {"call": "n.Touch"}])", 3, 424, "'n' holds no object"},
      {R"([{"new": "Test.Probe", "as": "p"}, {"let": "p.Name", "value": {"$date": "soon"}}])", 2,
       13, "Step 2, value"},
      {R"([{"new": "Test.Probe", "as": "p"}, {"call": "p.Touch", "args": [1]}])", 2, 450,
       "Probe.Touch"},
  };
  for (const Case& c : cases) {
    const Json answers = Run(c.script, true);
    ASSERT_EQ(answers.size(), c.answers) << c.script << "\n" << answers.dump(2);
    const Json& error = answers.back()["error"];
    EXPECT_EQ(error["number"], c.number) << c.script << "\n" << error.dump();
    EXPECT_NE(error["description"].get<std::string>().find(c.says), std::string::npos)
        << c.script << "\n" << error.dump();
  }
}

TEST_F(ScriptTest, LargeScriptsRunWithinMemoryOrAreRefused) {
  std::string steps = R"([{"new": "Test.Probe", "as": "p"})";
  for (int i = 0; i < 10000; ++i) steps += R"(, {"call": "p.Touch"})";
  steps += "]";
  const Json answers = Run(steps);
  ASSERT_EQ(answers.size(), 10001u);
  EXPECT_EQ(answers.back()["result"], 10000);

  const std::string huge(vendra_cli::kMaxScriptBytes + 1, ' ');
  const Json refused = Run(huge, true);
  ASSERT_EQ(refused.size(), 1u);
  EXPECT_EQ(refused[0]["error"]["number"], 7);
}

class ScriptOnShopTest : public vendra_test::InstanceTest {};

// A basket built step by step on the one live document: lines added through
// a reference, saved, and read back by the id taken from the document itself.
TEST_F(ScriptOnShopTest, BasketLinesAddedThroughAReferenceAreStored) {
  const vendra_cli::ScriptOutcome outcome = ExecuteScript(R"([
    {"new": "Vendra.Basket", "as": "basket"},
    {"call": "basket.Create", "args": ["anna", 1001], "as": "doc"},
    {"call": "basket.AddLine", "args": [{"$ref": "doc"}, 7, 2.0, {"$date": "2026-12-08"}, false, ""]},
    {"call": "basket.AddLine", "args": [{"$ref": "doc"}, 12, 1.0, {"$date": "2026-12-08"}, false, ""]},
    {"call": "basket.AddLine", "args": [{"$ref": "doc"}, 7, 5.0, {"$date": "2026-12-09"}, false, ""]},
    {"call": "basket.Save", "args": [{"$ref": "doc"}]},
    {"get": "doc.Item", "args": ["header"], "as": "header"},
    {"get": "header.Value", "args": ["BASKETID"], "as": "id"},
    {"call": "basket.Restore", "args": [{"$ref": "id"}], "as": "restored"},
    {"get": "restored.Item", "args": ["lines"], "as": "lines"},
    {"get": "lines.RecordCount"}
  ])");
  ASSERT_FALSE(outcome.failed) << platform::DumpJson(outcome.answers, 2);
  const Json& answers = outcome.answers;
  EXPECT_EQ(answers[2]["result"], 1);
  EXPECT_EQ(answers[3]["result"], 2);
  EXPECT_EQ(answers[4]["result"], 3);
  EXPECT_EQ(answers[10]["result"], 3);
  const Json& rows = answers[8]["result"]["lines"]["$recordset"]["rows"];
  ASSERT_EQ(rows.size(), 3u) << answers[8].dump(2);
  const Json& fields = answers[8]["result"]["lines"]["$recordset"]["fields"];
  size_t number_column = 0;
  while (number_column < fields.size() && fields[number_column]["name"] != "BASKETLINENR") {
    ++number_column;
  }
  ASSERT_LT(number_column, fields.size());
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i]["values"][number_column], static_cast<int>(i + 1));
  }
}

}  // namespace
