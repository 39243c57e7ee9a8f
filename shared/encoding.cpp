#include "shared/encoding.h"

#include <memory>

#include "platform/core/object.h"
#include "platform/host/registry.h"
#include "platform/services/sql_value_encoder.h"

namespace lib_sales {

namespace {

constexpr std::string_view kEncoderProgId = "SqlValueEncoder";

// The thread's encoder. When the registry gives the platform's own class the
// calls go straight to it; anything else registered under the identifier (a
// test's recording encoder) is called by name.
struct ThreadEncoder {
  platform::ObjectPtr object;
  const platform::SqlValueEncoder* direct = nullptr;
};

thread_local ThreadEncoder t_encoder;

ThreadEncoder& Encoder() {
  ThreadEncoder& encoder = t_encoder;
  if (!encoder.object) {
    platform::ObjectPtr created;
    if (platform::Registry::Instance().IsRegistered(kEncoderProgId)) {
      created = platform::CreateObject(kEncoderProgId);
    } else {
      // Programs register it at start-up; a bare unit still gets the real one.
      created = std::make_shared<platform::SqlValueEncoder>();
    }
    encoder.direct = dynamic_cast<const platform::SqlValueEncoder*>(created.get());
    encoder.object = std::move(created);
  }
  return encoder;
}

template <class DirectCall>
std::string Encode(std::string_view operation, const platform::Variant& argument,
                   DirectCall direct) {
  ThreadEncoder& encoder = Encoder();
  if (encoder.direct) return direct(*encoder.direct);
  return platform::Call(encoder.object, operation, {argument}).ToString();
}

}  // namespace

std::string EncKeyString(std::string_view text) {
  return Encode("EncodeKeyText", platform::Variant(text),
                [&](const platform::SqlValueEncoder&) {
                  return platform::SqlValueEncoder::KeyText(text);
                });
}

std::string EncQuotedString(std::string_view text) {
  return Encode("EncodeQuotedText", platform::Variant(text),
                [&](const platform::SqlValueEncoder&) {
                  return platform::SqlValueEncoder::QuotedText(text);
                });
}

std::string EncText(std::string_view text) {
  return Encode("EncodeText", platform::Variant(text), [&](const platform::SqlValueEncoder&) {
    return platform::SqlValueEncoder::Text(text);
  });
}

std::string EncVariant(const platform::Variant& value) {
  if (value.IsNull()) return "NULL";
  return EncText(value.ToString());
}

std::string EncLong(int32_t value) {
  return Encode("EncodeLong", platform::Variant(value),
                [&](const platform::SqlValueEncoder& e) { return e.EncodeLong(value); });
}

std::string EncDouble(double value) {
  return Encode("EncodeDouble", platform::Variant(value),
                [&](const platform::SqlValueEncoder& e) { return e.EncodeDouble(value); });
}

std::string EncDate(const platform::Date& value) {
  return Encode("EncodeDate", platform::Variant(value),
                [&](const platform::SqlValueEncoder& e) { return e.EncodeDate(value); });
}

std::string EncByte(uint8_t value) {
  return Encode("EncodeByte", platform::Variant(value),
                [&](const platform::SqlValueEncoder& e) { return e.EncodeByte(value); });
}

std::string EncLong(const platform::Variant& value) { return EncLong(value.ToLong()); }
std::string EncDouble(const platform::Variant& value) { return EncDouble(value.ToDouble()); }
std::string EncDate(const platform::Variant& value) { return EncDate(value.ToDate()); }
std::string EncByte(const platform::Variant& value) { return EncByte(value.ToByte()); }

std::string Sls_EscapeQuotes(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (char c : text) {
    if (c == '\'') out.push_back('\'');
    out.push_back(c);
  }
  return out;
}

void ResetThreadEncoder() { t_encoder = ThreadEncoder{}; }

}  // namespace lib_sales
