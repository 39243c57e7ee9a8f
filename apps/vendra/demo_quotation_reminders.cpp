// The demo's quotation document and reminder run: the quotation anna's
// basket became (Vendra.Quotation.Create), shown and rendered as the XML
// document the quotation pages print in English, and the reminder run (what
// `vendra notify-quotations` starts from cron) mailing it once its reminder
// day has come: one message in mail/pickup/, and nothing more on a second
// run.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <pugixml.hpp>

#include "apps/vendra/commands.h"
#include "apps/vendra/demo.h"
#include "platform/core/clock.h"
#include "platform/core/dictionary.h"
#include "platform/core/object.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"
#include "sales/quotation/quotation_reminder.h"

namespace vendra_cli {

namespace {

using platform::Variant;
using platform::data::Recordset;

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

std::shared_ptr<platform::data::Connection> Sales(DemoContext& demo) {
  auto connection = std::make_shared<platform::data::Connection>();
  connection->Open("Provider=SQLite;Data Source=" + (demo.home() / "data").string() +
                   ";Initial Catalog=Vendra");
  return connection;
}

std::vector<std::filesystem::path> Mails(DemoContext& demo) {
  std::vector<std::filesystem::path> files;
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(demo.home() / "mail" / "pickup", ec))
    if (e.path().extension() == ".eml") files.push_back(e.path());
  return files;
}

std::string WithoutCarriageReturns(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '\r') out += c;
  return out;
}

std::string DecodeBase64(const std::string& text) {
  std::string out;
  uint32_t buffer = 0;
  int bits = 0;
  for (char c : text) {
    const char* at = std::strchr(kBase64, c);
    if (c == 0 || !at) continue;
    buffer = (buffer << 6) | static_cast<uint32_t>(at - kBase64);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((buffer >> bits) & 0xFF);
    }
  }
  return out;
}

}  // namespace

std::string DemoQuotationId(DemoContext& demo);  // demo_quotations.cpp

// The failing read earlier in the demo took the logo out of the sales
// configuration; a printed quotation needs it back.
void RestoreLogo(DemoContext& demo) {
  const std::filesystem::path file = demo.home() / "config" / "VendraConfiguration.xml";
  pugi::xml_document config;
  if (!config.load_file(file.c_str(), pugi::parse_default | pugi::parse_comments)) return;
  pugi::xml_node section = config.select_node("//section[@name='QUOTATION_PARAMETERS']").node();
  if (!section || section.find_child_by_attribute("item", "key", "Logo")) return;
  pugi::xml_node item = section.prepend_child("item");
  item.append_attribute("key") = "Logo";
  item.text() = "logo.gif";
  config.save_file(file.c_str(), "  ");
  demo.Say("(The parameter 'Logo' that the failing read took away is put back first: a printed "
           "quotation shows it.)");
}

void StepQuotationDocument(DemoContext& demo) {
  RestoreLogo(demo);
  const std::string id = DemoQuotationId(demo);
  demo.Say("A quotation page shows anna's quotation with Vendra.Quotation.Show, gives the "
           "document to Vendra.Quotation.ConvertToXML with the page's message manager and the "
           "user's locale, and transforms the XML it gets back into the printable quotation:");
  std::vector<Variant> show{Variant(id)};
  const Variant doc = CallLateBound("Vendra.Quotation", "Show", show);
  std::vector<Variant> args{doc, Variant(NewObject("I18NMessageManager")), Variant("1033")};
  const std::string xml = CallLateBound("Vendra.Quotation", "ConvertToXML", args).ToString();
  pugi::xml_document parsed;
  parsed.load_string(xml.c_str());
  const pugi::xml_node root = parsed.child("Quotation");
  const pugi::xml_node header = root.child("QuotationHeader");
  demo.Show("title", root.child_value("QuotationTitle"));
  demo.Show("reference", header.child_value("CUSTOMERREFERENCE"));
  demo.Show("created / expires", std::string(header.child_value("CREATIONDATE")) + " / " +
                                     header.child_value("EXPIRYDATE") + " " +
                                     header.child_value("DateFormat"));
  demo.Show("total net amount", header.child_value("TOTALNETAMOUNT"));
  for (pugi::xml_node line : root.child("QuotationLines").children("QuotationLine"))
    demo.Show("line " + std::string(line.child_value("LINENUMBER")),
              std::string(line.child_value("QUANTITY")) + " x " + line.child_value("PARTNUMBER") +
                  " at " + line.child_value("PRODUCTPRICE") + " = " + line.child_value("LINEAMOUNT"));
  demo.Show("logo", root.child("Parameters").child_value("Logo"));
  demo.Show("caption of the price date",
            root.child("Labels").child("QuotationHeader").child_value("PricesValidtillLabel"));
  demo.EndTable();
  demo.Say("Every value is escaped as it is written, so the remarks keep their '&' as an entity "
           "and the document parses whatever a page stored:");
  const size_t from = xml.find("<COMMENTS>");
  const size_t to = xml.find("</COMMENTS>");
  if (from != std::string::npos && to != std::string::npos)
    demo.Verbatim(xml.substr(from, to + 11 - from));
}

void StepQuotationReminders(DemoContext& demo) {
  const std::string id = DemoQuotationId(demo);
  demo.Say("'vendra notify-quotations', run by cron, mails every quotation whose reminder day "
           "has come and that has not expired, once, into the mail service's pickup directory. "
           "anna's quotation was made today: valid 30 days, its reminder day is 25 days ahead, "
           "so a run today finds it not due yet:");
  {
    const vendra::ReminderRun early = vendra::RunQuotationReminders();
    demo.Show("reminders sent", std::to_string(early.sent));
    demo.EndTable();
  }
  demo.Say("To see the reminder without waiting 25 days, the demo moves the quotation's "
           "reminder day (NOTIFICATIONDATE) to today. The next run mails it:");
  {
    auto db = Sales(demo);
    db->Execute("UPDATE QUOTATIONHEADER SET NOTIFICATIONDATE = ? WHERE QUOTATIONID = ?",
                {Variant(platform::Clock::Today()), Variant(id)});
    db->Close();
  }
  const auto before = Mails(demo);
  const vendra::ReminderRun first = vendra::RunQuotationReminders();
  demo.Show("reminders sent", std::to_string(first.sent));
  const auto after = Mails(demo);
  demo.Show("new files in mail/pickup", std::to_string(after.size() - before.size()));
  demo.EndTable();
  for (const auto& file : after) {
    if (std::find(before.begin(), before.end(), file) != before.end()) continue;
    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const size_t end = text.find("\r\n\r\n");
    demo.Say("The message " + file.filename().string() + ", its body decoded from base64:");
    demo.Verbatim(WithoutCarriageReturns(text.substr(0, end)) + "\n\n" +
                  WithoutCarriageReturns(DecodeBase64(text.substr(end + 4))));
  }
  const vendra::ReminderRun second = vendra::RunQuotationReminders();
  demo.Say("A second run finds nothing due: the quotation was marked as reminded once its "
           "message was handed over.");
  demo.Show("reminders sent", std::to_string(second.sent));
  demo.Show("new files in mail/pickup", std::to_string(Mails(demo).size() - after.size()));
  demo.EndTable();
}

}  // namespace vendra_cli
