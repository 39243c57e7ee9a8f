// Documents as the document tests build and check them: a client-side record
// set made from columns and rows (as a page holds one), and the XML a
// conversion returned, parsed, failing the test when it is not well-formed.
//
// Thread-safety: plain functions; each call makes its own objects.
#pragma once

#include <gtest/gtest.h>
#include <pugixml.hpp>

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/core/variant.h"
#include "platform/data/recordset.h"

namespace vendra_test {

using Column = std::pair<const char*, int32_t>;  // name, ADO type
using Row = std::vector<platform::Variant>;

// An open, detached record set with the columns (texts up to 4000) and rows.
inline std::shared_ptr<platform::data::Recordset> MakeSet(const std::vector<Column>& columns,
                                                          const std::vector<Row>& rows) {
  auto rs = std::make_shared<platform::data::Recordset>();
  for (const auto& [name, type] : columns) rs->fields().Append(name, type, 4000);
  rs->Open();
  for (const Row& row : rows) {
    rs->AddNew();
    for (size_t i = 0; i < columns.size(); ++i) rs->SetValue(columns[i].first, row[i]);
    rs->Update();
  }
  return rs;
}

// Parses the text as XML; a document that does not parse fails the test.
inline pugi::xml_document Parsed(const std::string& xml) {
  pugi::xml_document doc;
  const pugi::xml_parse_result result = doc.load_string(xml.c_str());
  EXPECT_TRUE(result) << result.description() << " at " << result.offset << " in\n" << xml;
  return doc;
}

}  // namespace vendra_test
