// Internal to the PostgreSQL driver: values in and out, in text form both
// ways. A Variant becomes the text the server reads for a parameter; a cell's
// text becomes a Variant by the server's type of the column and the field's
// ADO type; format_type()'s spelling of a column type becomes the declared
// type the ADO type mapping reads.
//
// Thread-safety: pure functions.
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <string>

#include "platform/core/variant.h"

namespace platform::data::postgres {

// Type OIDs of the built-in types the driver reads.
inline constexpr Oid kBoolOid = 16, kInt8Oid = 20, kInt2Oid = 21, kInt4Oid = 23, kFloat4Oid = 700,
                     kFloat8Oid = 701, kNumericOid = 1700, kDateOid = 1082, kTimestampOid = 1114,
                     kTimestampTzOid = 1184;

std::string DoubleText(double d);
// The text of a value for the server; false for Null. Raises for a text
// holding a NUL and for an object or array.
bool ParameterText(const Variant& v, std::string& out);
// A cell by the server's type of its column.
Variant RawCell(const char* p, int len, Oid type);
// A cell as the field's ADO type reads it (money exactly as Currency).
Variant ReadCell(const char* p, int len, Oid oid, int32_t type);
// A declared type as format_type() writes it, in the spelling the ADO type
// mapping reads ("character varying(20)" -> "VARCHAR(20)").
std::string Declaration(std::string text);

}  // namespace platform::data::postgres
