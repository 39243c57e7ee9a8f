// Order.CreateSOatBackend: handing orders to the back end, the periodic run
// over an instance's waiting orders with its claim, and the failure notice.

#include <memory>
#include <string>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/dictionary.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/services/mail_message.h"
#include "sales/order/order.h"
#include "shared/claim.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/encoding.h"
#include "shared/error_handling.h"
#include "shared/helpers.h"
#include "shared/localisation.h"

namespace vendra {

namespace {

using platform::Variant;
using platform::data::Connection;
using platform::data::Recordset;

// The first value of a one-column query on ORDEREXPORTFILE, or Empty.
Variant ExportFileValue(const std::string& column, int32_t instance) {
  std::shared_ptr<Connection> connection;
  std::shared_ptr<Recordset> rs;
  Variant value;
  try {
    connection = lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
    rs = connection->Execute("SELECT " + column + " FROM ORDEREXPORTFILE WHERE KROID = " +
                             lib_sales::EncLong(instance));
    if (rs && !rs->Eof()) value = rs->Value(column);
  } catch (...) {
    value = Variant();
  }
  try {
    lib_sales::Sls_CloseRecordSet(rs);
    lib_sales::Sls_CloseConnection(connection);
  } catch (...) {
  }
  return value;
}

// The claim of one periodic run on the orders it hands over. The claim is
// let go when the run ends, however it ends; a run that dies leaves it to
// expire.
class Claim {
 public:
  explicit Claim(std::string id) : id_(std::move(id)) {}
  ~Claim() {
    try {
      Release();
    } catch (...) {
    }
  }
  Claim(const Claim&) = delete;
  Claim& operator=(const Claim&) = delete;
  const std::string& id() const { return id_; }
  void Release() {
    if (released_) return;
    released_ = true;
    std::shared_ptr<Connection> connection =
        lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
    connection->Execute("DELETE FROM ORDERCLAIM WHERE CLAIMID = " + lib_sales::EncString(id_));
    lib_sales::Sls_CloseConnection(connection);
  }

 private:
  std::string id_;
  bool released_ = false;
};

}  // namespace

int32_t GetMaxAttempts(int32_t instance) {
  try {
    const Variant v = ExportFileValue("MAXATTEMPTS", instance);
    return v.IsMissing() ? 0 : v.ToLong();
  } catch (...) {
    return 0;
  }
}

std::string GetNotificationEmail(int32_t instance) {
  try {
    const Variant v = ExportFileValue("EMAIL", instance);
    if (v.IsMissing() || v.ToString().empty()) return kFallbackMailbox;
    return v.ToString();
  } catch (...) {
    return kFallbackMailbox;
  }
}

bool Order::HandOver(const platform::ObjectPtr& document) {
  platform::ObjectPtr backend = lib_sales::Sls_GetComponent("Ferrolink.Order");
  std::vector<Variant> args{Variant(document), Variant(false)};
  platform::CallRef(backend, "CreateBackendSalesOrder", args);
  backend.reset();
  return args[1].ToBool();
}

void Order::SendFailureNotice(int32_t kro_id) {
  const platform::ObjectPtr configuration = lib_sales::Sls_GetComponent("Orvanta.Configuration");
  platform::Call(configuration, "LoadApplicationConfig", {Variant("Vendra"), Variant(int32_t{0})});
  const Variant pickup = platform::Call(
      configuration, "GetValue", {Variant("GENERAL_PARAMETERS"), Variant("SMTPMailPickupDirectory")});
  auto message = std::make_shared<platform::MailMessage>();
  const auto fields = message->Configuration()->Fields();
  fields->SetItem("http://schemas.microsoft.com/cdo/configuration/sendusing", Variant(int32_t{1}));
  fields->SetItem("http://schemas.microsoft.com/cdo/configuration/smtpserverpickupdirectory", pickup);
  fields->Update();
  message->SetSubject(lib_sales::Sls_getI18NText("SLBSA0831", Variant("1033")));
  message->SetTextBody(lib_sales::Sls_getI18NText("SLBSA0832", Variant("1033")));
  // Sender and recipient are the same mailbox: one read of ORDEREXPORTFILE.
  const std::string mailbox = GetNotificationEmail(kro_id);
  message->SetSender(mailbox);
  message->SetMimeFormatted(true);
  message->SetTo(mailbox);
  message->SetFrom(message->Sender());
  message->Send();
}

std::vector<HandoverOutcome> Order::HandOverWaitingOrders(int32_t kro_id) {
  std::vector<HandoverOutcome> outcomes;
  const int32_t max = GetMaxAttempts(kro_id);
  // The instance id is a byte in the statement text: an id outside 0..255
  // fails with an overflow before anything is read.
  if (kro_id < 0 || kro_id > 255) {
    platform::Raise(platform::err::kOverflow, "Order.CreateSOatBackend",
                    "Overflow: back-end instance id " + std::to_string(kro_id) +
                        " lies outside 0 to 255");
  }
  const std::string instance = lib_sales::EncByte(Variant(kro_id));
  const std::string cs = lib_sales::Sls_ConnectionString();
  Claim claim(lib_sales::NewGuidString());
  const platform::Date now = platform::Clock::Now();
  const platform::Date expired = now.AddDays(-static_cast<double>(kClaimLeaseMinutes) / (24 * 60));
  {
    std::shared_ptr<Connection> connection = lib_sales::Sls_GetOpenConnection(cs);
    platform::data::Transaction tx(*connection);
    // Claims older than the lease belong to runs that died: their orders
    // are free again. Then one statement takes the waiting orders no other
    // run holds: two runs at the same time never hand over the same order.
    connection->Execute("DELETE FROM ORDERCLAIM WHERE CLAIMED < " + lib_sales::EncDate(expired));
    Variant claimed;
    const std::string take = "INSERT INTO ORDERCLAIM (ORDERID, CLAIMID, CLAIMED) SELECT ORDERID, " +
                             lib_sales::EncString(claim.id()) + ", " + lib_sales::EncDate(now) +
                             " FROM ORDERHEADER WHERE  KROID = " + instance + " AND ORDERSTATUS = " +
                             "0" + " AND ATTEMPTS < " + lib_sales::EncLong(max) +
                             " AND ORDERID NOT IN (SELECT ORDERID FROM ORDERCLAIM)";
    // Several web servers may run it at once: a claim that meets another
    // run's takes what is left (shared/claim.h).
    lib_sales::ExecuteClaim(*connection, take, &claimed);
    if (claimed.ToLong() == 0) {
      tx.Commit();
      lib_sales::Sls_CloseConnection(connection);
      return outcomes;
    }
    connection->Execute("update ORDERHEADER SET ATTEMPTS = ATTEMPTS + 1 " + std::string(" WHERE  KROID = ") +
                        instance + " AND ORDERSTATUS = " + "0");
    tx.Commit();
    lib_sales::Sls_CloseConnection(connection);
  }
  const std::string claim_sql = lib_sales::EncString(claim.id());
  std::shared_ptr<Recordset> header = lib_sales::Sls_GetDisconnectedRecordset(
      "SELECT * FROM ORDERHEADER " +
          std::string(" WHERE  ORDERID IN (SELECT ORDERID FROM ORDERCLAIM WHERE CLAIMID = ") +
          claim_sql + ")",
      cs);
  auto document = platform::Dictionary::New();
  document->Add("header", Variant(header));
  document->Add("origin", Variant(kOriginPeriodicRun));
  const bool refused = HandOver(document);

  auto after = lib_sales::Sls_GetDisconnectedRecordset(
      "SELECT ORDERID, ORDERSTATUS, SALESORDERNR, ERROR, ATTEMPTS FROM ORDERHEADER WHERE ORDERID IN "
      "(SELECT ORDERID FROM ORDERCLAIM WHERE CLAIMID = " +
          claim_sql + ") ORDER BY ORDERDATE, ORDERID",
      cs);
  for (; !after->Eof(); after->MoveNext()) {
    const auto text = [&](const char* c) {
      const Variant v = after->Value(c);
      return v.IsMissing() ? std::string() : v.ToString();
    };
    outcomes.push_back({text("ORDERID"), after->Value("ORDERSTATUS").ToLong(), text("SALESORDERNR"),
                        text("ERROR"), after->Value("ATTEMPTS").ToLong()});
  }
  claim.Release();
  if (refused) SendFailureNotice(kro_id);
  return outcomes;
}

// No handler of its own: a failure (the back end cannot be created, the
// database, the mail) reaches the caller unchanged, and SubmitBasket
// reports it after its commit, so the stored order stays.
void Order::CreateSOatBackend(std::optional<int32_t> iKroID,
                              std::optional<platform::ObjectPtr> iOrderDict) {
  const int32_t kro_id = iKroID.value_or(0);
  const platform::ObjectPtr document = iOrderDict ? *iOrderDict : nullptr;
  if (!document) {
    HandOverWaitingOrders(kro_id);
    return;
  }
  // The notice of an order handed over at once goes to its own instance's
  // address, not to instance 0's.
  int32_t notice_instance = kro_id;
  if (notice_instance == 0) {
    const auto header = lib_sales::ItemOf(document, "header").As<Recordset>();
    if (header && header->RecordCount() > 0) {
      header->MoveFirst();
      if (platform::data::Field* f = header->fields().Find("KROID"); f && !f->Value().IsMissing())
        notice_instance = f->Value().ToLong();
    }
  }
  if (HandOver(document)) SendFailureNotice(notice_instance);
}

}  // namespace vendra
