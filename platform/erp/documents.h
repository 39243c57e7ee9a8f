// The ERP's documents of a sales order and the records behind them.
//
// ShowSalesOrderComponent (one class per connector type, created by class
// identity like the other business components) answers
// showsalesorderacknowledgment, showsalesorderadvancedshipmentnotice and
// showsalesorderinvoice for an order number of its instance. The answer is a
// result object: getVornErrorDocAt(0) (an ErrorDocument; empty when the
// document could be made) and get<ACK|ASN|INV>SLSRecordSetAt(0), whose
// getOSalesOrderAt(0) is the order with its lines (sizeSOLineDetails,
// getSOLineDetailsAt(i)). Order and line values are read with getX/hasX; a
// value the ERP does not hold answers False to hasX and Empty to getX. Text
// blocks answer sizeTextValue and getTextValueAt(i).GetText().
//
// ShipSalesOrder and InvoiceSalesOrder make the shipments and invoices the
// notice and the invoice show: real records in the ERP's catalog, each
// written in one transaction.
//
// Thread-safety: a component or document is used by one caller at a time;
// callers on different threads meet only in the ERP's database.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/core/object.h"
#include "platform/erp/components.h"

namespace platform::erp {

// The connector's error numbers of the documents (entry 0 of the error
// document, or raised by ShipSalesOrder/InvoiceSalesOrder).
namespace erp_err {
inline constexpr int32_t kUnknownSalesOrder = 1007;
inline constexpr int32_t kNoShipment = 1008;
inline constexpr int32_t kNoInvoice = 1009;
inline constexpr int32_t kNothingToShip = 1010;
inline constexpr int32_t kNothingToInvoice = 1011;
}  // namespace erp_err

enum class DocumentKind { Acknowledgement, ShipmentNotice, Invoice };

// A text block of a document (order or line text): sizeTextValue and
// getTextValueAt(i).GetText(), read-only. Each getTextValueAt answers a
// TextValue of its own, so a caller that changes it changes no document.
class DocumentText : public Dispatchable<DocumentText> {
 public:
  static const ClassBinding<DocumentText>& Binding();
  explicit DocumentText(std::vector<std::string> pieces) : pieces_(std::move(pieces)) {}
  int32_t sizeTextValue() const { return static_cast<int32_t>(pieces_.size()); }
  std::shared_ptr<TextValue> getTextValueAt(int32_t index) const;
  const std::vector<std::string>& pieces() const { return pieces_; }

 private:
  std::vector<std::string> pieces_;
};

// A record of named values and named lists, read by name: getX and hasX for
// values, sizeX and getXAt(i) for lists. Callers only read it: a document
// the ERP hands out is frozen, and Put/Add on it raise.
//
// The names of a record's values, in the order they were put, are its
// layout. When a document is frozen, the records of one list that hold the
// same names share one layout object, so a reader of many lines (Lookups)
// finds where each of its names is once per layout instead of once per line.
class DocumentRecord : public Object {
 public:
  // Names folded to lower case, in the order put; shared once frozen.
  struct Layout {
    std::vector<std::string> names;
    // The place of name (any case) in names, or -1.
    int IndexOf(std::string_view name) const;
  };

  explicit DocumentRecord(std::string type_name)
      : type_name_(std::move(type_name)), layout_(std::make_shared<Layout>()) {}
  std::string_view TypeName() const override { return type_name_; }
  Variant Invoke(std::string_view name, CallKind kind, std::span<Variant> args) override;

  void Put(std::string_view name, Variant value);
  void Add(const std::string& list, ObjectPtr item);
  // This record and the records of its lists take no more values; records
  // of a list with equal names share their layout.
  void Freeze();

  // What getX answers for the name X (any case) when hasX is True; nullptr
  // when hasX is False.
  const Variant* Find(std::string_view name) const;
  // The items of the list X (sizeX, getXAt), or nullptr for none.
  const std::vector<ObjectPtr>* List(std::string_view name) const;

  // For a reader in this process that walks a large document: the layout
  // (compare by address to reuse what IndexOf found) and the values by
  // their place in it.
  const Layout* layout() const { return layout_.get(); }
  const Variant& ValueAt(int index) const { return values_[static_cast<size_t>(index)]; }

 private:
  [[noreturn]] void RaiseFrozen() const;
  std::string type_name_;
  bool frozen_ = false;
  std::shared_ptr<Layout> layout_;
  std::vector<Variant> values_;  // by the place of their names in layout_
  std::vector<std::pair<std::string, std::vector<ObjectPtr>>> lists_;  // folded names
};

// The document of an order of the instance (an error document for an
// unknown order, an order without shipment or without invoice). A document
// that could be made is kept in the CatalogCache until the catalog changes,
// and handed back frozen to every later call for it.
std::shared_ptr<DocumentRecord> ShowDocument(const ErpInstance& instance, ConnectorType type,
                                             DocumentKind kind, const std::string& sales_order);

template <ConnectorType T>
class ShowSalesOrderComponent final : public Dispatchable<ShowSalesOrderComponent<T>> {
 public:
  static const ClassBinding<ShowSalesOrderComponent>& Binding() {
    static const auto b =
        ClassBinding<ShowSalesOrderComponent>(std::string(ConnectorTypeCode(T)) +
                                              ".ShowSalesOrderComponent")
            .Method("Initialize", &ShowSalesOrderComponent::Initialize)
            .Method("showsalesorderacknowledgment", &ShowSalesOrderComponent::Acknowledgement)
            .Method("showsalesorderadvancedshipmentnotice", &ShowSalesOrderComponent::Notice)
            .Method("showsalesorderinvoice", &ShowSalesOrderComponent::Invoice)
            .Method("Close", &ShowSalesOrderComponent::Close);
    return b;
  }
  void Initialize(const std::string& id) { core_.Initialize(T, id); }
  ObjectPtr Acknowledgement(const std::string& so) {
    return ShowDocument(core_.instance(), T, DocumentKind::Acknowledgement, so);
  }
  ObjectPtr Notice(const std::string& so) {
    return ShowDocument(core_.instance(), T, DocumentKind::ShipmentNotice, so);
  }
  ObjectPtr Invoice(const std::string& so) {
    return ShowDocument(core_.instance(), T, DocumentKind::Invoice, so);
  }
  void Close() { core_.Close(); }

 private:
  ComponentCore core_;
};

// Delivers lines of a sales order of the instance: each (position,
// quantity) pair, a quantity of 0 meaning all that is still open; no pairs
// meaning every open line in full. Returns the shipment number. Raises
// kUnknownSalesOrder, kNothingToShip (an unknown position, a quantity above
// what is open, nothing open); nothing is stored then.
std::string ShipSalesOrder(int32_t kro_id, const std::string& sales_order,
                           const std::vector<std::pair<int32_t, double>>& lines);

// Invoices every delivered quantity of the order not invoiced yet; returns
// the invoice number. Raises kUnknownSalesOrder or kNothingToInvoice.
std::string InvoiceSalesOrder(int32_t kro_id, const std::string& sales_order);

}  // namespace platform::erp
