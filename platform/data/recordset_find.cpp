// Find and Sort over the rows of a record set, done in memory as the client
// cursor engine does: text compares without regard to case.
#include <algorithm>
#include <cstdio>

#include "platform/core/com_error.h"
#include "platform/data/data_util.h"
#include "platform/data/recordset.h"

namespace platform::data {

namespace {

enum class Op { Eq, Ne, Lt, Gt, Le, Ge, Like };

struct Criterion {
  int field = -1;
  Op op = Op::Eq;
  Variant value;
};

[[noreturn]] void BadCriteria(std::string_view criteria, std::string_view why) {
  detail::RaiseData(data_err::kBadArguments, "Recordset",
                    "Find criteria \"" + std::string(criteria) + "\": " + std::string(why));
}

// "3 / 7 / 2026 14:30" (the classic #m/d/yyyy# form) or an ISO date.
std::optional<Date> ParseCriteriaDate(std::string_view text) {
  if (auto d = Date::Parse(text)) return d;
  int m = 0, d = 0, y = 0, hh = 0, mm = 0, ss = 0;
  const std::string t(text);
  const int n = std::sscanf(t.c_str(), "%d/%d/%d %d:%d:%d", &m, &d, &y, &hh, &mm, &ss);
  if (n != 3 && n != 5 && n != 6) return std::nullopt;
  try {
    return Date::FromParts(y, m, d, hh, mm, ss);
  } catch (const ComError&) {
    return std::nullopt;
  }
}

Criterion ParseCriterion(const RowStore& store, std::string_view criteria) {
  std::string_view s = detail::Trim(criteria);
  Criterion c;
  std::string name;
  size_t i = 0;
  if (!s.empty() && s[0] == '[') {
    const size_t close = s.find(']');
    if (close == std::string_view::npos) BadCriteria(criteria, "unclosed [");
    name = std::string(s.substr(1, close - 1));
    i = close + 1;
  } else {
    while (i < s.size() && s[i] != ' ' && s[i] != '\t' && s[i] != '=' && s[i] != '<' &&
           s[i] != '>' && s[i] != '!')
      ++i;
    name = std::string(s.substr(0, i));
  }
  if (name.empty()) BadCriteria(criteria, "no column is named");
  c.field = store.FieldIndex(name);
  if (c.field < 0) {
    detail::RaiseData(data_err::kItemNotFound, "Recordset",
                      detail::DataErrorText(data_err::kItemNotFound) + " (" + name + ")");
  }
  std::string_view rest = detail::Trim(s.substr(i));
  auto starts = [&](std::string_view p) { return rest.substr(0, p.size()) == p; };
  if (starts("<=")) {
    c.op = Op::Le, rest.remove_prefix(2);
  } else if (starts(">=")) {
    c.op = Op::Ge, rest.remove_prefix(2);
  } else if (starts("<>") || starts("!=")) {
    c.op = Op::Ne, rest.remove_prefix(2);
  } else if (starts("=")) {
    c.op = Op::Eq, rest.remove_prefix(1);
  } else if (starts("<")) {
    c.op = Op::Lt, rest.remove_prefix(1);
  } else if (starts(">")) {
    c.op = Op::Gt, rest.remove_prefix(1);
  } else if (rest.size() > 4 && detail::EqualsNoCase(rest.substr(0, 4), "LIKE") &&
             (rest[4] == ' ' || rest[4] == '\'' || rest[4] == '\t')) {
    c.op = Op::Like, rest.remove_prefix(4);
  } else {
    BadCriteria(criteria, "no comparison operator (=, <>, <, >, <=, >=, LIKE)");
  }
  rest = detail::Trim(rest);
  if (rest.empty()) BadCriteria(criteria, "no value to compare with");
  if (rest[0] == '\'') {
    std::string text;
    size_t j = 1;
    bool closed = false;
    while (j < rest.size()) {
      if (rest[j] == '\'') {
        if (j + 1 < rest.size() && rest[j + 1] == '\'') {
          text += '\'';
          j += 2;
          continue;
        }
        closed = true;
        ++j;
        break;
      }
      text += rest[j++];
    }
    if (!closed || !detail::Trim(rest.substr(j)).empty()) BadCriteria(criteria, "bad text literal");
    c.value = Variant(std::move(text));
  } else if (rest[0] == '#') {
    const size_t close = rest.find('#', 1);
    if (close == std::string_view::npos || close + 1 != rest.size()) BadCriteria(criteria, "bad #date#");
    auto d = ParseCriteriaDate(rest.substr(1, close - 1));
    if (!d) BadCriteria(criteria, "bad #date#");
    c.value = Variant(*d);
  } else if (detail::EqualsNoCase(rest, "NULL")) {
    c.value = Variant::Null();
  } else {
    double d;
    try {
      d = ParseNumber(rest);
    } catch (const ComError&) {
      BadCriteria(criteria, "the value is no number, quoted text or #date#");
    }
    if (d == RoundHalfEven(d) && d >= INT32_MIN && d <= INT32_MAX) {
      c.value = Variant(static_cast<int32_t>(d));
    } else {
      c.value = Variant(d);
    }
  }
  if (c.op == Op::Like && !c.value.IsString()) BadCriteria(criteria, "LIKE needs a quoted pattern");
  return c;
}

char Fold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c; }

// * and % stand for any run of characters; everything else matches itself,
// without regard to case.
bool Like(std::string_view text, std::string_view pattern) {
  size_t t = 0, p = 0, star = std::string_view::npos, mark = 0;
  while (t < text.size()) {
    if (p < pattern.size() && (pattern[p] == '*' || pattern[p] == '%')) {
      star = p++;
      mark = t;
    } else if (p < pattern.size() && Fold(pattern[p]) == Fold(text[t])) {
      ++p;
      ++t;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      t = ++mark;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && (pattern[p] == '*' || pattern[p] == '%')) ++p;
  return p == pattern.size();
}

// -1/0/1, or nullopt when the two cannot be compared.
std::optional<int> CompareValues(const Variant& a, const Variant& b) {
  if (a.IsString() && b.IsString()) return detail::CompareNoCase(*a.Get<std::string>(), *b.Get<std::string>());
  Variant right = b;
  if (a.Get<Date>() && b.IsString()) {
    auto d = ParseCriteriaDate(*b.Get<std::string>());
    if (!d) return std::nullopt;
    right = Variant(*d);
  }
  if (a.Get<bool>() && right.IsNumeric()) {
    // A flag matches 1 and -1 alike: both are "true" to whoever wrote them.
    const bool x = *a.Get<bool>();
    const bool y = right.ToBool();
    return x == y ? 0 : (x ? 1 : -1);
  }
  try {
    const std::partial_ordering o = Compare(a, right);
    if (o == std::partial_ordering::less) return -1;
    if (o == std::partial_ordering::greater) return 1;
    if (o == std::partial_ordering::equivalent) return 0;
  } catch (const ComError&) {
  }
  return std::nullopt;
}

bool Matches(const Variant& stored, const Criterion& c) {
  const bool null = stored.IsMissing();
  if (c.value.IsNull()) {
    if (c.op == Op::Eq) return null;
    if (c.op == Op::Ne) return !null;
    return false;
  }
  if (null) return false;
  if (c.op == Op::Like) {
    std::string text;
    try {
      text = stored.ToString();
    } catch (const ComError&) {
      return false;
    }
    return Like(text, *c.value.Get<std::string>());
  }
  const std::optional<int> r = CompareValues(stored, c.value);
  if (!r) return false;
  switch (c.op) {
    case Op::Eq: return *r == 0;
    case Op::Ne: return *r != 0;
    case Op::Lt: return *r < 0;
    case Op::Gt: return *r > 0;
    case Op::Le: return *r <= 0;
    case Op::Ge: return *r >= 0;
    default: return false;
  }
}

// Nulls first, then by value; values of kinds that do not compare keep their
// relative order by kind.
int SortCompare(const Variant& a, const Variant& b) {
  const bool na = a.IsMissing(), nb = b.IsMissing();
  if (na || nb) return na == nb ? 0 : (na ? -1 : 1);
  if (auto r = CompareValues(a, b)) return *r;
  const auto ta = static_cast<int>(a.type()), tb = static_cast<int>(b.type());
  return ta == tb ? 0 : (ta < tb ? -1 : 1);
}

}  // namespace

bool Recordset::Find(std::string_view criteria, int32_t skip, int32_t direction,
                     const Variant& start) {
  RequireOpen();
  if (direction != adSearchForward && direction != adSearchBackward)
    detail::RaiseData(data_err::kBadArguments, "Recordset");
  const Criterion c = ParseCriterion(*store_, criteria);
  FlushImmediateEdit();
  const int64_t size = SequenceSize();
  int64_t seq;
  if (start.IsMissing() || (start.IsNumeric() && start.ToDouble() == adBookmarkCurrent)) {
    if (direction > 0) {
      seq = at_eof_ ? size : (pos_ < 0 ? 0 : pos_);
    } else {
      seq = at_eof_ ? size - 1 : pos_;
    }
  } else if (start.IsNumeric() && start.ToDouble() == adBookmarkFirst) {
    seq = 0;
  } else if (start.IsNumeric() && start.ToDouble() == adBookmarkLast) {
    seq = size - 1;
  } else {
    GoToRow(static_cast<int64_t>(start.ToDouble()) - 1);
    seq = pos_;
  }
  seq += static_cast<int64_t>(skip) * direction;
  const size_t f = static_cast<size_t>(c.field);
  for (; seq >= 0 && seq < size; seq += direction) {
    const Row& r = store_->rows[static_cast<size_t>(RowAt(seq))];
    if (r.Live() && Matches(r.values[f], c)) {
      pos_ = seq;
      at_eof_ = false;
      return true;
    }
  }
  if (direction > 0) {
    pos_ = size;
    at_eof_ = true;
  } else {
    pos_ = -1;
    at_eof_ = false;
  }
  return false;
}

void Recordset::SetSort(std::string_view sort) {
  RequireOpen();
  struct Key {
    size_t field;
    bool desc;
  };
  std::vector<Key> keys;
  std::string_view rest = sort;
  while (!detail::Trim(rest).empty()) {
    const size_t comma = rest.find(',');
    std::string_view item = detail::Trim(rest.substr(0, comma));
    rest = comma == std::string_view::npos ? std::string_view() : rest.substr(comma + 1);
    bool desc = false;
    const size_t blank = item.find_last_of(" \t");
    if (blank != std::string_view::npos) {
      const std::string_view word = item.substr(blank + 1);
      if (detail::EqualsNoCase(word, "DESC")) {
        desc = true;
        item = detail::Trim(item.substr(0, blank));
      } else if (detail::EqualsNoCase(word, "ASC")) {
        item = detail::Trim(item.substr(0, blank));
      }
    }
    if (item.size() >= 2 && item.front() == '[' && item.back() == ']') item = item.substr(1, item.size() - 2);
    const int field = store_->FieldIndex(item);
    if (field < 0) {
      detail::RaiseData(data_err::kItemNotFound, "Recordset",
                        detail::DataErrorText(data_err::kItemNotFound) + " (" + std::string(item) + ")");
    }
    keys.push_back({static_cast<size_t>(field), desc});
  }
  FlushImmediateEdit();
  sort_ = std::string(detail::Trim(sort));
  if (keys.empty()) {
    sorted_ = false;
    order_.clear();
    ordered_rows_ = 0;
  } else {
    order_.resize(store_->rows.size());
    for (size_t i = 0; i < order_.size(); ++i) order_[i] = static_cast<int64_t>(i);
    const auto& rows = store_->rows;
    std::stable_sort(order_.begin(), order_.end(), [&](int64_t x, int64_t y) {
      for (const Key& k : keys) {
        const int r = SortCompare(rows[static_cast<size_t>(x)].values[k.field],
                                  rows[static_cast<size_t>(y)].values[k.field]);
        if (r != 0) return k.desc ? r > 0 : r < 0;
      }
      return false;
    });
    ordered_rows_ = store_->rows.size();
    sorted_ = true;
  }
  SeekLive(0, 1);
}

}  // namespace platform::data
