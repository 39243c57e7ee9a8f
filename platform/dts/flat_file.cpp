#include "platform/dts/flat_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/core/com_error.h"
#include "platform/core/text.h"

namespace platform::dts {

namespace {

constexpr char kSource[] = "DTSFlatFile";

char DelimiterOf(const std::string& text, char fallback) {
  if (text.empty()) return fallback;
  if (text == "\\t" || text == "{TAB}") return '\t';
  return text[0];
}

int64_t NumberOf(const std::string& text, int64_t fallback) {
  if (text.empty()) return fallback;
  try {
    return std::stoll(text);
  } catch (...) {
    return fallback;
  }
}

// Characters of UTF-8 text (bytes that start one), as the column limit counts.
size_t CharCount(const std::string& text) {
  size_t n = 0;
  for (unsigned char c : text) n += (c & 0xC0) != 0x80;
  return n;
}

}  // namespace

// The project's one rule of well-formed UTF-8, so that a row read here is
// one the database's write checks accept.
bool IsUtf8(std::string_view text) {
  for (size_t i = 0; i < text.size();) {
    const size_t n = text::Utf8SequenceLength(text, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string FlatFileReader::ColumnName(size_t index) {
  char name[16];
  std::snprintf(name, sizeof name, "Col%03zu", index + 1);
  return name;
}

FlatFileReader::FlatFileReader(const Connection& connection) {
  path_ = connection.Get("Data Source");
  if (path_.empty()) path_ = connection.data_source;
  std::error_code ec;
  if (path_.empty() || !std::filesystem::exists(path_, ec)) {
    Raise(err::kFileNotFound, kSource,
          "The export file '" + path_ + "' of connection '" + connection.name + "' does not exist");
  }
  if (std::filesystem::is_directory(path_, ec)) {
    Raise(err::kFileNotFound, kSource,
          "The export file '" + path_ + "' of connection '" + connection.name +
              "' is a directory");
  }
  in_.open(path_, std::ios::binary);
  if (!in_) {
    Raise(err::kPermissionDenied, kSource,
          "The export file '" + path_ + "' of connection '" + connection.name +
              "' cannot be read: " + std::strerror(errno));
  }
  column_delimiter_ = DelimiterOf(connection.Get("Column Delimiter"), '\t');
  const std::string qualifier = connection.Get("Text Qualifier");
  qualifier_ = qualifier.empty() ? 0 : qualifier[0];
  max_chars_ = static_cast<size_t>(NumberOf(connection.Get("Max characters per delimited column"), 255));
  skip_ = NumberOf(connection.Get("Skip Rows"), 0);
  columns_ = static_cast<size_t>(NumberOf(connection.Get("Number of Column"), 0));
  first_row_names_ = text::EqualsNoCase(connection.Get("First Row Column Name"), "True");
  if (first_row_names_) ++skip_;
}

bool FlatFileReader::Next(FlatRow& row) {
  for (;;) {
    if (!std::getline(in_, line_text_)) {
      if (in_.bad()) {
        Raise(err::kPermissionDenied, kSource, "Reading the export file '" + path_ + "' failed");
      }
      return false;
    }
    ++line_;
    if (!line_text_.empty() && line_text_.back() == '\r') line_text_.pop_back();
    if (line_ == 1 && line_text_.starts_with("\xEF\xBB\xBF")) line_text_.erase(0, 3);
    if (line_ <= skip_) continue;
    if (line_text_.empty()) continue;  // a blank line holds no row
    break;
  }
  row.number = line_;
  row.error.clear();
  Split(row);
  if (row.error.empty()) {
    if (columns_ == 0) columns_ = row.values.size();
    if (row.values.size() != columns_) {
      row.error = "Row " + std::to_string(line_) + " has " + std::to_string(row.values.size()) +
                  " columns; the rows of the file have " + std::to_string(columns_);
    }
  }
  if (row.error.empty() && !IsUtf8(line_text_)) {
    row.error = "Row " + std::to_string(line_) + " holds bytes that are not UTF-8 text";
  }
  // Only a row that could not be read needs its text kept; copying every
  // line would cost each good row a string.
  if (row.error.empty())
    row.raw.clear();
  else
    row.raw = line_text_;
  return true;
}

void FlatFileReader::Split(FlatRow& row) const {
  row.values.clear();
  const std::string& s = line_text_;
  size_t i = 0;
  for (;;) {
    std::optional<std::string> value;
    if (qualifier_ && i < s.size() && s[i] == qualifier_) {
      std::string text;
      size_t j = i + 1;
      bool closed = false;
      while (j < s.size()) {
        if (s[j] == qualifier_) {
          if (j + 1 < s.size() && s[j + 1] == qualifier_) {
            text += qualifier_;
            j += 2;
            continue;
          }
          closed = true;
          ++j;
          break;
        }
        text += s[j++];
      }
      if (!closed) {
        row.error = "Row " + std::to_string(line_) + ", column " + ColumnName(row.values.size()) +
                    ": the text qualifier never closes";
        return;
      }
      if (j < s.size() && s[j] != column_delimiter_) {
        row.error = "Row " + std::to_string(line_) + ", column " + ColumnName(row.values.size()) +
                    ": text follows the closing text qualifier";
        return;
      }
      value = std::move(text);
      i = j;
    } else {
      size_t j = s.find(column_delimiter_, i);
      if (j == std::string::npos) j = s.size();
      if (j > i) value = s.substr(i, j - i);
      i = j;
    }
    if (value && value->size() > max_chars_ && CharCount(*value) > max_chars_) {
      row.error = "Row " + std::to_string(line_) + ", column " + ColumnName(row.values.size()) +
                  " holds " + std::to_string(CharCount(*value)) + " characters, more than the " +
                  std::to_string(max_chars_) + " allowed";
      return;
    }
    row.values.push_back(std::move(value));
    if (i >= s.size()) break;
    ++i;  // past the delimiter
    if (i == s.size()) {  // a delimiter ending the row leaves an empty last column
      row.values.emplace_back();
      break;
    }
  }
}

}  // namespace platform::dts
