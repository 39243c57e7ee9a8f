#include "platform/data/sqlite/text_rules.h"

#include <sqlite3.h>

#include <mutex>

#include "platform/core/text.h"

namespace platform::data::sqlite {

namespace {

// vendra_checktext(table, column, length, value, column, length, value, ...)
void CheckText(sqlite3_context* context, int argc, sqlite3_value** argv) {
  if (argc < 4 || (argc - 1) % 3 != 0) {
    sqlite3_result_error(context,
                         "vendra_checktext takes a table and (column, length, value) triples", -1);
    return;
  }
  for (int i = 1; i + 2 < argc; i += 3) {
    sqlite3_value* value = argv[i + 2];
    const int type = sqlite3_value_type(value);
    if (type == SQLITE_NULL || type == SQLITE_BLOB) continue;
    // Text first, then its length: sqlite3_value_bytes counts past a NUL.
    const auto* bytes = reinterpret_cast<const char*>(sqlite3_value_text(value));
    const int size = sqlite3_value_bytes(value);
    const std::string fault = TextRuleFault(
        std::string_view(bytes ? bytes : "", static_cast<size_t>(size)),
        sqlite3_value_int64(argv[i + 1]));
    if (fault.empty()) continue;
    const auto* table = reinterpret_cast<const char*>(sqlite3_value_text(argv[0]));
    const auto* column = reinterpret_cast<const char*>(sqlite3_value_text(argv[i]));
    const std::string message = std::string(table ? table : "") + "." +
                                (column ? column : "") + " " + fault;
    sqlite3_result_error(context, message.c_str(), static_cast<int>(message.size()));
    // A broken rule of the column, as a server reports a check constraint.
    sqlite3_result_error_code(context, SQLITE_CONSTRAINT_CHECK);
    return;
  }
  sqlite3_result_null(context);
}

int RegisterOn(sqlite3* db, char** /*error*/, const sqlite3_api_routines* /*api*/) {
  return sqlite3_create_function_v2(db, std::string(kCheckTextFunction).c_str(), -1,
                                    SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS,
                                    nullptr, CheckText, nullptr, nullptr, nullptr);
}

}  // namespace

std::string TextRuleFault(std::string_view text, int64_t declared_length) {
  int64_t characters = 0;
  for (size_t i = 0; i < text.size(); ++characters) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c == 0) {
      return "may not hold a NUL character (character " + std::to_string(characters + 1) + ")";
    }
    if (c < 0x80) {
      ++i;
      continue;
    }
    const size_t n = platform::text::Utf8SequenceLength(text, i);
    if (n == 0) {
      return "takes UTF-8 text only; byte " + std::to_string(i + 1) + " of the text is not";
    }
    i += n;
  }
  if (declared_length > 0 && characters > declared_length) {
    return "takes at most " + std::to_string(declared_length) + " characters; the text has " +
           std::to_string(characters);
  }
  return {};
}

void EnableTextRules() {
  static std::once_flag once;
  std::call_once(once, [] {
    sqlite3_auto_extension(reinterpret_cast<void (*)()>(&RegisterOn));
  });
}

}  // namespace platform::data::sqlite
