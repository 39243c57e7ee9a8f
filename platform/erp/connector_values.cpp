#include "platform/erp/connector_values.h"

#include <array>

#include "platform/core/com_error.h"
#include "platform/core/text.h"

namespace platform::erp {

namespace {

using namespace std::string_view_literals;

bool StartsWithFolded(std::string_view name, std::string_view prefix) {
  return name.size() > prefix.size() && text::EqualsNoCase(name.substr(0, prefix.size()), prefix);
}

void RequireArgs(std::string_view type, std::string_view name, std::span<Variant> args,
                 size_t n) {
  if (args.size() != n) dispatch_detail::RaiseArgumentCount(type, name);
}


constexpr std::array kTw4Order{
    "FooterText"sv, "OrderType"sv, "Customer"sv, "Currency"sv, "CustomerPurchaseOrderNumber"sv,
    "Origin"sv, "CalculateTax"sv, "ForwardingAgent"sv, "OrderDiscount"sv, "ReferenceB"sv,
    "HeaderText"sv, "ReferenceA"sv, "SalesOrder"sv, "DeliveryAddress"sv, "PostalAddress"sv,
    "WebOrderReference"sv, "ShipToAddressName1"sv, "ShipToAddressName2"sv,
    "ShipToAddressStreet1"sv, "ShipToAddressStreet2"sv, "ShipToAddressCity1"sv,
    "ShipToAddressCity2"sv, "ShipToAddressCountry"sv, "ShipToAddressZipCode"sv,
    "BillToAddressName1"sv, "BillToAddressName2"sv, "BillToAddressStreet1"sv,
    "BillToAddressStreet2"sv, "BillToAddressCity1"sv, "BillToAddressCity2"sv,
    "BillToAddressCountry"sv, "BillToAddressZipCode"sv};
constexpr std::array kTw5Order{
    "FooterText"sv, "SalesOrderType"sv, "SoldToBusinessPartner"sv, "OrderCurrency"sv,
    "CustomerOrderNumber"sv, "Origin"sv, "CalculateTax"sv, "Carrier"sv, "OrderDiscount"sv,
    "ReferenceB"sv, "HeaderText"sv, "ReferenceA"sv, "SalesOrder"sv, "ShipToAddress"sv,
    "BillToAddress"sv, "WebOrderReference"sv, "ShipToAddressName1"sv, "ShipToAddressName2"sv,
    "ShipToAddressStreet1"sv, "ShipToAddressStreet2"sv, "ShipToAddressCity1"sv,
    "ShipToAddressCity2"sv, "ShipToAddressCountry"sv, "ShipToAddressZipCode"sv,
    "ShipToStateProvince"sv, "ShipToTelephone"sv, "ShipToFax"sv, "BillToAddressName1"sv,
    "BillToAddressName2"sv, "BillToAddressStreet1"sv, "BillToAddressStreet2"sv,
    "BillToAddressCity1"sv, "BillToAddressCity2"sv, "BillToAddressCountry"sv,
    "BillToAddressZipCode"sv, "BillToStateProvince"sv, "BillToTelephone"sv, "BillToFax"sv};
constexpr std::array kTw4Line{
    "PlannedDeliveryDate1"sv, "PlannedReceiptDate"sv, "DiscountAmountSalesOrders"sv,
    "DiscountPercentageSalesOrders"sv, "Item"sv, "OrderedQuantity"sv, "TaxCode"sv,
    "OrderLineText"sv, "DeliveryAddress"sv, "SalesUnit"sv, "Price"sv, "Amount"sv,
    "SalesOrder"sv, "CustomerPurchaseOrderLine"sv, "ProductVariants"sv,
    "ShipToAddressName1"sv, "ShipToAddressName2"sv, "ShipToAddressStreet1"sv,
    "ShipToAddressStreet2"sv, "ShipToAddressCity1"sv, "ShipToAddressCity2"sv,
    "ShipToAddressCountry"sv, "ShipToAddressZipCode"sv};
constexpr std::array kTw5Line{
    "PlannedDeliveryDate"sv, "DiscountAmount"sv, "LineDiscount"sv, "Item"sv,
    "OrderedQuantity"sv, "TaxCode"sv, "OrderLineText"sv, "ShipToAddress"sv, "SalesUnit"sv,
    "Price"sv, "Amount"sv, "SalesOrder"sv, "CustomerOrderPosition"sv, "ProductVariants"sv,
    "ShipToAddressName1"sv, "ShipToAddressName2"sv, "ShipToAddressStreet1"sv,
    "ShipToAddressStreet2"sv, "ShipToAddressCity1"sv, "ShipToAddressCity2"sv,
    "ShipToAddressCountry"sv, "ShipToAddressZipCode"sv, "ShipToStateProvince"sv,
    "ShipToTelephone"sv, "ShipToFax"sv};
constexpr std::array kTw4Amount{"DiscountAmount_1"sv};
constexpr std::array kTw5Amount{"Ldam_1"sv};
constexpr std::array kTw4Percentage{"DiscountPercentage_1"sv};
constexpr std::array kTw5Percentage{"Disc_1"sv};
constexpr std::array kVariantLine{"FeatureCode"sv, "FeatureSequenceNumber"sv,
                                  "FeatureDescription"sv, "OptionValue"sv};

const RecordSchema kSchemas[][5] = {
    {{"tw4.SalesOrderRecord", kTw4Order}, {"tw4.SalesOrderLineRecord", kTw4Line},
     {"tw4.LineDiscountAmountValue", kTw4Amount},
     {"tw4.LineDiscountPercentageValue", kTw4Percentage},
     {"tw4.ProductVariantLine", kVariantLine}},
    {{"tw5.SalesOrderRecord", kTw5Order}, {"tw5.SalesOrderLineRecord", kTw5Line},
     {"tw5.LineDiscountAmountValue", kTw5Amount},
     {"tw5.LineDiscountPercentageValue", kTw5Percentage},
     {"tw5.ProductVariantLine", kVariantLine}},
    {{"twkt.SalesOrderRecord", kTw5Order}, {"twkt.SalesOrderLineRecord", kTw5Line},
     {"twkt.LineDiscountAmountValue", kTw5Amount},
     {"twkt.LineDiscountPercentageValue", kTw5Percentage},
     {"twkt.ProductVariantLine", kVariantLine}},
};

const RecordSchema& SchemaOf(ConnectorType type, int role) {
  return kSchemas[static_cast<int>(type)][role];
}

}  // namespace

std::optional<ConnectorType> ParseConnectorType(std::string_view code) {
  if (code == "tw4") return ConnectorType::Tw4;
  if (code == "tw5") return ConnectorType::Tw5;
  if (code == "twkt") return ConnectorType::Twkt;
  return std::nullopt;
}

std::string_view ConnectorTypeCode(ConnectorType type) {
  switch (type) {
    case ConnectorType::Tw4: return "tw4";
    case ConnectorType::Tw5: return "tw5";
    case ConnectorType::Twkt: return "twkt";
  }
  return "";
}

const RecordSchema& SalesOrderRecordSchema(ConnectorType t) { return SchemaOf(t, 0); }
const RecordSchema& SalesOrderLineRecordSchema(ConnectorType t) { return SchemaOf(t, 1); }
const RecordSchema& LineDiscountAmountSchema(ConnectorType t) { return SchemaOf(t, 2); }
const RecordSchema& LineDiscountPercentageSchema(ConnectorType t) { return SchemaOf(t, 3); }
const RecordSchema& ProductVariantLineSchema(ConnectorType t) { return SchemaOf(t, 4); }

// ValueRecord -------------------------------------------------------------

const std::string_view* ValueRecord::Field(std::string_view name) const {
  for (const std::string_view& f : schema_->fields)
    if (text::EqualsNoCase(f, name)) return &f;
  return nullptr;
}

Variant ValueRecord::Get(std::string_view field) const {
  for (const auto& [k, v] : values_)
    if (text::EqualsNoCase(k, field)) return v;
  return Variant();
}

bool ValueRecord::Has(std::string_view field) const {
  for (const auto& [k, v] : values_)
    if (text::EqualsNoCase(k, field)) return true;
  return false;
}

void ValueRecord::Put(std::string_view field, Variant value) {
  for (auto& [k, v] : values_) {
    if (text::EqualsNoCase(k, field)) {
      v = std::move(value);
      return;
    }
  }
  values_.emplace_back(std::string(field), std::move(value));
}

Variant ValueRecord::Invoke(std::string_view name, CallKind kind, std::span<Variant> args) {
  if (StartsWithFolded(name, "set")) {
    const std::string_view* field = Field(name.substr(3));
    if (!field) dispatch_detail::RaiseMemberNotFound(TypeName(), name);
    RequireArgs(TypeName(), name, args, 1);
    Put(*field, args[0]);
    return Variant();
  }
  // Getters answer for the values the caller set and those the ERP filled in
  // (a created order's number, a line's position).
  if (StartsWithFolded(name, "get")) {
    RequireArgs(TypeName(), name, args, 0);
    return Get(name.substr(3));
  }
  if (StartsWithFolded(name, "has")) {
    RequireArgs(TypeName(), name, args, 0);
    return Variant(Has(name.substr(3)));
  }
  dispatch_detail::RaiseMemberNotFound(TypeName(), name);
}

// RecordList --------------------------------------------------------------

void RecordList::Insert(ObjectPtr record, int32_t index) {
  if (!record) Raise(err::kObjectVariableNotSet, type_name_, "No record to insert");
  if (index < 0 || index > static_cast<int32_t>(items_.size()))
    Raise(err::kSubscriptOutOfRange, type_name_, "Index " + std::to_string(index) + " is outside the list");
  items_.insert(items_.begin() + index, std::move(record));
}

Variant RecordList::Invoke(std::string_view name, CallKind kind, std::span<Variant> args) {
  const std::string insert = "insert" + stem_ + "At";
  const std::string size = "size" + stem_;
  const std::string get = "get" + stem_ + "At";
  if (text::EqualsNoCase(name, insert)) {
    RequireArgs(type_name_, name, args, 2);
    Insert(args[0].ToObject(), args[1].ToLong());
    return Variant();
  }
  if (text::EqualsNoCase(name, size)) {
    RequireArgs(type_name_, name, args, 0);
    return Variant(static_cast<int32_t>(items_.size()));
  }
  if (text::EqualsNoCase(name, get)) {
    RequireArgs(type_name_, name, args, 1);
    const int32_t i = args[0].ToLong();
    if (i < 0 || i >= static_cast<int32_t>(items_.size()))
      Raise(err::kSubscriptOutOfRange, type_name_, "Index " + std::to_string(i) + " is outside the list");
    return Variant(items_[i]);
  }
  dispatch_detail::RaiseMemberNotFound(type_name_, name);
}

// Text, variants, errors -----------------------------------------------------

const ClassBinding<TextValue>& TextValue::Binding() {
  static const auto b = ClassBinding<TextValue>("TextValue")
                            .Method("SetText", &TextValue::SetText)
                            .Method("GetText", &TextValue::GetText);
  return b;
}

const ClassBinding<TextBlock>& TextBlock::Binding() {
  static const auto b = ClassBinding<TextBlock>("TextBlock")
                            .Method("addTextValue", &TextBlock::addTextValue)
                            .Method("sizeTextValues", &TextBlock::sizeTextValues)
                            .Method("sizeTextValue", &TextBlock::sizeTextValue)
                            .Method("getTextValueAt", &TextBlock::getTextValueAt);
  return b;
}

std::shared_ptr<TextValue> TextBlock::getTextValueAt(int32_t index) const {
  if (index < 0 || index >= static_cast<int32_t>(pieces_.size()))
    Raise(err::kSubscriptOutOfRange, "TextBlock", "Index " + std::to_string(index) + " is outside the block");
  return pieces_[index];
}

void TextBlock::addTextValue(const std::shared_ptr<TextValue>& piece) {
  if (!piece) Raise(err::kObjectVariableNotSet, "TextBlock", "No text value to add");
  pieces_.push_back(piece);
}

std::vector<std::string> TextBlock::Pieces() const {
  std::vector<std::string> out;
  out.reserve(pieces_.size());
  for (const auto& p : pieces_) out.push_back(p->GetText());
  return out;
}

const ClassBinding<ProductVariants>& ProductVariants::Binding() {
  static const auto b =
      ClassBinding<ProductVariants>("ProductVariants")
          .Method("addProductVariantLines", &ProductVariants::addProductVariantLines)
          .Method("sizeProductVariantLines", &ProductVariants::sizeProductVariantLines);
  return b;
}

void ProductVariants::addProductVariantLines(const ObjectPtr& line) {
  auto record = std::dynamic_pointer_cast<ValueRecord>(line);
  if (!record) Raise(err::kTypeMismatch, "ProductVariants", "Not a product variant line");
  lines_.push_back(std::move(record));
}

const ClassBinding<ErrorEntry>& ErrorEntry::Binding() {
  static const auto b = ClassBinding<ErrorEntry>("ErrorEntry")
                            .Property("ErrorNumber", &ErrorEntry::ErrorNumber)
                            .Property("ErrorText", &ErrorEntry::ErrorText)
                            .Property("FieldName", &ErrorEntry::FieldName);
  return b;
}

const ClassBinding<ErrorDocument>& ErrorDocument::Binding() {
  static const auto b = ClassBinding<ErrorDocument>("ErrorDocument")
                            .Property("Count", &ErrorDocument::Count)
                            .Property("Item", &ErrorDocument::Item);
  return b;
}

void ErrorDocument::Add(int32_t number, std::string text, std::string field) {
  entries_.push_back(std::make_shared<ErrorEntry>(number, std::move(text), std::move(field)));
}

std::shared_ptr<ErrorEntry> ErrorDocument::Item(int32_t index) const {
  if (index < 0 || index >= Count())
    Raise(err::kSubscriptOutOfRange, "ErrorDocument", "No error entry " + std::to_string(index));
  return entries_[index];
}

}  // namespace platform::erp
