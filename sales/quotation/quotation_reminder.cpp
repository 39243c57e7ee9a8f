// Vendra.Quotation.Run and its steps: the batch run that reminds users of
// their quotations before these expire. One plain-text message per due
// quotation, in the language stored with the quotation, dropped into the
// pickup directory of the local mail service through "CDO.Message".
//
// A reminder is mailed once:
// - the run first claims the due quotations in one statement (a row each in
//   QUOTATIONCLAIM naming the run); a second run at the same time finds them
//   claimed and leaves them alone. A claim older than the lease belongs to a
//   run that died and is dropped by the next run.
// - each quotation is marked as reminded (NOTIFICATIONSENT) once its message
//   has been handed over; the marks are written in small batches and
//   whenever the run ends, also when a failure ends it, so a failure later
//   in the run does not mail it again. What was not mailed is let go with
//   the claim and taken by the next run.
#include <array>
#include <map>
#include <optional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/core/clock.h"
#include "platform/core/com_error.h"
#include "platform/core/date.h"
#include "platform/core/dictionary.h"
#include "platform/data/ado_types.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "sales/quotation/quotation.h"
#include "sales/quotation/quotation_reminder.h"
#include "shared/claim.h"
#include "shared/components.h"
#include "shared/data_routines.h"
#include "shared/encoding.h"
#include "shared/error_handling.h"
#include "shared/helpers.h"
#include "shared/localisation.h"
#include "shared/parameters.h"

namespace vendra {

using platform::ObjectPtr;
using platform::Variant;
using platform::data::Recordset;
namespace ado = platform::data;

namespace {

constexpr char kSendNotificationMail[] = "Vendra.Quotation.Run.SendNotificationMail() ";
constexpr char kUpdateNotificationStatus[] = "Vendra.Quotation.UpdateNotificationStatus()";
constexpr char kSendUsing[] = "http://schemas.microsoft.com/cdo/configuration/sendusing";
constexpr char kPickupDirectory[] =
    "http://schemas.microsoft.com/cdo/configuration/smtpserverpickupdirectory";

// A claim older than this belongs to a run that died; its quotations are due again.
constexpr int kClaimLeaseMinutes = 60;

// The label codes of the message, in the order fillLabelsArray gives them.
constexpr const char* kLabelCodes[] = {
    "SLBSA7002", "SLBSA7003", "SLBSA7004", "SLBSA7005", "SLBSA7006", "SLBSA7007",
    "SLBSA7008", "SLBSA7009", "SLBSA7000", "SLBSA7012", "SLBSA7013", "SLBSA7015",
};

// The condition of a due quotation: reminder wanted, its day come, not yet
// reminded, not yet expired.
std::string DueCondition(const platform::Date& today) {
  return std::string(" WHERE NOTIFICATIONNEEDED = 1 ") + "   AND ( NOTIFICATIONDATE IS NOT NULL AND " +
         "       NOTIFICATIONDATE <= " + lib_sales::EncDate(today) + " ) " +
         "   AND NOTIFICATIONSENT = 0 " + "   AND EXPIRYDATE > " + lib_sales::EncDate(today);
}

std::string DueSelection(const platform::Date& today) {
  return std::string(" SELECT QUOTATIONID, CUSTOMERREFERENCE,CREATIONDATE,USERID,EXPIRYDATE, ") +
         " NOTIFICATIONNEEDED, NOTIFICATIONDATE, NOTIFICATIONSENT, USERLOCALE " +
         " FROM QUOTATIONHEADER " + DueCondition(today);
}

// The rows of the query in a client-side, batch-optimistic set, detached.
std::shared_ptr<Recordset> ReadDetached(const std::string& sql) {
  std::shared_ptr<ado::Connection> connection =
      lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
  auto rs = std::make_shared<Recordset>();
  rs->SetCursorLocation(ado::adUseClient);
  rs->Open(sql, connection, ado::adOpenKeyset, ado::adLockBatchOptimistic, ado::adCmdText);
  rs->SetActiveConnection(nullptr);
  lib_sales::Sls_CloseConnection(connection);
  return rs;
}

// The due quotations one run holds. Taken in one statement, so two runs at
// the same time never hold the same quotation; let go when the run ends,
// however it ends.
class ReminderClaim {
 public:
  ReminderClaim() : id_(lib_sales::NewGuidString()) {}
  ~ReminderClaim() {
    try {
      Release();
    } catch (...) {
    }
  }
  ReminderClaim(const ReminderClaim&) = delete;
  ReminderClaim& operator=(const ReminderClaim&) = delete;

  // Claims what is due today and not held by a live run; the number claimed.
  int32_t Take(const platform::Date& today) {
    if (id_.size() != 32)
      platform::Raise(platform::err::kUnspecified, kSendNotificationMail,
                      "No claim id could be had for the reminder run");
    const platform::Date now = platform::Clock::Now();
    const platform::Date expired = now.AddDays(-static_cast<double>(kClaimLeaseMinutes) / (24 * 60));
    std::shared_ptr<ado::Connection> connection =
        lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
    ado::Transaction tx(*connection);
    connection->Execute("DELETE FROM QUOTATIONCLAIM WHERE CLAIMED < " + lib_sales::EncDate(expired),
                        nullptr, ado::adCmdText | ado::adExecuteNoRecords);
    Variant claimed;
    // Several web servers may run it at once: a claim that meets another
    // run's takes what is left (shared/claim.h).
    lib_sales::ExecuteClaim(*connection,
                            "INSERT INTO QUOTATIONCLAIM (QUOTATIONID, CLAIMID, CLAIMED) SELECT QUOTATIONID, " +
                                lib_sales::EncString(id_) + ", " + lib_sales::EncDate(now) +
                                " FROM QUOTATIONHEADER " + DueCondition(today) +
                                " AND QUOTATIONID NOT IN (SELECT QUOTATIONID FROM QUOTATIONCLAIM)",
                            &claimed);
    tx.Commit();
    lib_sales::Sls_CloseConnection(connection);
    taken_ = true;
    return claimed.ToLong();
  }

  // The claimed quotations as the selection reads them.
  std::shared_ptr<Recordset> Rows(const platform::Date& today) const {
    return ReadDetached(DueSelection(today) +
                        " AND QUOTATIONID IN (SELECT QUOTATIONID FROM QUOTATIONCLAIM WHERE CLAIMID = " +
                        lib_sales::EncString(id_) + ")");
  }

  void Release() {
    if (!taken_) return;
    taken_ = false;
    std::shared_ptr<ado::Connection> connection =
        lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
    connection->Execute("DELETE FROM QUOTATIONCLAIM WHERE CLAIMID = " + lib_sales::EncString(id_),
                        nullptr, ado::adCmdText | ado::adExecuteNoRecords);
    lib_sales::Sls_CloseConnection(connection);
  }

 private:
  std::string id_;
  bool taken_ = false;
};

// Text for one line of a header: a stored reference with a line break (or
// another control character) must not start a header of its own.
std::string OneLine(std::string text) {
  for (char& ch : text)
    if (static_cast<unsigned char>(ch) < 0x20 || ch == 0x7f) ch = ' ';
  return text;
}

std::string TextOf(const Variant& value) { return value.IsMissing() ? std::string() : value.ToString(); }

// The user of the rows being mailed, with what the message takes from them.
struct Recipient {
  ObjectPtr user;  // nullptr: the membership directory could not give the user
  std::string site_name;
  std::string email;
  std::string reference_name;
  int32_t locale_number = 0;
};

// The labels of one locale, and the date pattern built from them. Each
// label's text is taken from the labels on its first use and kept for the
// locale's later messages.
struct MailTexts {
  std::shared_ptr<platform::Dictionary> labels;
  std::string pattern;
  const std::string& Label(std::string_view code) const {
    for (size_t i = 0; i < std::size(kLabelCodes); ++i) {
      if (code != kLabelCodes[i]) continue;
      if (!texts[i]) texts[i] = labels->Item(kLabelCodes[i]).ToString();
      return *texts[i];
    }
    platform::Raise(platform::err::kUnspecified, kSendNotificationMail,
                    "No label " + std::string(code) + " in the message's labels");
  }

 private:
  mutable std::array<std::optional<std::string>, std::size(kLabelCodes)> texts;
};

// The message body, line by line as the users receive it.
void BuildBody(std::string& body, const MailTexts& t, const std::string& reference,
               const Variant& creation_date, const Variant& expiry_date,
               const std::string& site_name, const std::string& quotation_id) {
  static constexpr char kCrLf[] = "\r\n";
  body.clear();
  body += t.Label("SLBSA7003");
  body += kCrLf;
  body += kCrLf;
  body += "       ";
  body += t.Label("SLBSA7004");
  body += ' ';
  body += reference;
  body += " ,";
  body += t.Label("SLBSA7005");
  body += ' ';
  body += creation_date.ToString();
  body += t.pattern;
  body += t.Label("SLBSA7006");
  body += ' ';
  body += expiry_date.ToString();
  body += t.pattern;
  body += '.';
  body += kCrLf;
  body += t.Label("SLBSA7007");
  body += kCrLf;
  body += "              ";
  body += site_name;
  body += "/Vendra/currentorder/QuotationDetail.asp?";
  body += "QuotationID=";
  body += quotation_id;
  body += "&mode=active";
  body += kCrLf;
  body += kCrLf;
  body += t.Label("SLBSA7008");
  body += kCrLf;
  body += t.Label("SLBSA7009");
}

// The quotations whose messages were handed over, written as reminded
// (NOTIFICATIONSENT) in one transaction for every kMarkBatch messages, at the
// end of the run and on the way out of a run a failure ends: what was
// mailed is never mailed again, and the run does not pay a commit per
// message. The run's record set is left as read, so the batch write of
// UpdateNotificationStatus finds nothing left to write.
class Marks {
 public:
  static constexpr size_t kMarkBatch = 100;

  Marks() = default;
  ~Marks() {
    try {
      if (connection_) lib_sales::Sls_CloseConnection(connection_);
    } catch (...) {
    }
  }
  Marks(const Marks&) = delete;
  Marks& operator=(const Marks&) = delete;

  void Add(const std::string& quotation_id) {
    marked_.push_back(quotation_id);
    if (marked_.size() >= kMarkBatch) Write();
  }

  // On failure nothing of the batch is written (the quotations stay due)
  // and the failure is logged naming the first quotation of the batch,
  // then raised.
  void Write() {
    if (marked_.empty()) return;
    try {
      if (!connection_)
        connection_ = lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
      // One statement for every row, the id bound: compiled once. The flag
      // is written as the 1 the column keeps: a true byte (255) would make
      // the table's normalising trigger write the whole row a second time,
      // which costs more than the rest of the mark.
      const std::string set = "UPDATE QUOTATIONHEADER SET NOTIFICATIONSENT = " +
                              lib_sales::EncLong(1) + " WHERE QUOTATIONID = ?";
      ado::Transaction tx(*connection_);
      for (const std::string& id : marked_) connection_->Execute(set, {Variant(id)});
      tx.Commit();
      marked_.clear();
    } catch (...) {
      lib_sales::LogFailure(kUpdateNotificationStatus,
                            lib_sales::Info(Variant(
                                "Updation of NotificationSent flag Failed for Quotation - " +
                                marked_.front())));
      throw;
    }
  }

 private:
  std::shared_ptr<ado::Connection> connection_;
  std::vector<std::string> marked_;  // handed over, not yet written
};

// "CDO.Message" for the whole run, delivering into the pickup directory the
// sales configuration names.
ObjectPtr NewMessage() {
  const ObjectPtr configuration = lib_sales::Sls_GetComponent("Orvanta.Configuration");
  platform::Call(configuration, "LoadApplicationConfig", {Variant("Vendra"), Variant(int16_t{0})});
  const Variant pickup = platform::Call(
      configuration, "GetValue", {Variant("GENERAL_PARAMETERS"), Variant("SMTPMailPickupDirectory")});
  ObjectPtr message = lib_sales::Sls_GetComponent("CDO.Message");
  const ObjectPtr fields =
      platform::GetProperty(platform::GetProperty(message, "Configuration").ToObject(), "Fields")
          .ToObject();
  platform::SetProperty(fields, "Item", {Variant(kSendUsing)}, Variant(int32_t{1}));
  platform::SetProperty(fields, "Item", {Variant(kPickupDirectory)}, Variant(pickup.ToString()));
  platform::Call(fields, "Update");
  return message;
}

}  // namespace

platform::Variant Quotation::fillLabelsArray() {
  try {
    platform::VariantArray codes;
    codes.reserve(std::size(kLabelCodes));
    for (const char* code : kLabelCodes) codes.emplace_back(code);
    return Variant(std::move(codes));
  } catch (...) {
    lib_sales::LogFailure("Vendra.Quotation.fillLabelsArray(): ",
                          lib_sales::Info(Variant("Filling of Labels failed")));
    return Variant();
  }
}

Quotation::RecordsetPtr Quotation::getToBeNotifiedQuotations() {
  try {
    return ReadDetached(DueSelection(platform::Clock::Today()));
  } catch (...) {
    lib_sales::LogFailure("Vendra.Quotation.getToBeNotifiedQuotations(): ",
                          lib_sales::Info(Variant("Selection of to be Notified Quotations failed ")));
    return nullptr;
  }
}

void Quotation::UpdateNotificationStatus(platform::Variant& iQuotationRs) {
  std::shared_ptr<Recordset> rs;
  try {
    rs = iQuotationRs.As<Recordset>();
    if (!rs) platform::Raise(platform::err::kObjectRequired, kUpdateNotificationStatus,
                             "The quotations to mark are no record set");
    std::shared_ptr<ado::Connection> connection =
        lib_sales::Sls_GetOpenConnection(lib_sales::Sls_ConnectionString());
    ado::Transaction tx(*connection);
    rs->SetActiveConnection(connection);
    rs->UpdateBatch(ado::adAffectAll);
    rs->SetActiveConnection(nullptr);
    tx.Commit();
    lib_sales::Sls_CloseConnection(connection);
  } catch (...) {
    if (rs) {
      try {
        rs->SetActiveConnection(nullptr);
      } catch (...) {
      }
    }
    // After the last row the set has no current row to name; the text then
    // names the first quotation of the set.
    std::string id;
    try {
      if (rs && rs->RecordCount() > 0) {
        if (rs->Eof() || rs->Bof()) rs->MoveFirst();
        id = TextOf(rs->Value("QUOTATIONID"));
      }
    } catch (...) {
    }
    lib_sales::LogFailure(kUpdateNotificationStatus,
                          lib_sales::Info(Variant(
                              "Updation of NotificationSent flag Failed for Quotation - " + id)));
  }
}

namespace {

// The steps of SendNotificationMail, counting what they do.
ReminderRun SendReminders(Quotation& quotation) {
  ReminderRun run;
  run.implemented = true;
  ReminderClaim claim;
  Recipient recipient;
  // The membership directory of the run: signed on once, one connection.
  ObjectPtr directory;
  std::unique_ptr<Marks> marks;
  try {
    const Variant labels = quotation.fillLabelsArray();
    const platform::Date today = platform::Clock::Today();
    std::shared_ptr<Recordset> rows;
    try {
      if (claim.Take(today) > 0) rows = claim.Rows(today);
    } catch (...) {
      // No mail is sent in a run that cannot select, and nothing is marked.
      run.completed = false;
      run.failure = platform::CurrentError().description();
      lib_sales::LogFailure("Vendra.Quotation.getToBeNotifiedQuotations(): ",
                            lib_sales::Info(Variant("Selection of to be Notified Quotations failed ")));
      return run;
    }
    if (!rows || (rows->Bof() && rows->Eof())) {
      claim.Release();
      return run;
    }
    rows->SetSort("USERID");
    rows->MoveFirst();
    marks = std::make_unique<Marks>();

    ObjectPtr message = NewMessage();
    std::string previous_user;
    bool first_user = true;
    int32_t previous_locale = 0;
    // The labels and date pattern follow the quotation's locale, looked at
    // again when the user changes; each locale's are read once per run.
    std::map<std::pair<int32_t, int32_t>, MailTexts> by_locale;
    const MailTexts* texts = nullptr;
    std::string body;
    body.reserve(1024);
    ado::Field& id_field = rows->fields()["QUOTATIONID"];
    ado::Field& reference_field = rows->fields()["CUSTOMERREFERENCE"];
    ado::Field& created_field = rows->fields()["CREATIONDATE"];
    ado::Field& user_field = rows->fields()["USERID"];
    ado::Field& expiry_field = rows->fields()["EXPIRYDATE"];
    ado::Field& locale_field = rows->fields()["USERLOCALE"];
    for (; !rows->Eof(); rows->MoveNext()) {
      const std::string user_id = TextOf(user_field.Value());
      if (first_user || user_id != previous_user) {
        first_user = false;
        recipient = Recipient{};
        std::string help_address;
        recipient.user =
            lib_sales::Sls_CreateUserObject(user_id, recipient.site_name, help_address, directory);
        if (!recipient.user) {
          lib_sales::LogFailure("User details couldnot be obtained",
                                lib_sales::Info(Variant("User: " + user_id)));
        } else {
          recipient.email = TextOf(platform::GetProperty(recipient.user, "EmailAddress"));
          recipient.reference_name = TextOf(platform::GetProperty(recipient.user, "ReferenceName"));
          recipient.locale_number = platform::GetProperty(recipient.user, "LocaleNumber").ToLong();
          const int32_t locale = locale_field.Value().ToLong();
          if (!texts || locale != previous_locale) {
            const auto key = std::make_pair(locale, recipient.locale_number);
            auto found = by_locale.find(key);
            if (found == by_locale.end()) {
              MailTexts t;
              t.labels = lib_sales::Sls_getI18N(labels.Array(), user_id, Variant(std::to_string(locale)));
              if (!t.labels)
                platform::Raise(platform::err::kUnspecified, kSendNotificationMail,
                                "The labels of locale " + std::to_string(locale) + " cannot be read");
              const platform::VariantArray patterns{
                  t.labels->Item("SLBSA7012"), t.labels->Item("SLBSA7000"),
                  t.labels->Item("SLBSA7013"), t.labels->Item("SLBSA7015")};
              t.pattern = lib_sales::Sls_FormatDateTemplate(patterns, recipient.locale_number, locale);
              found = by_locale.emplace(key, std::move(t)).first;
            }
            texts = &found->second;
            previous_locale = locale;
          }
          if (!lib_sales::Sls_HasValue(Variant(recipient.email)))
            lib_sales::LogFailure("No Email Address for the User ",
                                  lib_sales::Info(Variant(recipient.reference_name)));
        }
        previous_user = user_id;
      }
      // A user the directory cannot give, or one without an address, gets
      // no message: the quotation stays due and the run goes on with the
      // next user's.
      if (!recipient.user || recipient.email.empty()) {
        ++run.skipped;
        continue;
      }

      const std::string reference = TextOf(reference_field.Value());
      platform::SetProperty(message, "Subject",
                            Variant(texts->Label("SLBSA7002") + " (" + OneLine(reference) + ")"));
      platform::SetProperty(message, "Sender", Variant(texts->Label("SLBSA7009")));
      platform::SetProperty(message, "From", platform::GetProperty(message, "Sender"));
      platform::SetProperty(message, "MimeFormatted", Variant(true));
      platform::SetProperty(message, "To", Variant(recipient.email));
      const std::string quotation_id = TextOf(id_field.Value());
      BuildBody(body, *texts, reference, created_field.Value(), expiry_field.Value(),
                recipient.site_name, quotation_id);
      platform::SetProperty(message, "TextBody", Variant(body));
      platform::Call(message, "Send");
      ++run.sent;
      marks->Add(quotation_id);
    }
    marks->Write();
    message.reset();
    Variant all(rows);
    quotation.UpdateNotificationStatus(all);
    claim.Release();
  } catch (...) {
    run.completed = false;
    run.failure = platform::CurrentError().description();
    lib_sales::LogFailure(kSendNotificationMail,
                          lib_sales::Info(Variant("Mail couldnot be sent for User:" +
                                                  recipient.reference_name)));
    // What was handed over before the failure is written as reminded all the same.
    try {
      if (marks) marks->Write();
    } catch (...) {
    }
  }
  return run;
}

}  // namespace

void Quotation::SendNotificationMail() { SendReminders(*this); }

namespace {

// "QuotationImplemented" as a flag: a number (non-zero is true) or the words
// true and false; a parameter the shop never set is false.
bool QuotationsImplemented() {
  const std::string implemented = lib_sales::Sls_GetParameterValue("QuotationImplemented");
  return !implemented.empty() && Variant(implemented).ToBool();
}

}  // namespace

void Quotation::Run() {
  if (QuotationsImplemented()) SendReminders(*this);
}

ReminderRun RunQuotationReminders() {
  if (!QuotationsImplemented()) return ReminderRun{};
  Quotation quotation;
  return SendReminders(quotation);
}

}  // namespace vendra
