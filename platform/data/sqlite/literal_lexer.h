// The literal lexer behind automatic parameterisation: it takes the value
// literals out of a statement of canonical SQL (quoted texts, N'...' texts,
// integers, reals, signed numbers, X'...' blobs) and gives back the shape of
// the statement, each literal replaced by "?", with the literals in order.
// Statements that differ only in their values share one shape, so the driver
// compiles the shape once per connection and binds the values.
//
// A literal that is not a value stays in the shape: everything in a
// statement other than SELECT/INSERT/UPDATE/DELETE/WITH/REPLACE (DDL, PRAGMA),
// the select list (it names the result columns), ORDER BY and GROUP BY terms
// (column numbers), TOP/LIMIT/OFFSET counts, type arguments after AS
// ("CAST(x AS NVARCHAR(50))"), an alias or collation written as a text,
// hexadecimal integers and any malformed literal (so the engine reports it as
// before). Comments and quoted names are never looked into. A statement that
// already holds parameters (?, ?1, :name, @name, $name) is left whole.
//
// Thread-safety: a pure function.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform::data::sqlite {

struct Literal {
  enum class Kind { kText, kInteger, kReal, kBlob };
  Kind kind = Kind::kText;
  // kText: the text with '' unescaped; kBlob: the bytes; kReal: the literal
  // as written, without its sign (the engine reads it, so the value is
  // exactly the one the literal would have had).
  std::string text;
  int64_t integer = 0;   // kInteger
  bool negative = false;  // kReal: a minus sign was taken with the literal
};

struct ParameterisedStatement {
  // False when nothing was taken out (no literal, an explicit parameter,
  // not a data statement): the statement runs as written.
  bool parameterised = false;
  std::string shape;  // the canonical text with "?" for each literal taken
  std::vector<Literal> literals;
};

ParameterisedStatement Parameterise(std::string_view canonical);

}  // namespace platform::data::sqlite
