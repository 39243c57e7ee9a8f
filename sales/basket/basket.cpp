// Vendra.Basket: restoring, creating, saving and deleting baskets, and
// adding and deleting lines. Copy lives in basket_copy.cpp.
#include "sales/basket/basket.h"

#include <climits>
#include <map>
#include <utility>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/object.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "sales/basket/basket_internal.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/encoding.h"
#include "shared/error_handling.h"
#include "platform/core/text.h"

namespace vendra {

using platform::Variant;
using platform::data::Recordset;
namespace ado = platform::data;

namespace basket_detail {

OperationConnection::OperationConnection()
    : connection_(lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString())) {}

OperationConnection::~OperationConnection() {
  // Reached with the connection still held only on a failure's way out,
  // where the failure being reported matters more than one in closing.
  try {
    lib_sales::Sls_CloseConnection(connection_);
  } catch (...) {
  }
}

void OperationConnection::Close() { lib_sales::Sls_CloseConnection(connection_); }

std::shared_ptr<Recordset> OpenBatchSet(const std::string& sql,
                                        const Basket::Connection& connection, int32_t cursor_type) {
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(ado::adUseClient);
  rs->Open(sql, connection, cursor_type, ado::adLockBatchOptimistic, ado::adCmdText);
  return rs;
}

Basket::Document NewDocument(const std::shared_ptr<Recordset>& header,
                             const std::shared_ptr<Recordset>& lines) {
  auto document = platform::Dictionary::New();
  document->Add("header", Variant(header));
  document->Add("lines", Variant(lines));
  return document;
}

void DeleteBasketRows(platform::data::Connection& connection, const std::string& basket_id) {
  const std::string key = lib_sales::EncVariant(Variant(basket_id));
  ado::Transaction tx(connection);
  connection.Execute("DELETE FROM BASKETLINE WHERE BASKETID = " + key, nullptr,
                     ado::adCmdText | ado::adExecuteNoRecords);
  connection.Execute("DELETE FROM BASKETHEADER WHERE BASKETID = " + key, nullptr,
                     ado::adCmdText | ado::adExecuteNoRecords);
  tx.Commit();
}

std::string TrimBlanks(const std::string& s) { return std::string(platform::text::TrimBlanks(s)); }

}  // namespace basket_detail

namespace {

using namespace basket_detail;

// Each level a failure passes through reports it under its own name.
constexpr char kRestore[] = "Vendra.Basket.Restore()";
constexpr char kCreate[] = "Vendra.Basket.Create()";
constexpr char kSave[] = "Vendra.Basket.Save()";
constexpr char kDelete[] = "Vendra.Basket.Delete()";
constexpr char kAddLine[] = "Vendra.Basket.AddLine()";
constexpr char kDeleteLines[] = "Vendra.Basket.DeleteLines()";
constexpr char kRestoreBasket[] = "Vendra.Basket.RestoreBasket";
constexpr char kCreateBasket[] = "Vendra.Basket.CreateBasket";
constexpr char kSaveBasket[] = "Vendra.Basket.SaveBasket";
constexpr char kAddLineToBasket[] = "Vendra.Basket.AddLineToBasket";
constexpr char kDeleteLinesFromBasket[] = "Vendra.Basket.DeleteLinesFromBasket";

// The business-partner component is released on every way out, as the
// component expects of its callers.
class PartnerComponent {
 public:
  PartnerComponent() : partner_(lib_sales::Sls_GetComponent("Kelmor.BusinessPartner")) {}
  ~PartnerComponent() {
    if (!partner_) return;
    try {
      platform::Call(partner_, "Release");
    } catch (...) {
    }
  }
  PartnerComponent(const PartnerComponent&) = delete;
  PartnerComponent& operator=(const PartnerComponent&) = delete;
  const platform::ObjectPtr& get() const { return partner_; }
  void Release() { platform::Call(std::exchange(partner_, nullptr), "Release"); }

 private:
  platform::ObjectPtr partner_;
};

// Writes one set's pending changes on the connection, in its transaction,
// and leaves the set detached again whatever happens.
void WriteBatch(Recordset& rs, const Basket::Connection& connection) {
  struct Detach {
    Recordset& rs;
    ~Detach() {
      try {
        rs.SetActiveConnection(nullptr);
      } catch (...) {
      }
    }
  } detach{rs};
  rs.SetActiveConnection(connection);
  rs.UpdateBatch();
}

// Inside a handler: the failure being handled again, with another
// description (when there is one to give).
[[noreturn]] void RaiseWithDescription(const std::string& description) {
  platform::ComError failure = platform::CurrentError();
  if (!description.empty()) failure.set_description(description);
  throw failure;
}

int32_t NextLineNumber(Recordset& lines) {
  if (lines.RecordCount() == 0) return 1;
  lines.MoveLast();
  const int32_t last = lines.Value("BASKETLINENR").ToLong();
  if (last == INT32_MAX) platform::Raise(platform::err::kOverflow, kAddLineToBasket);
  return last + 1;
}

}  // namespace

const platform::ClassBinding<Basket>& Basket::Binding() {
  static const auto b = platform::ClassBinding<Basket>("Basket")
                            .Method("Exists", &Basket::Exists)
                            .Method("BeforeDelete", &Basket::BeforeDelete)
                            .Method("Restore", &Basket::Restore)
                            .Method("Create", &Basket::Create)
                            .Method("Save", &Basket::Save)
                            .Method("Copy", &Basket::Copy)
                            .Method("Delete", &Basket::Delete)
                            .Method("AddLine", &Basket::AddLine)
                            .Method("DeleteLines", &Basket::DeleteLines)
                            .Method("GetBPStoredInDB", &Basket::GetBPStoredInDB)
                            .Method("ConvertToXML", &Basket::ConvertToXML)
                            .Method("SpecifyTax", &Basket::SpecifyTax);
  return b;
}

Basket::Document Basket::DocumentOf(const Variant& value) {
  platform::ObjectPtr object;
  if (value.IsObject()) object = value.ToObject();
  auto document = std::dynamic_pointer_cast<platform::Dictionary>(object);
  if (!document)
    platform::Raise(platform::err::kObjectRequired, "Vendra.Basket",
                    "A basket document (a dictionary with \"header\" and \"lines\") is required");
  return document;
}

std::shared_ptr<Recordset> Basket::RecordSetOf(const Document& document, const std::string& key) {
  const Variant entry = DocumentOf(Variant(document))->Item(key);
  std::shared_ptr<Recordset> rs;
  if (entry.IsObject()) rs = std::dynamic_pointer_cast<Recordset>(entry.ToObject());
  if (!rs)
    platform::Raise(platform::err::kObjectRequired, "Vendra.Basket",
                    "The basket document has no \"" + key + "\" record set");
  return rs;
}

// --- Restore ------------------------------------------------------------------------

Basket::Document Basket::Restore(const std::string& iBasketID) {
  return lib_sales::Guarded(kRestore, [&] {
    OperationConnection connection;
    Document document = RestoreBasket(iBasketID, connection.get());
    connection.Close();
    return document;
  });
}

Basket::Document Basket::RestoreBasket(const std::string& basket_id, const Connection& connection) {
  return lib_sales::Guarded(kRestoreBasket, [&]() -> Document {
    const std::string key = lib_sales::EncVariant(Variant(basket_id));
    auto header =
        OpenBatchSet("SELECT * FROM BASKETHEADER WHERE BASKETID = " + key, connection, ado::adOpenStatic);
    header->SetActiveConnection(nullptr);
    // A basket that is gone (ordered, deleted) is an answer, not a failure:
    // pages ask for stored baskets they only remember.
    if (header->Eof()) return nullptr;
    auto lines = OpenBatchSet("SELECT * FROM BASKETLINE WHERE BASKETID = " + key +
                                  " order by BASKETLINENR",
                              connection, ado::adOpenStatic);
    lines->SetActiveConnection(nullptr);
    return NewDocument(header, lines);
  });
}

// --- Create -------------------------------------------------------------------------

Basket::Document Basket::Create(const std::string& iUserID, int32_t iBusinessPartnerID) {
  return lib_sales::Guarded(kCreate, [&] {
    const std::string basket_id = lib_sales::NewGuidString();
    // Without a real identifier every new basket would land on the same row
    // and take over whatever basket is stored there.
    if (basket_id.size() != 32)
      platform::Raise(platform::err::kUnspecified, kCreate, "No new basket id could be had");
    OperationConnection connection;
    Document document = CreateBasket(basket_id, iUserID, iBusinessPartnerID, connection.get());
    connection.Close();
    return document;
  });
}

Basket::Document Basket::CreateBasket(const std::string& basket_id, const std::string& user_id,
                                      int32_t business_partner_id, const Connection& connection) {
  return lib_sales::Guarded(kCreateBasket, [&] {
    PartnerComponent partner;
    platform::Call(partner.get(), "GetBusinessPartner", {Variant(business_partner_id)});
    const std::string key = lib_sales::EncVariant(Variant(basket_id));
    auto header =
        OpenBatchSet("SELECT * FROM BASKETHEADER WHERE BASKETID = " + key, connection, ado::adOpenKeyset);
    auto lines =
        OpenBatchSet("SELECT * FROM BASKETLINE WHERE BASKETID = " + key, connection, ado::adOpenKeyset);
    if (header->Eof()) {
      header->AddNew();
    } else {
      // The row is taken over, as it always was; the log keeps a trace.
      try {
        lib_sales::LogWarning(kCreateBasket,
                              Variant("The GUID " + basket_id + " is already used as basket"));
      } catch (...) {
      }
    }
    header->SetValue("BASKETID", Variant(basket_id));
    header->SetValue("BASKETDATE", Variant(platform::Clock::Now()));
    header->SetValue("USERID", Variant(user_id));
    header->SetValue("BUSINESSPARTNERID", Variant(business_partner_id));
    header->SetValue("BILLINGADDRESSID", platform::Call(partner.get(), "GetPostalAddressID"));
    header->SetValue("SHIPPINGADDRESSID", platform::Call(partner.get(), "GetShippingAddressID"));
    header->SetValue("CURRENCYCODE", platform::Call(partner.get(), "GetCustomerCurrency"));
    header->SetValue("CARRIERCODE", platform::Call(partner.get(), "GetCustomerCarrier"));
    header->Update();
    header->UpdateBatch();
    header->SetActiveConnection(nullptr);
    lines->SetActiveConnection(nullptr);
    Document document = NewDocument(header, lines);
    partner.Release();
    return document;
  });
}

// --- Save ---------------------------------------------------------------------------

void Basket::Save(const Variant& iBasket) {
  lib_sales::Guarded(kSave, [&] {
    const Document document = DocumentOf(iBasket);
    OperationConnection connection;
    SaveBasket(document, connection.get());
    connection.Close();
  });
}

void Basket::SaveBasket(const Document& document, const Connection& connection) {
  lib_sales::Guarded(kSaveBasket, [&] {
    const auto header = RecordSetOf(document, "header");
    const auto lines = RecordSetOf(document, "lines");
    // One transaction for both sets; when it rolls back, the data layer puts
    // the rows of a set already written back to pending, so the document
    // keeps every change for the next Save.
    ado::Transaction tx(*connection);
    try {
      WriteBatch(*header, connection);
      WriteBatch(*lines, connection);
      tx.Commit();
    } catch (...) {
      // Read before the rollback, which starts a new operation on the
      // connection and so clears its error list.
      const std::string errors = lib_sales::ConnectionErrorsText(connection.get());
      try {
        tx.Rollback();
      } catch (...) {
      }
      RaiseWithDescription(errors);
    }
  });
}

// --- Delete -------------------------------------------------------------------------

void Basket::Delete(const std::string& iBasketID) {
  lib_sales::Guarded(kDelete, [&] {
    OperationConnection connection;
    DeleteBasketRows(*connection.get(), iBasketID);
    connection.Close();
  });
}

// --- Lines --------------------------------------------------------------------------

int32_t Basket::AddLine(Variant& iBasket, int32_t iSKU, double iQuantity,
                        platform::Date iRequestDate, bool iConfigurable,
                        const std::string& iConfigID) {
  return lib_sales::Guarded(kAddLine, [&] {
    const Document document = DocumentOf(iBasket);
    OperationConnection connection;
    const int32_t line_number = AddLineToBasket(document, iSKU, iQuantity, iRequestDate,
                                                iConfigurable, iConfigID, connection.get());
    Save(Variant(document));
    iBasket = Variant(document);
    connection.Close();
    return line_number;
  });
}

int32_t Basket::AddLineToBasket(const Document& document, int32_t sku, double quantity,
                                platform::Date request_date, bool configurable,
                                const std::string& config_id, const Connection&) {
  return lib_sales::Guarded(kAddLineToBasket, [&] {
    const auto header = RecordSetOf(document, "header");
    const auto lines = RecordSetOf(document, "lines");
    // The header has one row; a page that walked it may have left it at the end.
    if (header->Bof() || header->Eof()) header->MoveFirst();
    const Variant basket_id = header->Value("BASKETID");
    const int32_t line_number = NextLineNumber(*lines);
    lines->AddNew();
    lines->SetValue("BASKETID", basket_id);
    lines->SetValue("SKU", Variant(sku));
    lines->SetValue("QUANTITY", Variant(quantity));
    lines->SetValue("BASKETLINENR", Variant(line_number));
    lines->SetValue("REQUESTDATE", Variant(request_date));
    lines->SetValue("PRODUCTCONFIGURABLE", Variant(configurable));
    lines->SetValue("PRODUCTCONFIGID", Variant(TrimBlanks(config_id)));
    lines->Update();
    return line_number;
  });
}

bool Basket::DeleteLines(Variant& iBasket, const Variant& LineNrs) {
  return lib_sales::Guarded(kDeleteLines, [&] {
    const Document document = DocumentOf(iBasket);
    OperationConnection connection;
    const bool deleted = DeleteLinesFromBasket(document, LineNrs, connection.get());
    iBasket = Variant(document);
    connection.Close();
    return deleted;
  });
}

bool Basket::DeleteLinesFromBasket(const Document& document, const Variant& line_numbers,
                                   const Connection& connection) {
  return lib_sales::Guarded(kDeleteLinesFromBasket, [&] {
    const auto lines = RecordSetOf(document, "lines");
    // Each number given deletes the first line carrying it, as a search from
    // the first line would; one walk over the lines does them all. Numbers
    // are compared as numbers, so 2, 2.0 and "2" name the same line and a
    // text that is no number is refused (Type mismatch) before anything is
    // deleted.
    std::map<double, int> wanted;
    for (const Variant& element : line_numbers.Array()) ++wanted[element.ToDouble()];
    if (lines->RecordCount() > 0) {
      for (lines->MoveFirst(); !lines->Eof(); lines->MoveNext()) {
        const Variant number = lines->Value("BASKETLINENR");
        if (number.IsMissing()) continue;
        const auto it = wanted.find(number.ToDouble());
        if (it == wanted.end() || it->second == 0) continue;
        lines->Delete();
        --it->second;
      }
      lines->MoveFirst();
    }
    document->SetItem("lines", Variant(lines));
    SaveBasket(document, connection);
    return true;
  });
}

// --- GetBPStoredInDB ----------------------------------------------------------------

int32_t Basket::GetBPStoredInDB(Variant& i_sBasketID) {
  // Asked by pages that only want to know whose basket an id is: any
  // failure, a missing basket included, is simply "nobody" (0).
  try {
    Connection connection = lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
    struct Close {
      Connection& c;
      ~Close() {
        try {
          lib_sales::Sls_CloseConnection(c);
        } catch (...) {
        }
      }
    } close{connection};
    auto rs = connection->Execute("SELECT BUSINESSPARTNERID FROM BASKETHEADER WHERE BASKETID = " +
                                  lib_sales::EncVariant(Variant(i_sBasketID.ToString())));
    if (!rs) return 0;
    const int32_t partner = Variant(rs->fields()[0].Value().ToString()).ToLong();
    lib_sales::Sls_CloseRecordSet(rs);
    return partner;
  } catch (...) {
    return 0;
  }
}

}  // namespace vendra
