// `vendra erp ship KROID SALESORDERNR [--lines POS[:QTY],...]`,
// `vendra erp invoice KROID SALESORDERNR` and
// `vendra erp show KROID SALESORDERNR ACK|ASN|INV [--locale N]`: deliveries
// and invoices made in the simulated ERP, and the documents
// Ferrolink.Lookups renders of them, for operators and the demo.
//
// Thread-safety: command-line use only.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

#include <CLI/CLI.hpp>

namespace vendra_cli {

struct ErpDocumentOptions {
  CLI::App* ship = nullptr;
  CLI::App* invoice = nullptr;
  CLI::App* show = nullptr;
  int32_t kro_id = 0;
  std::string sales_order;
  std::string lines;
  std::string type;
  std::string locale = "1033";
  bool parsed() const { return ship->parsed() || invoice->parsed() || show->parsed(); }
};

void AddErpDocumentCommands(CLI::App& erp, ErpDocumentOptions& options);
int RunErpDocumentCommand(const std::optional<std::filesystem::path>& home,
                          const ErpDocumentOptions& options, std::ostream& out, std::ostream& err);

// The document of a sales order as Ferrolink.Lookups gives it, called
// late-bound with a message manager of the instance; "" with err_info set
// when the ERP refused.
std::string ErpDocument(int32_t kro_id, const std::string& sales_order, const std::string& type,
                        const std::string& locale, std::string& err_info);

}  // namespace vendra_cli
