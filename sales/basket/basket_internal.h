// What the sources of Vendra.Basket share and nobody else needs: the
// connection an operation holds, opening the document's record sets, and
// removing a basket's rows.
//
// Thread-safety: objects of one operation, used by its thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "sales/basket/basket.h"

namespace vendra::basket_detail {

// The sales database connection of one public operation, from
// Sls_GetOpenConnection. Close() on the way out of a successful operation
// lets a failure to close reach the caller; on a failure's way out the
// destructor closes quietly.
class OperationConnection {
 public:
  OperationConnection();
  ~OperationConnection();
  OperationConnection(const OperationConnection&) = delete;
  OperationConnection& operator=(const OperationConnection&) = delete;
  const Basket::Connection& get() const { return connection_; }
  void Close();

 private:
  Basket::Connection connection_;
};

// A client-side, batch-optimistic record set of the query, attached to the
// connection (detach it once read).
std::shared_ptr<platform::data::Recordset> OpenBatchSet(const std::string& sql,
                                                        const Basket::Connection& connection,
                                                        int32_t cursor_type);

// A document with "header" then "lines".
Basket::Document NewDocument(const std::shared_ptr<platform::data::Recordset>& header,
                             const std::shared_ptr<platform::data::Recordset>& lines);

// Deletes the basket's lines and header in one transaction.
void DeleteBasketRows(platform::data::Connection& connection, const std::string& basket_id);

// Leading and trailing blanks removed (blanks only, as ids are padded with them).
std::string TrimBlanks(const std::string& text);

}  // namespace vendra::basket_detail
