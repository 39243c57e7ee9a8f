#include "tests/support/sql_corpus.h"

#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/core/currency.h"
#include "platform/core/date.h"
#include "platform/core/variant.h"

namespace vendra_test {

namespace {

using platform::Variant;
using platform::VarType;
using platform::data::BoundValue;
using platform::data::sqlite::RecordedStatement;

// A value with its exact kind: [kind, value].
nlohmann::json ToJson(const Variant& v) {
  const int kind = static_cast<int>(v.type());
  switch (v.type()) {
    case VarType::Boolean: return {kind, *v.Get<bool>()};
    case VarType::Byte:
    case VarType::Integer:
    case VarType::Long: return {kind, v.ToLong()};
    case VarType::Double: return {kind, *v.Get<double>()};
    case VarType::Currency: return {kind, v.Get<platform::Currency>()->ticks()};
    case VarType::Date: return {kind, v.Get<platform::Date>()->serial()};
    case VarType::String: return {kind, *v.Get<std::string>()};
    default: return {kind, nullptr};  // Empty, Null; objects are never bound
  }
}

Variant FromJson(const nlohmann::json& j) {
  const auto kind = static_cast<VarType>(j.at(0).get<int>());
  const nlohmann::json& v = j.at(1);
  switch (kind) {
    case VarType::Empty: return Variant();
    case VarType::Boolean: return Variant(v.get<bool>());
    case VarType::Byte: return Variant(static_cast<uint8_t>(v.get<int>()));
    case VarType::Integer: return Variant(static_cast<int16_t>(v.get<int>()));
    case VarType::Long: return Variant(v.get<int32_t>());
    case VarType::Double: return Variant(v.get<double>());
    case VarType::Currency: return Variant(platform::Currency::FromTicks(v.get<int64_t>()));
    case VarType::Date: return Variant(platform::Date::FromSerial(v.get<double>()));
    case VarType::String: return Variant(v.get<std::string>());
    default: return Variant::Null();
  }
}

}  // namespace

void RecordSqlCorpusFromEnvironment() {
  const char* folder = std::getenv("VENDRA_SQL_CORPUS");
  if (!folder || !*folder) return;
  std::filesystem::create_directories(folder);
  struct Sink {
    std::mutex mutex;
    std::ofstream out;
  };
  auto sink = std::make_shared<Sink>();
  sink->out.open(std::filesystem::path(folder) / (std::to_string(getpid()) + ".jsonl"), std::ios::app);
  platform::data::sqlite::SetStatementRecorder([sink](const RecordedStatement& s) {
    nlohmann::json params = nlohmann::json::array();
    for (const BoundValue& b : s.params) params.push_back({b.name, ToJson(b.value)});
    const nlohmann::json line = {{"db", s.catalog}, {"sql", s.sql}, {"params", params}, {"script", s.script}};
    std::lock_guard lock(sink->mutex);
    // Invalid UTF-8 in a hostile test's text is replaced rather than lost.
    sink->out << line.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    sink->out.flush();
  });
}

std::vector<RecordedStatement> ReadSqlCorpus(const std::filesystem::path& folder) {
  std::vector<RecordedStatement> corpus;
  std::error_code ec;
  if (!std::filesystem::is_directory(folder, ec)) return corpus;
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    if (entry.path().extension() == ".jsonl") files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  for (const auto& file : files) {
    std::ifstream in(file);
    std::string text;
    while (std::getline(in, text)) {
      const nlohmann::json j = nlohmann::json::parse(text, nullptr, false);
      if (j.is_discarded()) continue;  // a line cut short by a crashed suite
      RecordedStatement s;
      s.catalog = j.at("db").get<std::string>();
      s.sql = j.at("sql").get<std::string>();
      s.script = j.at("script").get<bool>();
      for (const auto& p : j.at("params")) s.params.push_back({p.at(0).get<std::string>(), FromJson(p.at(1))});
      corpus.push_back(std::move(s));
    }
  }
  return corpus;
}

}  // namespace vendra_test
