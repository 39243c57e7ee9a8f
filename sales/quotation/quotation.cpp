#include "sales/quotation/quotation.h"

#include "platform/core/com_error.h"
#include "platform/data/recordset.h"

namespace vendra {

using platform::Variant;

const platform::ClassBinding<Quotation>& Quotation::Binding() {
  static const auto b =
      platform::ClassBinding<Quotation>("Quotation")
          .Method("Exists", &Quotation::Exists)
          .Method("BeforeDelete", &Quotation::BeforeDelete)
          .Method("Create", &Quotation::Create)
          .Method("Save", &Quotation::Save)
          .Method("Show", &Quotation::Show)
          .Method("GetLines", &Quotation::GetLines)
          .Method("CopyQuotation", &Quotation::CopyQuotation)
          .Method("Delete", &Quotation::Delete)
          .Method("DeleteLine", &Quotation::DeleteLine)
          .Method("CheckQuotationLinesPresent", &Quotation::CheckQuotationLinesPresent)
          .Method("ConvertToXML", &Quotation::ConvertToXML)
          .Method("Run", &Quotation::Run)
          .Method("SendNotificationMail", &Quotation::SendNotificationMail)
          .Method("fillLabelsArray", &Quotation::fillLabelsArray)
          .Method("getToBeNotifiedQuotations", &Quotation::getToBeNotifiedQuotations)
          .Method("UpdateNotificationStatus", &Quotation::UpdateNotificationStatus)
          .Method("GetBPStoredInDB", &Quotation::GetBPStoredInDB);
  return b;
}

// PLACEHOLDER: the storage operations are written on the quote-core branch.
namespace {
[[noreturn]] void NotYet(const char* what) {
  platform::Raise(platform::err::kUnspecified, "Vendra.Quotation", std::string(what) + " is not built yet");
}
}  // namespace
void Quotation::Create(const Variant&) { NotYet("Create"); }
bool Quotation::Save(Variant&) { NotYet("Save"); }
Quotation::Document Quotation::Show(const std::string&, std::optional<Variant>) { NotYet("Show"); }
Quotation::Document Quotation::GetLines(const std::string&, const Variant&) { NotYet("GetLines"); }
Quotation::Document Quotation::CopyQuotation(const std::string&, Variant&, std::optional<Variant>) {
  NotYet("CopyQuotation");
}
void Quotation::Delete(const Variant&) { NotYet("Delete"); }
void Quotation::DeleteLine(const std::string&, const Variant&) { NotYet("DeleteLine"); }
bool Quotation::CheckQuotationLinesPresent(const std::string&) { NotYet("CheckQuotationLinesPresent"); }
int32_t Quotation::GetBPStoredInDB(Variant&) { NotYet("GetBPStoredInDB"); }

}  // namespace vendra
