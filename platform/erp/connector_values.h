// The value objects of the ERP connector: the records and collections a
// caller fills with set-operations before asking a business component to act
// (a sales order and its lines, text blocks and their pieces, line
// discounts, product variants), the error document a component answers a
// refusal with, and the connector types.
//
// A record knows the set-operations of its class for its connector type
// (tw4 names differ from tw5/twkt names): setX(value) keeps X, getX() reads
// it back (Empty when not set), hasX() tells whether it was set. Any other
// name raises 438, as a call of an operation the class does not have.
// Values keep the order in which they were first set.
//
// Thread-safety: an object is used by one caller at a time.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/dispatch.h"
#include "platform/core/object.h"
#include "platform/core/variant.h"

namespace platform::erp {

// The connector types; codes are compared exactly ("tw4", "tw5", "twkt").
enum class ConnectorType { Tw4, Tw5, Twkt };
std::optional<ConnectorType> ParseConnectorType(std::string_view code);
std::string_view ConnectorTypeCode(ConnectorType type);

// The connector's own error numbers (in ErrorNumber, or raised).
namespace erp_err {
inline constexpr int32_t kUnknownComponent = static_cast<int32_t>(0x80044001u);
inline constexpr int32_t kNotInitialized = static_cast<int32_t>(0x80044002u);
inline constexpr int32_t kUnknownCustomer = 1001;
inline constexpr int32_t kCreditHold = 1002;
inline constexpr int32_t kUnknownItem = 1003;
inline constexpr int32_t kMissingQuantity = 1004;
inline constexpr int32_t kDuplicateWebOrder = 1005;
inline constexpr int32_t kNoSalesOrder = 1006;
}  // namespace erp_err

// The set-operation names (without "set") a record class accepts.
struct RecordSchema {
  std::string_view type_name;  // "tw5.SalesOrderRecord"
  std::span<const std::string_view> fields;
};

// A record of named values: SalesOrderRecord, SalesOrderLineRecord,
// LineDiscountValue, ProductVariantLine of a type. Subclasses exist per role
// and type, so callers choose them by class identity.
class ValueRecord : public Object {
 public:
  explicit ValueRecord(const RecordSchema& schema) : schema_(&schema) {}
  std::string_view TypeName() const override { return schema_->type_name; }
  Variant Invoke(std::string_view name, CallKind kind, std::span<Variant> args) override;

  // By the canonical field name ("SoldToBusinessPartner").
  Variant Get(std::string_view field) const;
  bool Has(std::string_view field) const;
  void Put(std::string_view field, Variant value);
  const std::vector<std::pair<std::string, Variant>>& values() const { return values_; }

 private:
  // The canonical spelling of a field of the schema, or nullptr.
  const std::string_view* Field(std::string_view name) const;
  const RecordSchema* schema_;
  std::vector<std::pair<std::string, Variant>> values_;
};

// A list of records under one stem: insert<Stem>At(record, index),
// size<Stem>(), get<Stem>At(index) ("SalesOrders", "SalesOrderLines").
class RecordList : public Object {
 public:
  RecordList(std::string type_name, std::string stem)
      : type_name_(std::move(type_name)), stem_(std::move(stem)) {}
  std::string_view TypeName() const override { return type_name_; }
  Variant Invoke(std::string_view name, CallKind kind, std::span<Variant> args) override;

  void Insert(ObjectPtr record, int32_t index);
  const std::vector<ObjectPtr>& items() const { return items_; }

 private:
  std::string type_name_;
  std::string stem_;
  std::vector<ObjectPtr> items_;
};

// A piece of text (SetText) and a block of pieces (addTextValue), kept in
// the order added.
class TextValue : public Dispatchable<TextValue> {
 public:
  static const ClassBinding<TextValue>& Binding();
  void SetText(const std::string& text) { text_ = text; }
  const std::string& GetText() const { return text_; }

 private:
  std::string text_;
};

class TextBlock : public Dispatchable<TextBlock> {
 public:
  static const ClassBinding<TextBlock>& Binding();
  void addTextValue(const std::shared_ptr<TextValue>& piece);
  int32_t sizeTextValues() const { return static_cast<int32_t>(pieces_.size()); }
  // How a document's reader walks the block: sizeTextValue, getTextValueAt.
  int32_t sizeTextValue() const { return sizeTextValues(); }
  std::shared_ptr<TextValue> getTextValueAt(int32_t index) const;
  std::vector<std::string> Pieces() const;

 private:
  std::vector<std::shared_ptr<TextValue>> pieces_;
};

// The product variants of one line (addProductVariantLines).
class ProductVariants : public Dispatchable<ProductVariants> {
 public:
  static const ClassBinding<ProductVariants>& Binding();
  void addProductVariantLines(const ObjectPtr& line);
  int32_t sizeProductVariantLines() const { return static_cast<int32_t>(lines_.size()); }
  const std::vector<std::shared_ptr<ValueRecord>>& lines() const { return lines_; }

 private:
  std::vector<std::shared_ptr<ValueRecord>> lines_;
};

// One refusal: number, text and the field it is about.
class ErrorEntry : public Dispatchable<ErrorEntry> {
 public:
  static const ClassBinding<ErrorEntry>& Binding();
  ErrorEntry() = default;
  ErrorEntry(int32_t number, std::string text, std::string field)
      : number_(number), text_(std::move(text)), field_(std::move(field)) {}
  int32_t ErrorNumber() const { return number_; }
  std::string ErrorText() const { return text_; }
  std::string FieldName() const { return field_; }

 private:
  int32_t number_ = 0;
  std::string text_;
  std::string field_;
};

class ErrorDocument : public Dispatchable<ErrorDocument> {
 public:
  static const ClassBinding<ErrorDocument>& Binding();
  void Add(int32_t number, std::string text, std::string field);
  int32_t Count() const { return static_cast<int32_t>(entries_.size()); }
  // Zero-based; raises 9 outside the document.
  std::shared_ptr<ErrorEntry> Item(int32_t index) const;

 private:
  std::vector<std::shared_ptr<ErrorEntry>> entries_;
};

// The record classes of each type. The schemas say which set-operations the
// class offers for its type.
const RecordSchema& SalesOrderRecordSchema(ConnectorType type);
const RecordSchema& SalesOrderLineRecordSchema(ConnectorType type);
const RecordSchema& LineDiscountAmountSchema(ConnectorType type);
const RecordSchema& LineDiscountPercentageSchema(ConnectorType type);
const RecordSchema& ProductVariantLineSchema(ConnectorType type);

template <ConnectorType T>
class SalesOrderRecord final : public ValueRecord {
 public:
  SalesOrderRecord() : ValueRecord(SalesOrderRecordSchema(T)) {}
};
template <ConnectorType T>
class SalesOrderLineRecord final : public ValueRecord {
 public:
  SalesOrderLineRecord() : ValueRecord(SalesOrderLineRecordSchema(T)) {}
};
template <ConnectorType T>
class LineDiscountAmountValue final : public ValueRecord {
 public:
  LineDiscountAmountValue() : ValueRecord(LineDiscountAmountSchema(T)) {}
};
template <ConnectorType T>
class LineDiscountPercentageValue final : public ValueRecord {
 public:
  LineDiscountPercentageValue() : ValueRecord(LineDiscountPercentageSchema(T)) {}
};
template <ConnectorType T>
class ProductVariantLine final : public ValueRecord {
 public:
  ProductVariantLine() : ValueRecord(ProductVariantLineSchema(T)) {}
};
template <ConnectorType T>
class SalesOrdersInput final : public RecordList {
 public:
  SalesOrdersInput()
      : RecordList(std::string(ConnectorTypeCode(T)) + ".SalesOrdersInput", "SalesOrders") {}
};
template <ConnectorType T>
class SalesOrderLinesInput final : public RecordList {
 public:
  SalesOrderLinesInput()
      : RecordList(std::string(ConnectorTypeCode(T)) + ".SalesOrderLinesInput",
                   "SalesOrderLines") {}
};
// Text kinds: 1 header, 2 footer, 3 line.
template <ConnectorType T, int Kind>
class TypedTextBlock final : public TextBlock {};
template <ConnectorType T>
class TypedTextValue final : public TextValue {};
template <ConnectorType T>
class TypedProductVariants final : public ProductVariants {};

}  // namespace platform::erp
