#include "platform/core/com_error.h"
#include "sales/quotation/quotation.h"

namespace vendra {

// PLACEHOLDER: the reminder run is written on the quote-doc branch.
namespace {
[[noreturn]] void NotYet(const char* what) {
  platform::Raise(platform::err::kUnspecified, "Vendra.Quotation", std::string(what) + " is not built yet");
}
}  // namespace
void Quotation::Run() { NotYet("Run"); }
void Quotation::SendNotificationMail() { NotYet("SendNotificationMail"); }
platform::Variant Quotation::fillLabelsArray() { NotYet("fillLabelsArray"); }
Quotation::RecordsetPtr Quotation::getToBeNotifiedQuotations() { NotYet("getToBeNotifiedQuotations"); }
void Quotation::UpdateNotificationStatus(platform::Variant&) { NotYet("UpdateNotificationStatus"); }

}  // namespace vendra
