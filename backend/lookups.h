// Lookups ("Ferrolink.Lookups") fetches one ERP document of a sales order
// (order acknowledgement, advance shipment notice or invoice) through the
// connector's ShowSalesOrderComponent and renders it as an XML string for
// the web page's style sheets, with a Labels block of captions from the
// page's message manager. Element names and their order are the contract
// with the style sheets.
//
// Values are written escaped (EscapeXmlText) or, where the ERP's values are
// numbers, dates and codes, as they are but escaped all the same should they
// carry markup characters. Text blocks and captions are written as they are
// (they may carry markup on purpose) as long as they are well-formed XML
// content on their own; one that is not is written escaped, so no document
// returned is malformed.
//
// The simulated ERP keeps the documents it built until its catalog changes
// (platform/erp/catalog_cache.h); a document is asked for under one check
// of the catalog's state, and written from the ERP's records directly.
//
// Thread-safety: one caller at a time per object.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/core/dispatch.h"
#include "platform/core/object.h"

namespace ferrolink {

// "&", "'", the double quote, "<" and ">" as entities.
std::string EscapeXmlText(std::string_view text);

class Lookups : public platform::Dispatchable<Lookups> {
 public:
  static const platform::ClassBinding<Lookups>& Binding();

  // "ACK", "ASN" or "INV" (exactly): the document, or "" (also for any
  // other type, without asking the connector).
  std::string GetXML(const std::string& i_sKroID, const std::string& i_sOrderNumber,
                     const std::string& i_sLookupType, const platform::ObjectPtr& ioMessageManager,
                     const std::string& iUserLocale, platform::Variant& i_sErrInfo);
  bool ShowSOACKDetails(const std::string& i_sKroID, const std::string& i_sOrderNumber,
                        platform::Variant& o_vOrderXml, const platform::ObjectPtr& ioMessageManager,
                        const std::string& iUserLocale, platform::Variant& i_sErrInfo);
  bool ShowSOASNDetails(const std::string& i_sKroID, const std::string& i_sOrderNumber,
                        platform::Variant& o_vOrderXml, const platform::ObjectPtr& ioMessageManager,
                        const std::string& iUserLocale, platform::Variant& i_sErrInfo);
  bool ShowSOINVDetails(const std::string& i_sKroID, const std::string& i_sOrderNumber,
                        platform::Variant& o_vOrderXml, const platform::ObjectPtr& ioMessageManager,
                        const std::string& iUserLocale, platform::Variant& i_sErrInfo);

  // Kept and returned as set; the lookups do not use it.
  std::string XSLT_PATH() const { return xslt_path_; }
  void SetXSLT_PATH(const std::string& path) { xslt_path_ = path; }

  // The business-component id of the instance (logged when there is none)
  // and its connector type, lower-cased, kept for the next Show call. A KRO
  // id that is no whole number raises Type mismatch (13).
  std::string ResolveInstance(const std::string& i_sKroID);
  const std::string& connector_type() const { return connector_type_; }

  // The label blocks, appended to xml.
  void AddLabelsToACKXML(std::string& xml, const platform::ObjectPtr& ioMessageManager,
                         const std::string& iUserLocale);
  void AddLabelsToASNXML(std::string& xml, const platform::ObjectPtr& ioMessageManager,
                         const std::string& iUserLocale);
  void AddLabelsToINVXML(std::string& xml, const platform::ObjectPtr& ioMessageManager,
                         const std::string& iUserLocale);

 private:
  enum class Kind { Ack, Asn, Inv };
  bool Show(Kind kind, const std::string& kro_id, const std::string& order_number,
            std::string& xml_out, const platform::ObjectPtr& messages,
            const std::string& locale, platform::Variant& err_info);
  // Show with the failure handling of the kind's Show...Details operation.
  bool Details(Kind kind, const std::string& kro_id, const std::string& order_number,
               std::string& xml, const platform::ObjectPtr& messages, const std::string& locale,
               platform::Variant& err_info);
  bool DetailsInto(Kind kind, const std::string& kro_id, const std::string& order_number,
                   platform::Variant& o_vOrderXml, const platform::ObjectPtr& messages,
                   const std::string& locale, platform::Variant& err_info);

  std::string xslt_path_;
  std::string connector_type_;
};

}  // namespace ferrolink
