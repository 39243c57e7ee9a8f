#include "apps/vendra/erp_documents.h"

#include <vector>

#include "apps/vendra/commands.h"
#include "platform/core/com_error.h"
#include "platform/core/object.h"
#include "platform/erp/documents.h"
#include "platform/host/registry.h"
#include "platform/services/message_manager.h"

namespace vendra_cli {

namespace {

// "10,20:3" -> (10, 0 = all open), (20, 3). Raises 13 for anything else.
std::vector<std::pair<int32_t, double>> ParseLines(const std::string& text) {
  std::vector<std::pair<int32_t, double>> out;
  size_t start = 0;
  while (start <= text.size() && !text.empty()) {
    const size_t comma = text.find(',', start);
    const std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
    const size_t colon = item.find(':');
    try {
      size_t used = 0;
      const std::string pos_text = item.substr(0, colon);
      const int32_t position = std::stoi(pos_text, &used);
      if (used != pos_text.size()) throw std::invalid_argument(item);
      double quantity = 0;
      if (colon != std::string::npos) {
        const std::string q = item.substr(colon + 1);
        quantity = std::stod(q, &used);
        if (used != q.size() || !(quantity > 0)) throw std::invalid_argument(item);
      }
      out.emplace_back(position, quantity);
    } catch (const std::logic_error&) {
      platform::Raise(platform::err::kTypeMismatch, "vendra erp ship",
                      "'" + item + "' is no POSITION or POSITION:QUANTITY");
    }
    if (comma == std::string::npos) break;
    start = comma + 1;
  }
  return out;
}

}  // namespace

void AddErpDocumentCommands(CLI::App& erp, ErpDocumentOptions& o) {
  o.ship = erp.add_subcommand("ship", "Deliver lines of a sales order (all open lines by default)");
  o.ship->add_option("KROID", o.kro_id)->required();
  o.ship->add_option("SALESORDERNR", o.sales_order)->required();
  o.ship->add_option("--lines", o.lines, "POS[:QTY],... (no QTY: all that is open)");
  o.invoice = erp.add_subcommand("invoice", "Invoice what was delivered of a sales order");
  o.invoice->add_option("KROID", o.kro_id)->required();
  o.invoice->add_option("SALESORDERNR", o.sales_order)->required();
  o.show = erp.add_subcommand("show", "A sales order's document as Ferrolink.Lookups renders it");
  o.show->add_option("KROID", o.kro_id)->required();
  o.show->add_option("SALESORDERNR", o.sales_order)->required();
  o.show->add_option("TYPE", o.type, "ACK, ASN or INV")->required();
  o.show->add_option("--locale", o.locale, "Locale id of the captions (1033, 1031)");
}

std::string ErpDocument(int32_t kro_id, const std::string& sales_order, const std::string& type,
                        const std::string& locale, std::string& err_info) {
  const platform::ObjectPtr lookups = platform::CreateObject("Ferrolink.Lookups");
  const platform::ObjectPtr messages = std::make_shared<platform::I18NMessageManager>();
  std::vector<platform::Variant> args{
      platform::Variant(std::to_string(kro_id)), platform::Variant(sales_order),
      platform::Variant(type), platform::Variant(messages), platform::Variant(locale),
      platform::Variant()};
  const std::string xml = platform::CallRef(lookups, "GetXML", args).ToString();
  err_info = args[5].IsMissing() ? "" : args[5].ToString();
  return xml;
}

int RunErpDocumentCommand(const std::optional<std::filesystem::path>& home,
                          const ErpDocumentOptions& o, std::ostream& out, std::ostream& err) {
  const char* name = o.ship->parsed() ? "erp ship" : o.invoice->parsed() ? "erp invoice" : "erp show";
  try {
    EnterInstance(home, name);
    if (o.ship->parsed()) {
      out << platform::erp::ShipSalesOrder(o.kro_id, o.sales_order, ParseLines(o.lines)) << "\n";
    } else if (o.invoice->parsed()) {
      out << platform::erp::InvoiceSalesOrder(o.kro_id, o.sales_order) << "\n";
    } else {
      std::string err_info;
      const std::string xml = ErpDocument(o.kro_id, o.sales_order, o.type, o.locale, err_info);
      if (xml.empty()) {
        err << "vendra " << name << ": no document"
            << (err_info.empty() ? std::string() : " (ERP error " + err_info + ")") << "\n";
        return kExitFailed;
      }
      out << xml << "\n";
    }
    out << std::flush;
    return kExitOk;
  } catch (...) {
    const platform::ComError e = platform::CurrentError();
    err << "vendra " << name << ": " << e.description() << " (error " << e.number() << ")\n";
    return kExitFailed;
  }
}

}  // namespace vendra_cli
