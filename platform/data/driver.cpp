#include "platform/data/driver.h"

#include "platform/data/ado_types.h"
#include "platform/data/data_util.h"
#include "platform/data/postgres/pg_driver.h"
#include "platform/data/sqlite/sqlite_driver.h"

namespace platform::data {

DatabaseError::DatabaseError(DataError detail)
    : ComError(detail.number, detail.source, detail.description), detail_(std::move(detail)) {}

namespace {

// "Data Source", "data  source" and "DATA SOURCE" are one key.
std::string FoldKey(std::string_view key) {
  std::string out;
  for (char c : detail::Trim(key)) {
    if (c == ' ' || c == '\t') {
      if (!out.empty() && out.back() != ' ') out += ' ';
      continue;
    }
    out += static_cast<char>((c >= 'A' && c <= 'Z') ? c + 32 : c);
  }
  return out;
}

}  // namespace

ConnectionSettings ConnectionSettings::Parse(std::string_view text) {
  ConnectionSettings s;
  size_t i = 0;
  while (i < text.size()) {
    const size_t eq = text.find('=', i);
    if (eq == std::string_view::npos) break;
    const std::string key = FoldKey(text.substr(i, eq - i));
    size_t j = eq + 1;
    while (j < text.size() && (text[j] == ' ' || text[j] == '\t')) ++j;
    std::string value;
    if (j < text.size() && (text[j] == '"' || text[j] == '\'')) {
      // A quoted value may hold ";" (a folder name); the quote doubled is itself.
      const char q = text[j++];
      while (j < text.size()) {
        if (text[j] == q) {
          if (j + 1 < text.size() && text[j + 1] == q) {
            value += q;
            j += 2;
            continue;
          }
          ++j;
          break;
        }
        value += text[j++];
      }
      const size_t semi = text.find(';', j);
      i = semi == std::string_view::npos ? text.size() : semi + 1;
    } else {
      const size_t semi = text.find(';', j);
      const size_t end = semi == std::string_view::npos ? text.size() : semi;
      value = std::string(detail::Trim(text.substr(j, end - j)));
      i = semi == std::string_view::npos ? text.size() : semi + 1;
    }
    if (!key.empty()) s.values_[key] = value;
  }
  return s;
}

std::string ConnectionSettings::Get(std::string_view key) const {
  auto it = values_.find(FoldKey(key));
  if (it != values_.end()) return it->second;
  // The server/catalog spellings name the same things.
  const std::string k = FoldKey(key);
  if (k == "data source") return Has("server") ? Get("server") : std::string();
  if (k == "initial catalog") return Has("database") ? Get("database") : std::string();
  return {};
}

bool ConnectionSettings::Has(std::string_view key) const {
  return values_.count(FoldKey(key)) != 0;
}

Driver& FindDriver(std::string_view provider) {
  const std::string p = detail::Upper(detail::Trim(provider));
  if (p == "SQLITE" || p == "SQLITE3") return sqlite::TheDriver();
  if (p == "POSTGRESQL" || p == "POSTGRES") return postgres::TheDriver();
  detail::RaiseData(data_err::kProviderNotFound, "Connection",
                    p.empty() ? "Provider cannot be found: the connection string names no Provider."
                              : "Provider cannot be found. It may not be properly installed. "
                                "(Provider=" + std::string(detail::Trim(provider)) + ")");
}

}  // namespace platform::data
