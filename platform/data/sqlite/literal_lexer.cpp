#include "platform/data/sqlite/literal_lexer.h"

#include <cctype>
#include <limits>

#include "platform/data/data_util.h"

namespace platform::data::sqlite {

namespace {

bool IsWordStart(char c) {
  return std::isalpha(static_cast<unsigned char>(c)) || c == '_' || c == '#' ||
         static_cast<unsigned char>(c) >= 0x80;
}
bool IsWordChar(char c) {
  return IsWordStart(c) || std::isdigit(static_cast<unsigned char>(c)) || c == '$' || c == '@';
}
bool IsDigit(char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; }
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v'; }
bool IsHex(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

bool OneOf(std::string_view word, std::initializer_list<std::string_view> words) {
  for (std::string_view w : words)
    if (word == w) return true;
  return false;
}

// Words after which a minus sign is a sign, not a subtraction.
bool OperatorWord(std::string_view w) {
  return OneOf(w, {"SELECT", "WHERE", "AND", "OR", "NOT", "WHEN", "THEN", "ELSE", "CASE", "BETWEEN",
                   "LIKE", "GLOB", "IS", "HAVING", "ON", "SET", "DISTINCT", "ALL", "ESCAPE", "IN",
                   "RETURN", "VALUES"});
}

class Lexer {
 public:
  explicit Lexer(std::string_view in) : in_(in) { out_.reserve(in.size()); }

  ParameterisedStatement Run() {
    ParameterisedStatement result;
    while (i_ < in_.size()) {
      if (!Step()) return result;  // left whole
    }
    if (literals_.empty()) return result;
    result.parameterised = true;
    result.shape = std::move(out_);
    result.literals = std::move(literals_);
    return result;
  }

 private:
  enum class Region { kSelectList, kOrderBy, kGroupBy, kLimit, kTypeArgs };
  struct Open {
    Region region;
    int depth;
  };
  enum class Prev { kNone, kOperator, kWord, kValue };

  // One token; false when the statement is to be left whole.
  bool Step() {
    const char c = in_[i_];
    const char next = i_ + 1 < in_.size() ? in_[i_ + 1] : '\0';
    if (IsBlank(c)) {
      out_ += c;
      ++i_;
      return true;
    }
    if (c == '-' && next == '-') {
      const size_t end = in_.find('\n', i_);
      Copy(end == std::string_view::npos ? in_.size() : end);
      return true;
    }
    if (c == '/' && next == '*') {
      const size_t end = in_.find("*/", i_ + 2);
      Copy(end == std::string_view::npos ? in_.size() : end + 2);
      return true;
    }
    if (!statement_checked_ && !IsWordStart(c)) return false;  // "(SELECT ...)" and the like
    if (c == '\'') return Text(i_, i_);
    if (c == '"') return QuotedName('"');
    if (c == '[') return QuotedName(']');
    if (c == '`') return QuotedName('`');
    if (c == '?') return false;
    if ((c == ':' || c == '@' || c == '$') && IsWordChar(next)) return false;
    if (IsWordStart(c)) return Word();
    if (IsDigit(c) || (c == '.' && IsDigit(next))) return Number();
    if (c == '(') {
      ++depth_;
      // "AS NVARCHAR(50)": the size of a type is no value.
      if (prev_ == Prev::kWord && prev2_word_ == "AS") opens_.push_back({Region::kTypeArgs, depth_});
    } else if (c == ')') {
      if (depth_ > 0) --depth_;
      while (!opens_.empty() && opens_.back().depth > depth_) opens_.pop_back();
    } else if (c == ';') {
      opens_.clear();
    }
    if (c == '-') {
      minus_at_ = out_.size();
      minus_unary_ = prev_ == Prev::kNone || prev_ == Prev::kOperator ||
                     (prev_ == Prev::kWord && OperatorWord(prev_word_));
    }
    out_ += c;
    ++i_;
    SetPrev(c == ')' ? Prev::kValue : Prev::kOperator);
    return true;
  }

  void Copy(size_t end) {
    out_.append(in_.substr(i_, end - i_));
    i_ = end;
  }

  void SetPrev(Prev p, std::string word = {}) {
    prev2_word_ = prev_ == Prev::kWord ? std::move(prev_word_) : std::string();
    prev_ = p;
    prev_word_ = std::move(word);
  }

  bool Keeping() const {
    return !opens_.empty() || (prev_ == Prev::kWord && (prev_word_ == "AS" || prev_word_ == "COLLATE"));
  }

  // A quoted text starting at quote (its prefix, N or X, at start).
  bool Text(size_t start, size_t quote) {
    size_t j = quote + 1;
    std::string value;
    bool closed = false;
    while (j < in_.size()) {
      if (in_[j] == '\'') {
        if (j + 1 < in_.size() && in_[j + 1] == '\'') {
          value += '\'';
          j += 2;
          continue;
        }
        ++j;
        closed = true;
        break;
      }
      value += in_[j++];
    }
    const bool blob = quote > start && (in_[start] == 'X' || in_[start] == 'x');
    bool take = closed && !Keeping();
    Literal lit;
    if (blob) {
      take = take && value.size() % 2 == 0;
      for (char h : value) take = take && IsHex(h);
      if (take) {
        lit.kind = Literal::Kind::kBlob;
        for (size_t k = 0; k < value.size(); k += 2)
          lit.text += static_cast<char>(std::stoi(value.substr(k, 2), nullptr, 16));
      }
    } else {
      lit.kind = Literal::Kind::kText;
      lit.text = std::move(value);
    }
    if (take) {
      out_ += '?';
      literals_.push_back(std::move(lit));
      i_ = j;
    } else {
      Copy(j);
    }
    SetPrev(Prev::kValue);
    return true;
  }

  bool QuotedName(char close) {
    size_t j = i_ + 1;
    while (j < in_.size()) {
      if (in_[j] == close) {
        if (close != ']' && j + 1 < in_.size() && in_[j + 1] == close) {
          j += 2;
          continue;
        }
        ++j;
        break;
      }
      ++j;
    }
    Copy(j);
    SetPrev(Prev::kValue);
    return true;
  }

  bool Word() {
    size_t j = i_;
    while (j < in_.size() && IsWordChar(in_[j])) ++j;
    const std::string_view word = in_.substr(i_, j - i_);
    if (j < in_.size() && in_[j] == '\'' && word.size() == 1 &&
        (word[0] == 'N' || word[0] == 'n' || word[0] == 'X' || word[0] == 'x') && statement_checked_) {
      return Text(i_, j);
    }
    std::string upper = detail::Upper(word);
    if (!statement_checked_) {
      if (!OneOf(upper, {"SELECT", "INSERT", "UPDATE", "DELETE", "WITH", "REPLACE"})) return false;
      statement_checked_ = true;
    }
    if (OneOf(upper, {"FROM", "WHERE", "GROUP", "HAVING", "ORDER", "LIMIT", "OFFSET", "UNION",
                      "EXCEPT", "INTERSECT", "WINDOW"})) {
      while (!opens_.empty() && opens_.back().depth == depth_ &&
             opens_.back().region != Region::kTypeArgs) {
        opens_.pop_back();
      }
      if (upper == "LIMIT" || upper == "OFFSET") opens_.push_back({Region::kLimit, depth_});
      by_pending_ = upper == "GROUP" ? 1 : upper == "ORDER" ? 2 : 0;
    } else if (upper == "BY" && by_pending_) {
      opens_.push_back({by_pending_ == 1 ? Region::kGroupBy : Region::kOrderBy, depth_});
      by_pending_ = 0;
    } else if (upper == "SELECT") {
      opens_.push_back({Region::kSelectList, depth_});
    }
    Copy(j);
    SetPrev(Prev::kWord, std::move(upper));
    return true;
  }

  bool Number() {
    size_t j = i_;
    bool real = false;
    while (j < in_.size() && IsDigit(in_[j])) ++j;
    if (j < in_.size() && in_[j] == '.') {
      real = true;
      ++j;
      while (j < in_.size() && IsDigit(in_[j])) ++j;
    }
    bool well_formed = true;
    if (j < in_.size() && (in_[j] == 'e' || in_[j] == 'E')) {
      real = true;
      size_t k = j + 1;
      if (k < in_.size() && (in_[k] == '+' || in_[k] == '-')) ++k;
      if (k < in_.size() && IsDigit(in_[k])) {
        while (k < in_.size() && IsDigit(in_[k])) ++k;
        j = k;
      } else {
        well_formed = false;
      }
    }
    // "0x1F", "12abc", "1.2.3": hexadecimal integers and malformed numbers
    // stay for the engine to read (or refuse) as before.
    if (j < in_.size() && (IsWordChar(in_[j]) || in_[j] == '.')) well_formed = false;
    if (!well_formed || Keeping()) {
      while (j < in_.size() && (IsWordChar(in_[j]) || in_[j] == '.')) ++j;
      Copy(j);
      SetPrev(Prev::kValue);
      return true;
    }
    const std::string_view digits = in_.substr(i_, j - i_);
    // A minus sign right before the number, where it can only be a sign.
    const bool negative = minus_at_ + 1 == out_.size() && minus_unary_ && prev_ == Prev::kOperator &&
                          out_.back() == '-';
    Literal lit;
    if (!real) {
      uint64_t v = 0;
      bool overflow = false;
      for (char d : digits) {
        const uint64_t digit = static_cast<uint64_t>(d - '0');
        if (v > (std::numeric_limits<uint64_t>::max() - digit) / 10) {
          overflow = true;
          break;
        }
        v = v * 10 + digit;
      }
      constexpr uint64_t kMax = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
      if (!overflow && v <= kMax) {
        lit.kind = Literal::Kind::kInteger;
        lit.integer = negative ? -static_cast<int64_t>(v) : static_cast<int64_t>(v);
      } else if (!overflow && v == kMax + 1 && negative) {
        lit.kind = Literal::Kind::kInteger;
        lit.integer = std::numeric_limits<int64_t>::min();
      } else {
        real = true;  // beyond 64 bits the engine reads an integer as a real
      }
    }
    if (real) {
      lit.kind = Literal::Kind::kReal;
      lit.text = std::string(digits);
      lit.negative = negative;
    }
    if (negative) out_.pop_back();
    out_ += '?';
    literals_.push_back(std::move(lit));
    i_ = j;
    SetPrev(Prev::kValue);
    return true;
  }

  std::string_view in_;
  std::string out_;
  size_t i_ = 0;
  int depth_ = 0;
  bool statement_checked_ = false;
  int by_pending_ = 0;  // 1 after GROUP, 2 after ORDER
  std::vector<Open> opens_;
  std::vector<Literal> literals_;
  Prev prev_ = Prev::kNone;
  std::string prev_word_;
  std::string prev2_word_;
  size_t minus_at_ = std::string::npos;
  bool minus_unary_ = false;
};

}  // namespace

ParameterisedStatement Parameterise(std::string_view canonical) { return Lexer(canonical).Run(); }

}  // namespace platform::data::sqlite
