#include "platform/data/sql_dialect.h"

#include <cctype>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>
#include <vector>

#include "platform/data/data_util.h"

namespace platform::data {

namespace {

bool IsWordStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '@' || c == '#' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool IsWordChar(char c) {
  return IsWordStart(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '$';
}
bool IsBlank(char c) { return detail::IsSqlBlank(c); }

class Translator {
 public:
  explicit Translator(std::string_view in) : in_(in) { out_.reserve(in.size() + 16); }

  std::string Run() {
    while (i_ < in_.size()) Step();
    FlushLimits(-1);
    return std::move(out_);
  }

 private:
  struct Limit {
    int depth;
    std::string count;
  };

  void Step() {
    const char c = in_[i_];
    const char next = i_ + 1 < in_.size() ? in_[i_ + 1] : '\0';
    if (c == '\'') return CopyQuoted('\'');
    if (c == '-' && next == '-') {
      const size_t end = in_.find('\n', i_);
      return CopyUntil(end == std::string_view::npos ? in_.size() : end);
    }
    if (c == '/' && next == '*') {
      const size_t end = in_.find("*/", i_ + 2);
      return CopyUntil(end == std::string_view::npos ? in_.size() : end + 2);
    }
    if (c == '"') return NamePart(ReadQuotedName('"', '"'), false);
    if (c == '[') return NamePart(ReadQuotedName('[', ']'), true);
    if (IsWordStart(c)) return Word();
    if (std::isdigit(static_cast<unsigned char>(c)) ||
        (c == '.' && std::isdigit(static_cast<unsigned char>(next)))) {
      return Number();
    }
    expect_part_ = false;
    if (!IsBlank(c)) select_pending_ = false;
    if (c == '(') {
      ++depth_;
    } else if (c == ')') {
      FlushLimits(depth_);
      if (depth_ > 0) --depth_;
    } else if (c == ';') {
      FlushLimits(-1);
    }
    out_ += c;
    ++i_;
  }

  void CopyUntil(size_t end) {
    out_.append(in_.substr(i_, end - i_));
    i_ = end;
  }

  // A text literal, '' inside it kept as it is.
  void CopyQuoted(char q) {
    expect_part_ = false;
    select_pending_ = false;
    size_t j = i_ + 1;
    while (j < in_.size()) {
      if (in_[j] == q) {
        if (j + 1 < in_.size() && in_[j + 1] == q) {
          j += 2;
          continue;
        }
        ++j;
        break;
      }
      ++j;
    }
    CopyUntil(j);
  }

  // The name inside "..." or [...], unescaped.
  std::string ReadQuotedName(char open, char close) {
    std::string name;
    size_t j = i_ + 1;
    while (j < in_.size()) {
      if (in_[j] == close) {
        if (j + 1 < in_.size() && in_[j + 1] == close) {
          name += close;
          j += 2;
          continue;
        }
        ++j;
        break;
      }
      name += in_[j++];
    }
    (void)open;
    i_ = j;
    return name;
  }

  // One part of a (possibly) dotted name. "dbo" followed by a dot drops
  // itself and every part before it; "db..table" likewise.
  void NamePart(const std::string& name, bool quoted_form_bracket) {
    select_pending_ = false;
    if (!expect_part_) chain_start_ = out_.size();
    expect_part_ = false;
    const bool dot = i_ < in_.size() && in_[i_] == '.';
    if (dot && detail::EqualsNoCase(name, "dbo")) {
      out_.resize(chain_start_);
      ++i_;
      expect_part_ = true;
      return;
    }
    if (dot && i_ + 1 < in_.size() && in_[i_ + 1] == '.') {
      out_.resize(chain_start_);
      i_ += 2;
      expect_part_ = true;
      return;
    }
    (void)quoted_form_bracket;
    out_ += '"';
    for (char ch : name) {
      if (ch == '"') out_ += '"';
      out_ += ch;
    }
    out_ += '"';
    AfterPart();
  }

  void AfterPart() {
    if (i_ < in_.size() && in_[i_] == '.') {
      if (i_ + 1 < in_.size() && in_[i_ + 1] == '.') {
        out_.resize(chain_start_);
        i_ += 2;
        expect_part_ = true;
        return;
      }
      out_ += '.';
      ++i_;
      expect_part_ = true;
    }
  }

  void Number() {
    expect_part_ = false;
    select_pending_ = false;
    CopyUntil(detail::SqlNumberEnd(in_, i_));
  }

  bool FollowedByParen(size_t j) const {
    while (j < in_.size() && IsBlank(in_[j])) ++j;
    return j < in_.size() && in_[j] == '(';
  }

  void Word() {
    size_t j = i_;
    while (j < in_.size() && IsWordChar(in_[j])) ++j;
    const std::string_view word = in_.substr(i_, j - i_);
    const bool after_dot = expect_part_;

    // N'text': SQL Server's Unicode literal; SQLite text is Unicode already.
    if (!after_dot && (word == "N" || word == "n") && j < in_.size() && in_[j] == '\'') {
      i_ = j;
      return CopyQuoted('\'');
    }
    const bool dotted = j < in_.size() && in_[j] == '.';
    if (!after_dot && !dotted) {
      if (detail::EqualsNoCase(word, "SELECT")) {
        i_ = j;
        out_.append(word);
        select_pending_ = true;
        select_depth_ = depth_;
        return;
      }
      if (select_pending_ && (detail::EqualsNoCase(word, "DISTINCT") || detail::EqualsNoCase(word, "ALL"))) {
        i_ = j;
        out_.append(word);
        return;
      }
      if (select_pending_ && detail::EqualsNoCase(word, "TOP") && ReadTop(j)) return;
      if (FollowedByParen(j)) {
        if (detail::EqualsNoCase(word, "GETDATE")) {
          // The clock of the platform, so tests can fix "now".
          size_t k = j;
          while (k < in_.size() && IsBlank(in_[k])) ++k;
          size_t close = k + 1;
          while (close < in_.size() && IsBlank(in_[close])) ++close;
          if (close < in_.size() && in_[close] == ')') {
            out_.append(kNowFunction);
            out_.append("()");
            i_ = close + 1;
            select_pending_ = false;
            return;
          }
        }
        if (detail::EqualsNoCase(word, "ISNULL")) return Replace(j, "IFNULL");
        if (detail::EqualsNoCase(word, "LEN")) return Replace(j, "LENGTH");
      }
    }
    select_pending_ = false;
    i_ = j;
    if (!after_dot) chain_start_ = out_.size();
    expect_part_ = false;
    if (dotted && detail::EqualsNoCase(word, "dbo")) {
      out_.resize(chain_start_);
      ++i_;
      expect_part_ = true;
      return;
    }
    out_.append(word);
    AfterPart();
  }

  void Replace(size_t j, std::string_view with) {
    select_pending_ = false;
    expect_part_ = false;
    out_.append(with);
    i_ = j;
  }

  // "TOP n", "TOP (n)"; anything else ("TOP 10 PERCENT") is left alone.
  bool ReadTop(size_t j) {
    size_t k = j;
    while (k < in_.size() && IsBlank(in_[k])) ++k;
    bool paren = false;
    if (k < in_.size() && in_[k] == '(') {
      paren = true;
      ++k;
      while (k < in_.size() && IsBlank(in_[k])) ++k;
    }
    size_t start = k;
    if (k < in_.size() && in_[k] == '?') {
      ++k;
    } else {
      while (k < in_.size() && std::isdigit(static_cast<unsigned char>(in_[k]))) ++k;
    }
    if (k == start) return false;
    std::string count(in_.substr(start, k - start));
    if (paren) {
      while (k < in_.size() && IsBlank(in_[k])) ++k;
      if (k >= in_.size() || in_[k] != ')') return false;
      ++k;
    }
    size_t after = k;
    while (after < in_.size() && IsBlank(in_[after])) ++after;
    size_t w = after;
    while (w < in_.size() && IsWordChar(in_[w])) ++w;
    if (detail::EqualsNoCase(in_.substr(after, w - after), "PERCENT")) return false;
    limits_.push_back({select_depth_, std::move(count)});
    select_pending_ = false;
    // Drop "TOP n" and the blanks after it; the blank before it stays.
    i_ = after;
    return true;
  }

  // Appends the LIMIT of every SELECT opened at depth (or all, for -1).
  void FlushLimits(int depth) {
    while (!limits_.empty() && (depth < 0 || limits_.back().depth >= depth)) {
      // Keep the blanks and a trailing comment of the statement after LIMIT.
      size_t end = out_.size();
      while (end > 0 && IsBlank(out_[end - 1])) --end;
      std::string tail = out_.substr(end);
      out_.resize(end);
      out_ += " LIMIT ";
      out_ += limits_.back().count;
      out_ += tail;
      limits_.pop_back();
    }
  }

  std::string_view in_;
  std::string out_;
  size_t i_ = 0;
  int depth_ = 0;
  bool select_pending_ = false;
  int select_depth_ = 0;
  bool expect_part_ = false;  // a dot was just written after a name part
  size_t chain_start_ = 0;
  std::vector<Limit> limits_;
};

struct Cache {
  std::shared_mutex mutex;
  std::unordered_map<std::string, std::string> entries;
};

Cache& TheCache() {
  static Cache cache;
  return cache;
}

constexpr size_t kMaxCachedStatements = 8192;

}  // namespace

std::string TranslateToSqlite(std::string_view canonical) { return Translator(canonical).Run(); }

const std::string& CachedSqliteText(std::string_view canonical) {
  Cache& cache = TheCache();
  const std::string key(canonical);
  {
    std::shared_lock lock(cache.mutex);
    auto it = cache.entries.find(key);
    if (it != cache.entries.end()) return it->second;
  }
  std::string translated = TranslateToSqlite(canonical);
  std::unique_lock lock(cache.mutex);
  if (cache.entries.size() >= kMaxCachedStatements) {
    // Statements with values pasted in never repeat; do not let them grow the
    // cache without bound.
    thread_local std::string uncached;
    uncached = std::move(translated);
    return uncached;
  }
  return cache.entries.emplace(key, std::move(translated)).first->second;
}

std::string QuoteIdentifier(std::string_view name) {
  std::string out = "\"";
  for (char c : name) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace platform::data
