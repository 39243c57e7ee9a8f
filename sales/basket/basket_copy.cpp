// Vendra.Basket.Copy: a new basket from a stored one, configurations
// included.
//
// A copy is made in two stretches. Up to the moment the product configurator
// is at hand, a step that fails is skipped (and logged as a warning) and the
// copy goes on, so a source with, say, no header text still gives a copy:
// taking the source's sets, creating the new basket, naming it, taking over
// its addresses and text, creating the configurator. From there on the first
// failure ends the copy: a line that cannot be copied, a configuration that
// cannot be copied (a configurable line when no configurator could be
// created among them), the final save. A copy that ends in failure leaves
// nothing behind: the basket row Create stored for it is removed again.
#include <memory>
#include <string>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/object.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/host/registry.h"
#include "sales/basket/basket.h"
#include "sales/basket/basket_internal.h"
#include "shared/error_handling.h"

namespace vendra {

using platform::Variant;
using platform::data::Recordset;

namespace {

constexpr char kCopy[] = "Vendra.Basket.Copy()";

// The columns a copied line takes over from its source line.
constexpr const char* kCopiedLineColumns[] = {"BASKETLINENR", "SKU",       "QUANTITY",
                                              "REQUESTDATE",  "ADDRESSID", "LINETEXT"};

// Runs the steps that may fail without ending the copy.
class SkippableSteps {
 public:
  template <class Step>
  void Run(Step&& step) {
    try {
      step();
    } catch (...) {
      try {
        lib_sales::LogWarning(kCopy);
      } catch (...) {
      }
    }
  }
};

// A step that needs what an earlier, skipped step should have given fails
// the way a late-bound call on Nothing does.
template <class T>
T& Use(const std::shared_ptr<T>& object) {
  if (!object) platform::Raise(platform::err::kObjectVariableNotSet, kCopy);
  return *object;
}

// The basket Create stored for the copy, removed again unless the copy
// succeeds.
class NewBasketRow {
 public:
  NewBasketRow() = default;
  NewBasketRow(const NewBasketRow&) = delete;
  NewBasketRow& operator=(const NewBasketRow&) = delete;
  ~NewBasketRow() {
    if (id_.empty()) return;
    try {
      basket_detail::OperationConnection connection;
      basket_detail::DeleteBasketRows(*connection.get(), id_);
    } catch (...) {
      // The copy's own failure is the one being reported.
    }
  }
  void Keep(std::string id) { id_ = std::move(id); }
  void Dismiss() { id_.clear(); }

 private:
  std::string id_;
};

bool IsTrue(const Variant& flag) { return !flag.IsMissing() && flag.ToBool(); }

Variant TextOf(const Variant& value) { return Variant(value.IsMissing() ? std::string() : value.ToString()); }

}  // namespace

Basket::Document Basket::Copy(const Variant& iSourceBasket, const std::string& iNewName) {
  return lib_sales::Guarded(kCopy, [&] {
    NewBasketRow stored;
    SkippableSteps steps;
    Document source;
    Document copy;
    std::shared_ptr<Recordset> source_header, source_lines, header, lines;
    Variant new_id;
    platform::ObjectPtr configurator;

    steps.Run([&] { source = DocumentOf(iSourceBasket); });
    steps.Run([&] { source_header = RecordSetOf(source, "header"); });
    steps.Run([&] { source_lines = RecordSetOf(source, "lines"); });
    steps.Run([&] {
      Recordset& from = Use(source_header);
      copy = Create(from.Value("USERID").ToString(), from.Value("BUSINESSPARTNERID").ToLong());
      stored.Keep(RecordSetOf(copy, "header")->Value("BASKETID").ToString());
    });
    steps.Run([&] { header = RecordSetOf(copy, "header"); });
    steps.Run([&] { lines = RecordSetOf(copy, "lines"); });
    steps.Run([&] { Use(header).SetValue("BASKETNAME", Variant(iNewName)); });
    steps.Run([&] { Use(header).SetValue("BASKETDATE", Variant(platform::Clock::Now())); });
    for (const char* column : {"SHIPPINGADDRESSID", "BILLINGADDRESSID", "BASKETTEXT"}) {
      steps.Run([&] { Use(header).SetValue(column, Use(source_header).Value(column)); });
    }
    steps.Run([&] { new_id = Use(header).Value("BASKETID"); });
    // Created directly, not in the caller's activity: the configurator keeps
    // no transaction of ours.
    steps.Run([&] { configurator = platform::CreateObject("Syntaro.Configurator"); });

    // From here on the first failure ends the copy.
    platform::ObjectPtr service;
    const Variant language = TextOf(source ? source->Item("_language") : Variant());
    const Variant country = TextOf(source ? source->Item("_countrycode") : Variant());
    // Walked on a clone, so the source keeps its position.
    const std::shared_ptr<Recordset> from = Use(source_lines).Clone();
    Recordset& to = Use(lines);
    if (from->RecordCount() > 0) {
      for (from->MoveFirst(); !from->Eof(); from->MoveNext()) {
        to.AddNew();
        to.SetValue("BASKETID", new_id);
        for (const char* column : kCopiedLineColumns) to.SetValue(column, from->Value(column));
        if (IsTrue(from->Value("PRODUCTCONFIGURABLE"))) {
          // The flag goes with the line, or the copy would be priced and
          // shown as an ordinary product.
          to.SetValue("PRODUCTCONFIGURABLE", Variant(true));
          if (!service)
            service = platform::Call(configurator, "GetConfigurationService").ToObject();
          to.SetValue("PRODUCTCONFIGID",
                      platform::Call(service, "CopyConfiguration",
                                     {Variant(from->Value("PRODUCTCONFIGID").ToString()),
                                      Variant(from->Value("SKU").ToString()), language, country}));
        }
        to.Update();
      }
    }
    Use(copy).SetItem("header", Variant(header));
    copy->SetItem("lines", Variant(lines));
    Save(Variant(copy));
    stored.Dismiss();
    return copy;
  });
}

}  // namespace vendra
