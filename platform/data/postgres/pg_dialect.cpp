#include "platform/data/postgres/pg_dialect.h"

#include <cctype>
#include <mutex>
#include <shared_mutex>

#include "platform/data/data_util.h"
#include "platform/data/sql_dialect.h"

namespace platform::data::postgres {

namespace {

bool IsWordStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || static_cast<unsigned char>(c) >= 0x80;
}
bool IsWordChar(char c) {
  return IsWordStart(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '$';
}
bool IsBlank(char c) { return detail::IsSqlBlank(c); }

// The domain a SQL Server type becomes, or empty when the type stays as it is.
std::string DomainOf(const std::string& upper_type, std::string_view args) {
  static const char* kTexts[] = {"NVARCHAR", "VARCHAR", "NCHAR", "CHAR", "NTEXT", "TEXT", "UNIQUEIDENTIFIER"};
  for (const char* t : kTexts) {
    if (upper_type != t) continue;
    std::string a = detail::Upper(detail::Trim(args));
    if (a.empty()) return upper_type;
    for (char c : a)
      if (!std::isdigit(static_cast<unsigned char>(c)) && a != "MAX") return {};
    return upper_type + "(" + a + ")";
  }
  if (upper_type == "BIT" || upper_type == "TINYINT") return upper_type;
  if (upper_type == "MONEY" || upper_type == "SMALLMONEY") return "MONEY";
  if (upper_type == "DATETIME" || upper_type == "DATETIME2" || upper_type == "SMALLDATETIME") return "DATETIME";
  return {};
}

class PgTranslator {
 public:
  explicit PgTranslator(std::string_view in) : in_(in) { out_.text.reserve(in.size() + 16); }

  PgStatement Run() {
    while (i_ < in_.size()) Step();
    return std::move(out_);
  }

 private:
  std::string& text() { return out_.text; }

  void Note(std::string token) {
    prevprev_ = std::move(prev_);
    prev_ = std::move(token);
  }

  void Spell(std::string_view name) {
    out_.spellings.emplace(detail::Lower(name), std::string(name));
  }

  void Step() {
    const char c = in_[i_];
    const char next = i_ + 1 < in_.size() ? in_[i_ + 1] : '\0';
    if (c == '\'') return CopyQuoted();
    if (c == '-' && next == '-') {
      const size_t end = in_.find('\n', i_);
      return CopyUntil(end == std::string_view::npos ? in_.size() : end);
    }
    if (c == '/' && next == '*') {
      const size_t end = in_.find("*/", i_ + 2);
      return CopyUntil(end == std::string_view::npos ? in_.size() : end + 2);
    }
    if (c == '$' && (next == '$' || IsWordStart(next))) {
      if (DollarQuoted()) return;
    }
    if (c == '"') return QuotedName();
    if (c == '?') {
      out_.parameters.emplace_back();
      text() += '$' + std::to_string(out_.parameters.size());
      ++i_;
      return Note("?");
    }
    if (c == '@' && IsWordStart(next)) return NamedParameter();
    if (IsWordStart(c)) return Word();
    if (std::isdigit(static_cast<unsigned char>(c))) return Number();
    if (c == '(') {
      ++depth_;
    } else if (c == ')') {
      if (!casts_.empty() && casts_.back() == depth_) casts_.pop_back();
      if (depth_ > 0) --depth_;
    } else if (c == ';') {
      statement_start_ = true;
      ddl_ = false;
    }
    text() += c;
    ++i_;
    if (!IsBlank(c)) Note(std::string(1, c));
  }

  void CopyUntil(size_t end) {
    text().append(in_.substr(i_, end - i_));
    i_ = end;
  }

  void CopyQuoted() {
    size_t j = i_ + 1;
    while (j < in_.size()) {
      if (in_[j] == '\'') {
        if (j + 1 < in_.size() && in_[j + 1] == '\'') {
          j += 2;
          continue;
        }
        ++j;
        break;
      }
      ++j;
    }
    CopyUntil(j);
    Note("'");
  }

  // $$...$$ or $tag$...$tag$ (function bodies in scripts): copied as they are.
  bool DollarQuoted() {
    size_t j = i_ + 1;
    while (j < in_.size() && in_[j] != '$' && IsWordChar(in_[j]) ) ++j;
    if (j >= in_.size() || in_[j] != '$') return false;
    const std::string tag(in_.substr(i_, j - i_ + 1));
    const size_t end = in_.find(tag, j + 1);
    CopyUntil(end == std::string_view::npos ? in_.size() : end + tag.size());
    Note("'");
    return true;
  }

  void QuotedName() {
    std::string name;
    size_t j = i_ + 1;
    while (j < in_.size()) {
      if (in_[j] == '"') {
        if (j + 1 < in_.size() && in_[j + 1] == '"') {
          name += '"';
          j += 2;
          continue;
        }
        ++j;
        break;
      }
      name += in_[j++];
    }
    i_ = j;
    Spell(name);
    text() += '"';
    for (char ch : detail::Lower(name)) {
      if (ch == '"') text() += '"';
      text() += ch;
    }
    text() += '"';
    Note("\"");
    statement_start_ = false;
  }

  void NamedParameter() {
    size_t j = i_ + 1;
    while (j < in_.size() && IsWordChar(in_[j]) && in_[j] != '$') ++j;
    const std::string name(in_.substr(i_, j - i_));
    size_t index = 0;
    for (size_t k = 0; k < out_.parameters.size(); ++k) {
      if (detail::EqualsNoCase(out_.parameters[k], name)) index = k + 1;
    }
    if (index == 0) {
      out_.parameters.push_back(name);
      index = out_.parameters.size();
    }
    text() += '$' + std::to_string(index);
    i_ = j;
    Note("?");
  }

  void Number() {
    CopyUntil(detail::SqlNumberEnd(in_, i_));
    Note("0");
  }

  size_t SkipBlanks(size_t j) const {
    while (j < in_.size() && IsBlank(in_[j])) ++j;
    return j;
  }

  bool FollowedBy(size_t j, std::string_view word) const {
    j = SkipBlanks(j);
    return j + word.size() <= in_.size() && detail::EqualsNoCase(in_.substr(j, word.size()), word) &&
           (j + word.size() == in_.size() || !IsWordChar(in_[j + word.size()]));
  }

  // Whether a type word at this point is a type: a column definition
  // ("(Name NVARCHAR(50)", ", Name BIT", "ADD Name MONEY") or a CAST target.
  bool TypeContext() const {
    if (!casts_.empty() && casts_.back() == depth_ && prev_ == "AS") return true;
    if (!ddl_) return false;
    const bool prev_is_name = prev_ == "\"" || prev_ == "W";
    return prev_is_name && (prevprev_ == "(" || prevprev_ == "," || prevprev_ == "ADD" || prevprev_ == "COLUMN");
  }

  void Word() {
    size_t j = i_;
    while (j < in_.size() && IsWordChar(in_[j])) ++j;
    const std::string_view word = in_.substr(i_, j - i_);
    const std::string upper = detail::Upper(word);
    const bool after_dot = i_ > 0 && in_[i_ - 1] == '.';
    const size_t after = SkipBlanks(j);
    const bool paren = after < in_.size() && in_[after] == '(';
    if (statement_start_) {
      ddl_ = upper == "CREATE" || upper == "ALTER";
      statement_start_ = false;
    }
    if (!after_dot) {
      if (paren && upper == "IFNULL") {
        text() += "COALESCE";
        i_ = j;
        return Note("F");
      }
      if (paren && upper == "CAST") {
        text().append(word);
        i_ = j;
        casts_.push_back(depth_ + 1);
        return Note("F");
      }
      if (paren && word == kNowFunction) {
        size_t close = SkipBlanks(after + 1);
        if (close < in_.size() && in_[close] == ')') {
          out_.now_at.push_back(text().size());
          i_ = close + 1;
          return Note("0");
        }
      }
      if (!paren && upper == "ROWID") {
        out_.rowid_at.push_back(text().size());
        i_ = j;
        return Note("W");
      }
      if (upper == "COLLATE" && FollowedBy(j, "NOCASE")) {
        // Texts compare without regard to case already (citext).
        size_t k = SkipBlanks(j) + 6;
        while (!text().empty() && IsBlank(text().back())) text().pop_back();
        i_ = k;
        return;
      }
      if (upper == "AUTOINCREMENT" && ddl_) {
        i_ = j;
        return;
      }
      if (upper == "IDENTITY" && ddl_) {
        text() += "GENERATED BY DEFAULT AS IDENTITY";
        i_ = j;
        if (paren) {
          const size_t close = in_.find(')', after);
          i_ = close == std::string_view::npos ? in_.size() : close + 1;
        }
        return Note("K");
      }
      if (TypeContext()) {
        if ((upper == "INTEGER" || upper == "INT") && ddl_ && FollowedBy(j, "PRIMARY")) {
          text() += "INTEGER GENERATED BY DEFAULT AS IDENTITY";
          i_ = j;
          return Note("T");
        }
        std::string_view args;
        size_t end = j;
        if (paren) {
          const size_t close = in_.find(')', after);
          if (close != std::string_view::npos) {
            args = in_.substr(after + 1, close - after - 1);
            end = close + 1;
          }
        }
        const std::string domain = DomainOf(upper, args);
        if (!domain.empty()) {
          text() += '"' + domain + '"';
          out_.domains.push_back(domain);
          i_ = end;
          return Note("T");
        }
      }
    }
    Spell(word);
    text().append(word);
    i_ = j;
    static const char* kKeywords[] = {"AS", "ADD", "COLUMN", "TABLE", "CONSTRAINT", "PRIMARY",
                                      "KEY", "NOT", "NULL", "DEFAULT", "REFERENCES", "UNIQUE",
                                      "CHECK", "FOREIGN", "ON", "INDEX", "IF", "EXISTS"};
    for (const char* k : kKeywords) {
      if (upper == k) return Note(upper);
    }
    Note("W");
  }

  std::string_view in_;
  PgStatement out_;
  size_t i_ = 0;
  int depth_ = 0;
  std::vector<int> casts_;  // depths inside CAST( ... )
  bool statement_start_ = true;
  bool ddl_ = false;
  std::string prev_, prevprev_;
};

struct Cache {
  std::shared_mutex mutex;
  std::unordered_map<std::string, std::shared_ptr<const PgStatement>> entries;
};

constexpr size_t kMaxCachedStatements = 8192;

}  // namespace

PgStatement TranslateToPostgres(std::string_view canonical) {
  return PgTranslator(TranslateToSqlite(canonical)).Run();
}

std::shared_ptr<const PgStatement> CachedPostgresStatement(std::string_view canonical) {
  static Cache cache;
  const std::string key(canonical);
  {
    std::shared_lock lock(cache.mutex);
    auto it = cache.entries.find(key);
    if (it != cache.entries.end()) return it->second;
  }
  auto translated = std::make_shared<const PgStatement>(TranslateToPostgres(canonical));
  std::unique_lock lock(cache.mutex);
  // Statements with values pasted in never repeat: they are not kept.
  if (cache.entries.size() >= kMaxCachedStatements) return translated;
  return cache.entries.emplace(key, std::move(translated)).first->second;
}

std::string DomainDefinition(std::string_view domain) {
  std::string base, check;
  const std::string d(domain);
  const size_t open = d.find('(');
  const std::string type = d.substr(0, open);
  if (type == "BIT") {
    // Any number: the instance's flag triggers store 1 for a non-zero one
    // (True written as -1 or 255), which a check here would refuse first.
    base = "smallint";
  } else if (type == "TINYINT") {
    base = "smallint";
    check = "VALUE BETWEEN 0 AND 255";
  } else if (type == "MONEY") {
    base = "numeric(19,4)";
  } else if (type == "DATETIME") {
    base = "timestamp(0)";
  } else if (DomainOf(type, {}) == type) {
    base = "citext";
    if (open != std::string::npos) {
      const std::string n = d.substr(open + 1, d.size() - open - 2);
      if (n != "MAX") check = "char_length(VALUE) <= " + n;
    }
  } else {
    return {};
  }
  std::string quoted = "\"" + d + "\"";
  return "DO $vendra$ BEGIN CREATE DOMAIN " + quoted + " AS " + base +
         (check.empty() ? std::string() : " CHECK (" + check + ")") +
         "; EXCEPTION WHEN duplicate_object OR unique_violation THEN NULL; END $vendra$";
}

}  // namespace platform::data::postgres
