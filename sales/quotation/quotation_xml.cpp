#include "platform/core/com_error.h"
#include "sales/quotation/quotation.h"

namespace vendra {

// PLACEHOLDER: the document is written on the quote-doc branch.
std::string Quotation::ConvertToXML(platform::Variant&, const platform::ObjectPtr&, const std::string&) {
  platform::Raise(platform::err::kUnspecified, "Vendra.Quotation", "ConvertToXML is not built yet");
}

}  // namespace vendra
