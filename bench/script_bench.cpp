// The late-bound door's scripts against the calls they make: a script of
// 1,000 call steps on one object (parsed, run and its answers rendered as the
// program prints them) and the same 1,000 calls made directly through the
// registry in-process (the floor), in the same run on the same demo instance.
//
// The operation is a sales parameter read, Vendra.SalesParameter's
// GetParameterValue("EnableFreight"), as pages make it on every request. A
// second pair calls Scripting.Dictionary's Exists, which does almost nothing,
// so its ratio shows the door's own cost per step.
//
// The summary prints each script's ratio to its floor (goal for the
// parameter read: at most 2x).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "apps/vendra/script.h"
#include "platform/data/connection.h"
#include "platform/host/context.h"
#include "platform/host/registry.h"
#include "bench/support/bench_support.h"

namespace {

using platform::Variant;

constexpr int kCalls = 1000;

struct Workload {
  const char* progid;
  const char* method;
  const char* argument_json;
  Variant argument;
};

const Workload& WorkloadOf(int which) {
  static const Workload parameter{"Vendra.SalesParameter", "GetParameterValue",
                                  "\"EnableFreight\"", Variant("EnableFreight")};
  static const Workload dictionary{"Scripting.Dictionary", "Exists", "\"key\"", Variant("key")};
  return which == 0 ? parameter : dictionary;
}

std::string ScriptOf(const Workload& w) {
  std::string text = std::string("[{\"new\": \"") + w.progid + "\", \"as\": \"o\"}";
  for (int i = 0; i < kCalls; ++i) {
    text += std::string(",\n {\"call\": \"o.") + w.method + "\", \"args\": [" + w.argument_json +
            "]}";
  }
  return text + "]";
}

void Script(benchmark::State& state) {
  const std::string text = ScriptOf(WorkloadOf(static_cast<int>(state.range(0))));
  for (auto _ : state) {
    vendra_cli::ScriptOutcome outcome = vendra_cli::ExecuteScript(text);
    if (outcome.failed) {
      state.SkipWithError(platform::DumpJson(outcome.answers.back()).c_str());
      break;
    }
    std::string printed = platform::DumpJson(outcome.answers, 2);
    benchmark::DoNotOptimize(printed);
  }
}

void Direct(benchmark::State& state) {
  const Workload& w = WorkloadOf(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    platform::Activity activity;
    platform::ObjectPtr object = platform::CreateObject(w.progid);
    for (int i = 0; i < kCalls; ++i) {
      std::vector<Variant> args{w.argument};
      Variant result = object->Invoke(w.method, platform::CallKind::Method, args);
      benchmark::DoNotOptimize(result);
    }
  }
}

BENCHMARK(Script)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(Direct)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Each script against its direct calls.
void PrintRatios(const vendra_bench::RatioReporter& r) {
  std::printf("\n");
  r.Ratio(52, "1,000 GetParameterValue steps / direct calls", "Script/0", "Direct/0", "at most 2x");
  r.Ratio(52, "1,000 Dictionary.Exists steps / direct calls", "Script/1", "Direct/1", "");
}

}  // namespace

int main(int argc, char** argv) {
  return vendra_bench::RunOnDemoInstance(argc, argv, nullptr, PrintRatios);
}
