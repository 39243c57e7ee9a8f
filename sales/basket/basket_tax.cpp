// Vendra.Basket: the tax breakdown of the order document (SpecifyTax), and
// the text helpers the document and the breakdown share.
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <string>
#include <unordered_map>
#include <vector>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "platform/core/text.h"
#include "platform/data/field.h"
#include "platform/data/recordset.h"
#include "sales/basket/basket.h"
#include "sales/basket/basket_xml_detail.h"
#include "shared/components.h"
#include "shared/error_handling.h"
#include "shared/localisation.h"

namespace vendra {

using platform::Variant;
namespace ado = platform::data;

namespace basket_detail {

namespace {

// U+FFFD, put where a character XML cannot carry was stored.
constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// The length of the well-formed UTF-8 sequence of a character XML may carry
// that starts at text[i]; 0 when there is none (a stray byte, an overlong
// form, a surrogate, U+FFFE or U+FFFF, beyond U+10FFFF).
size_t CharacterLength(std::string_view text, size_t i) {
  const unsigned char c = static_cast<unsigned char>(text[i]);
  size_t n;
  uint32_t cp;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
    cp = c & 0x1F;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    cp = c & 0x0F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    cp = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k) {
    const unsigned char d = static_cast<unsigned char>(text[i + k]);
    if ((d & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (d & 0x3F);
  }
  if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
  if ((cp >= 0xD800 && cp <= 0xDFFF) || cp == 0xFFFE || cp == 0xFFFF) return 0;
  return n;
}

// Bytes that are written as they are in element text: printable ASCII but
// the markup characters (the apostrophe is one in attributes only).
struct PlainBytes {
  bool text[256] = {};
  bool attribute[256] = {};
  constexpr PlainBytes() {
    for (int c = 0x20; c < 0x80; ++c) text[c] = attribute[c] = c != '&' && c != '<' && c != '>';
    attribute[static_cast<unsigned char>('\'')] = false;
  }
};
constexpr PlainBytes kPlain;

// The first byte from i on that is not plain, or the end: sixteen bytes at
// a time where the processor allows, then byte by byte.
template <bool kAttribute>
size_t SkipPlain(std::string_view text, size_t i) {
  const bool* plain_byte = kAttribute ? kPlain.attribute : kPlain.text;
#if defined(__SSE2__)
  const __m128i space = _mm_set1_epi8(0x20);
  const __m128i amp = _mm_set1_epi8('&');
  const __m128i lt = _mm_set1_epi8('<');
  const __m128i gt = _mm_set1_epi8('>');
  const __m128i apos = _mm_set1_epi8('\'');
  while (i + 16 <= text.size()) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text.data() + i));
    // Signed, bytes from 0x80 on are below the blank too: control
    // characters and every byte of a character beyond ASCII.
    __m128i special = _mm_cmplt_epi8(block, space);
    special = _mm_or_si128(special, _mm_cmpeq_epi8(block, amp));
    special = _mm_or_si128(special, _mm_cmpeq_epi8(block, lt));
    special = _mm_or_si128(special, _mm_cmpeq_epi8(block, gt));
    if (kAttribute) special = _mm_or_si128(special, _mm_cmpeq_epi8(block, apos));
    const unsigned mask = static_cast<unsigned>(_mm_movemask_epi8(special));
    if (mask != 0) return i + static_cast<size_t>(std::countr_zero(mask));
    i += 16;
  }
#endif
  while (i < text.size() && plain_byte[static_cast<unsigned char>(text[i])]) ++i;
  return i;
}

template <bool kAttribute, class Out>
void AppendEscaped(Out& out, std::string_view text) {
  size_t plain = 0;  // start of the run not yet copied
  size_t i = 0;
  while (i < text.size()) {
    // Runs of plain bytes, the bulk of any text, are passed over at once.
    i = SkipPlain<kAttribute>(text, i);
    if (i == text.size()) break;
    const unsigned char c = static_cast<unsigned char>(text[i]);
    std::string_view entity;
    size_t length = 1;
    if (c >= 0x80) {
      length = CharacterLength(text, i);
      if (length != 0) {
        i += length;
        continue;
      }
      length = 1;
      entity = kReplacement;
    } else {
      switch (c) {
        case '&': entity = "&amp;"; break;
        case '<': entity = "&lt;"; break;
        case '>': entity = "&gt;"; break;
        case '\'':
          if (!kAttribute) {
            ++i;
            continue;
          }
          entity = "&apos;";
          break;
        default:
          if (c >= 0x20 || c == '\t' || c == '\n' || c == '\r') {
            ++i;
            continue;
          }
          entity = kReplacement;
      }
    }
    out.append(text.data() + plain, i - plain);
    out.append(entity);
    i += length;
    plain = i;
  }
  out.append(text.data() + plain, text.size() - plain);
}

// A value as SpecifyTax reads it: text without its surrounding blanks.
Variant Trimmed(const Variant& value) {
  if (const std::string* text = value.Get<std::string>()) {
    const std::string_view trimmed = platform::text::TrimBlanks(*text);
    if (trimmed.size() != text->size()) return Variant(trimmed);
  }
  return value;
}

bool IsBlankValue(const Variant& value) {
  if (value.IsMissing()) return true;
  const std::string* text = value.Get<std::string>();
  return text && text->empty();
}

// A cell as SpecifyTax reads an amount: false (number left as it is) when it
// is blank, else its number; text is read without its surrounding blanks. A
// line amount the page left empty counts as nothing rather than failing the
// whole document: an order discount is often not given at all.
bool NumberOf(const Variant& value, double& number) {
  if (value.IsString()) {
    const Variant trimmed = Trimmed(value);
    if (IsBlankValue(trimmed)) return false;
    number = trimmed.ToDouble();
    return true;
  }
  if (value.IsMissing()) return false;
  number = value.ToDouble();
  return true;
}

}  // namespace

void AppendXmlText(std::string& out, std::string_view text) { AppendEscaped<false>(out, text); }

void AppendXmlText(XmlBuffer& out, std::string_view text) { AppendEscaped<false>(out, text); }

void AppendXmlAttribute(std::string& out, std::string_view text) {
  AppendEscaped<true>(out, text);
}

bool TaxPercentMatches(const Variant& base, const Variant& percent, const Variant& tax) {
  if (IsBlankValue(base) || IsBlankValue(percent) || IsBlankValue(tax)) return false;
  const double b = base.ToDouble();
  if (b == 0) return false;
  const double difference = std::fabs(tax.ToDouble() / b * 100 - percent.ToDouble());
  // Two decimals, halves to even: at most 0.01 means at most 1 hundredth.
  // The hundredths are first cleared of the binary noise of the division,
  // so a difference of 0.015 is the half it is written as, not 0.01499...
  const double hundredths = std::round(difference * 100 * 1e6) / 1e6;
  return platform::RoundHalfEven(hundredths) <= 1;
}

std::string AmountFormat::operator()(const Variant& value) const {
  std::string text;
  text_.Append(text, value);
  return text;
}

}  // namespace basket_detail

namespace {

constexpr char kSpecifyTax[] = "Basket.SpecifyTax";
constexpr size_t kFewCodes = 8;  // looked through rather than hashed

struct TaxCode {
  Variant percentage;
  Variant description;
  bool has_total = false;  // a line with a tax amount was seen
  double total = 0;
  double base = 0;
};

}  // namespace

std::string Basket::SpecifyTax(const std::shared_ptr<platform::data::Recordset>& lines,
                               int16_t locale) {
  return lib_sales::Guarded(kSpecifyTax, [&] {
    using namespace basket_detail;
    if (!lines)
      platform::Raise(platform::err::kObjectVariableNotSet, kSpecifyTax, "No lines set was given");
    // Codes in order of first appearance; the index finds a code again, and
    // the code of the line before is tried first (lines of one code follow
    // each other).
    std::vector<std::pair<std::string, TaxCode>> codes;
    std::unordered_map<std::string, size_t> index;
    size_t last = SIZE_MAX;
    std::vector<size_t> totals_order;  // the tax totals collection: codes by first tax amount
    if (lines->RecordCount() > 0) {
      auto& fields = lines->fields();
      // A lines set without one of the columns (a quotation's, a page's own)
      // reads it as Null.
      const auto at = [&](const char* name) {
        ado::Field* field = fields.Find(name);
        return field ? field->index() : -1;
      };
      static const Variant null = Variant::Null();
      const auto cell = [&](int index) -> const Variant& {
        return index < 0 ? null : lines->ValueAt(index);
      };
      const int code_at = at("TAXCODE");
      const int tax_at = at("TAXAMOUNT");
      const int amount_at = at("LINEAMOUNT");
      const int percentage_at = at("TAXPERCENTAGE");
      const int description_at = at("TAXCODEDESCRIPTION");
      const int discount_at = at("ORDERDISCOUNTAMOUNT");
      std::string other_code;  // the text of a code that is no text
      for (lines->MoveFirst(); !lines->Eof(); lines->MoveNext()) {
        const Variant& code = cell(code_at);
        if (code.IsNull()) continue;
        std::string_view key;
        if (const std::string* text = code.Get<std::string>()) {
          key = *text;
          if (!key.empty() && (key.front() == ' ' || key.back() == ' '))
            key = platform::text::TrimBlanks(key);
        } else {
          other_code = code.ToString();
          key = other_code;
        }
        if (last == SIZE_MAX || codes[last].first.size() != key.size() ||
            std::memcmp(codes[last].first.data(), key.data(), key.size()) != 0) {
          // A few codes are looked through; many go by the index.
          last = SIZE_MAX;
          if (codes.size() <= kFewCodes) {
            for (size_t i = 0; i < codes.size() && last == SIZE_MAX; ++i)
              if (codes[i].first == key) last = i;
          } else if (auto it = index.find(std::string(key)); it != index.end()) {
            last = it->second;
          }
          if (last == SIZE_MAX) {
            last = codes.size();
            TaxCode entry;
            entry.percentage = Trimmed(cell(percentage_at));
            entry.description = Trimmed(cell(description_at));
            codes.emplace_back(std::string(key), std::move(entry));
            if (codes.size() > kFewCodes) {
              if (index.empty())
                for (size_t i = 0; i < codes.size(); ++i) index.emplace(codes[i].first, i);
              else
                index.emplace(codes.back().first, last);
            }
          }
        }
        TaxCode& entry = codes[last].second;
        double tax_amount = 0;
        if (!NumberOf(cell(tax_at), tax_amount)) continue;
        double amount = 0, discount = 0;
        NumberOf(cell(amount_at), amount);
        NumberOf(cell(discount_at), discount);
        if (!entry.has_total) {
          entry.has_total = true;
          totals_order.push_back(last);
        }
        entry.total += tax_amount;
        entry.base += amount - discount;
      }
    }
    const AmountFormat format(locale, lib_sales::Sls_DataFunctions());
    std::string out = "<TAXSPECIFIC>";
    for (size_t at : totals_order) {
      const TaxCode& entry = codes[at].second;
      out += "<TAX><TAXCODEDESCRIPTION>";
      if (!entry.description.IsMissing()) AppendXmlText(out, entry.description.ToString());
      out += "</TAXCODEDESCRIPTION>";
      const Variant total(entry.total);
      if (TaxPercentMatches(Variant(entry.base), entry.percentage, total) &&
          entry.percentage.ToDouble() != 0) {
        out += "<TAXPERCENTAGE>";
        AppendXmlText(out, format(entry.percentage));
        out += "</TAXPERCENTAGE>";
      }
      out += "<TAXAMOUNT>";
      AppendXmlText(out, format(total));
      out += "</TAXAMOUNT></TAX>";
    }
    out += "</TAXSPECIFIC>";
    return out;
  });
}

}  // namespace vendra
