// The demo's step on the ERP's documents: anna's order on instance 1 is
// partly shipped and invoiced in the ERP, and the page's three documents
// of it are shown as Ferrolink.Lookups renders them.

#include <sstream>

#include <pugixml.hpp>

#include "apps/vendra/demo.h"
#include "apps/vendra/erp_documents.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "platform/erp/documents.h"

namespace vendra_cli {

namespace {

// The document indented, one element a line, for reading.
std::string Indented(const std::string& xml) {
  pugi::xml_document doc;
  if (!doc.load_string(xml.c_str())) return xml;
  std::ostringstream out;
  doc.save(out, "  ", pugi::format_indent | pugi::format_no_declaration);
  return out.str();
}

void ShowDocument(DemoContext& demo, const std::string& number, const char* type,
                  const char* locale) {
  std::string err_info;
  const std::string xml = ErpDocument(1, number, type, locale, err_info);
  demo.Verbatim(std::string("$ vendra erp show 1 ") + number + " " + type + " --locale " + locale);
  demo.Verbatim(xml.empty() ? "(no document; ERP error " + err_info + ")" : Indented(xml));
}

}  // namespace

void StepErpDocuments(DemoContext& demo) {
  auto erp = platform::erp::OpenErpDatabase();
  auto rs = erp->Execute(
      "SELECT SALESORDERNR FROM SALESORDER WHERE KROID = 1 AND WEBREFERENCE = 'DEMO-ERP-ANNA'");
  if (!rs || rs->Eof()) {
    demo.Say("anna's order did not reach the ERP, so there is no document to show.");
    return;
  }
  const std::string number = rs->Value("SALESORDERNR").ToString();
  demo.Say("The page shows the ERP's own documents of an order through Ferrolink.Lookups: "
           "GetXML with \"ACK\" (order acknowledgement), \"ASN\" (advance shipment notice) or "
           "\"INV\" (invoice), with the captions of the user's locale from the message manager "
           "in a Labels block. First the acknowledgement of anna's sales order " + number +
           " in English (1033); values the ERP does not hold (addresses given by code, a "
           "contact) are left out:");
  ShowDocument(demo, number, "ACK", "1033");
  demo.Say("The warehouse ships 3 of the 4 boxes of bolts (line 10) and nothing else yet; "
           "the notice shows what was delivered against what was ordered:");
  try {
    const std::string shipment = platform::erp::ShipSalesOrder(1, number, {{10, 3}});
    demo.Verbatim("$ vendra erp ship 1 " + number + " --lines 10:3\n" + shipment);
    ShowDocument(demo, number, "ASN", "1033");
    const std::string invoice = platform::erp::InvoiceSalesOrder(1, number);
    demo.Say("The ERP invoices what was delivered: goods net of line discounts, tax by the "
             "items' tax codes, and their sum. Here in German (1031), the locale of bernd:");
    demo.Verbatim("$ vendra erp invoice 1 " + number + "\n" + invoice);
    ShowDocument(demo, number, "INV", "1031");
  } catch (const platform::ComError& e) {
    demo.ShowError(e);
  }
}

}  // namespace vendra_cli
