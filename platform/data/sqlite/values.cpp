#include "platform/data/sqlite/values.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "platform/data/ado_types.h"
#include "platform/data/data_util.h"

namespace platform::data::sqlite::internal {

// Room for the date texts of a statement with `count` parameters, made
// before any is bound: a text bound in place must not move while its
// statement may still read it.
void ReserveDateTexts(Handle& h, int count) {
  if (h.date_texts.size() <= static_cast<size_t>(count)) h.date_texts.resize(static_cast<size_t>(count) + 1);
}

// Binds one value; a date is bound as its text from the handle's slot for
// that parameter (reserved by ReserveDateTexts), which keeps it while the
// statement runs and is written again only when the date changes.
void BindOne(Handle& h, sqlite3_stmt* stmt, int index, const Variant& v) {
  sqlite3* db = h.db;
  int rc = SQLITE_OK;
  switch (v.type()) {
    case VarType::Empty:
    case VarType::Null:
      rc = sqlite3_bind_null(stmt, index);
      break;
    case VarType::Boolean:
      // Flag columns hold 0/1.
      rc = sqlite3_bind_int(stmt, index, *v.Get<bool>() ? 1 : 0);
      break;
    case VarType::Byte:
      rc = sqlite3_bind_int(stmt, index, *v.Get<uint8_t>());
      break;
    case VarType::Integer:
      rc = sqlite3_bind_int(stmt, index, *v.Get<int16_t>());
      break;
    case VarType::Long:
      rc = sqlite3_bind_int(stmt, index, *v.Get<int32_t>());
      break;
    case VarType::Double:
      rc = sqlite3_bind_double(stmt, index, *v.Get<double>());
      break;
    case VarType::Currency:
      rc = sqlite3_bind_double(stmt, index, v.Get<Currency>()->ToDouble());
      break;
    case VarType::Date: {
      // Dates are stored in one sortable text form. The rows of a batch
      // often share a date: the text is made again only when it changes.
      Handle::DateText& slot = h.date_texts[static_cast<size_t>(index)];
      const double serial = v.Get<Date>()->serial();
      if (!(serial == slot.serial) || slot.iso.empty()) {
        slot.iso = v.Get<Date>()->ToIso();
        slot.serial = serial;
      }
      rc = sqlite3_bind_text(stmt, index, slot.iso.data(), static_cast<int>(slot.iso.size()), SQLITE_STATIC);
      break;
    }
    case VarType::String: {
      const std::string& s = *v.Get<std::string>();
      rc = sqlite3_bind_text(stmt, index, s.data(), static_cast<int>(s.size()), SQLITE_STATIC);
      break;
    }
    default:
      detail::RaiseData(data_err::kTypeNotSupported, "Command",
                        "An object or an array cannot be passed as a statement parameter.");
  }
  if (rc != SQLITE_OK) RaiseFrom(db, rc);
}

void BindAll(Handle& h, sqlite3_stmt* stmt, std::span<const BoundValue> values) {
  const int count = sqlite3_bind_parameter_count(stmt);
  ReserveDateTexts(h, count);
  std::vector<bool> bound(static_cast<size_t>(count) + 1, false);
  int next = 1;
  for (const BoundValue& b : values) {
    int index = 0;
    if (!b.name.empty()) {
      index = sqlite3_bind_parameter_index(stmt, b.name.c_str());
      if (index == 0 && b.name[0] != '@' && b.name[0] != ':' && b.name[0] != '$') {
        for (const char* prefix : {"@", ":", "$"}) {
          index = sqlite3_bind_parameter_index(stmt, (prefix + b.name).c_str());
          if (index) break;
        }
      }
    }
    if (index == 0) {
      while (next <= count && bound[static_cast<size_t>(next)]) ++next;
      index = next++;
    }
    if (index > count) {
      RaiseEngine(SQLITE_RANGE, std::to_string(values.size()) + " values were given for a statement with " +
                                    std::to_string(count) + " parameters.");
    }
    BindOne(h, stmt, index, b.value);
    bound[static_cast<size_t>(index)] = true;
  }
  for (int i = 1; i <= count; ++i) {
    if (!bound[static_cast<size_t>(i)]) {
      const char* name = sqlite3_bind_parameter_name(stmt, i);
      RaiseEngine(SQLITE_RANGE, "No value was given for parameter " +
                                    (name ? std::string(name) : std::to_string(i)) + ".");
    }
  }
}

// The cell as the engine stored it; storage is its sqlite3_column_type, which
// the caller has already asked for.
Variant RawCell(sqlite3_stmt* stmt, int c, int storage) {
  switch (storage) {
    case SQLITE_INTEGER: {
      const sqlite3_int64 v = sqlite3_column_int64(stmt, c);
      if (v >= std::numeric_limits<int32_t>::min() && v <= std::numeric_limits<int32_t>::max())
        return Variant(static_cast<int32_t>(v));
      return Variant(static_cast<double>(v));
    }
    case SQLITE_FLOAT:
      return Variant(sqlite3_column_double(stmt, c));
    case SQLITE_NULL:
      return Variant::Null();
    default: {
      const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
      return Variant(std::string(p ? p : "", static_cast<size_t>(sqlite3_column_bytes(stmt, c))));
    }
  }
}

// The value of a cell as the field's type holds it. Common cases go straight
// from the engine's storage class; others through the Variant conversions. A
// stored value the type cannot hold (text in an integer column) comes back
// as stored rather than failing the whole read.
Variant ReadCell(sqlite3_stmt* stmt, int c, int32_t type) {
  const int storage = sqlite3_column_type(stmt, c);
  if (storage == SQLITE_NULL) return Variant::Null();
  switch (type) {
    case adInteger:
      if (storage == SQLITE_INTEGER) return RawCell(stmt, c, storage);
      break;
    case adSmallInt:
      if (storage == SQLITE_INTEGER) {
        const sqlite3_int64 v = sqlite3_column_int64(stmt, c);
        if (v >= INT16_MIN && v <= INT16_MAX) return Variant(static_cast<int16_t>(v));
      }
      break;
    case adUnsignedTinyInt:
      if (storage == SQLITE_INTEGER) {
        const sqlite3_int64 v = sqlite3_column_int64(stmt, c);
        if (v >= 0 && v <= 255) return Variant(static_cast<uint8_t>(v));
      }
      break;
    case adBoolean:
      if (storage == SQLITE_INTEGER) return Variant(sqlite3_column_int64(stmt, c) != 0);
      if (storage == SQLITE_FLOAT) return Variant(sqlite3_column_double(stmt, c) != 0);
      break;
    case adDouble:
    case adNumeric:
      if (storage == SQLITE_INTEGER || storage == SQLITE_FLOAT)
        return Variant(sqlite3_column_double(stmt, c));
      break;
    case adCurrency:
      if (storage == SQLITE_FLOAT || storage == SQLITE_INTEGER) {
        const double d = sqlite3_column_double(stmt, c);
        if (std::fabs(d) < 9.0e14) return Variant(Currency::FromDouble(d));
      }
      break;
    case adDBTimeStamp:
    case adDate:
      if (storage == SQLITE_TEXT) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
        if (auto d = Date::Parse(std::string_view(p, static_cast<size_t>(sqlite3_column_bytes(stmt, c)))))
          return Variant(*d);
      } else if (storage == SQLITE_FLOAT || storage == SQLITE_INTEGER) {
        return Variant(Date::FromSerial(sqlite3_column_double(stmt, c)));
      }
      break;
    case adVarWChar:
    case adVarChar:
    case adWChar:
    case adChar:
    case adLongVarWChar:
    case adLongVarChar:
    case adGUID:
      if (storage == SQLITE_TEXT) {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, c));
        return Variant(std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt, c))));
      }
      break;
    default:
      break;
  }
  if (type == adVariant) return RawCell(stmt, c, storage);
  Variant raw = RawCell(stmt, c, storage);
  try {
    return CoerceToFieldType(raw, type);
  } catch (const ComError&) {
    return raw;
  }
}

}  // namespace platform::data::sqlite::internal
