// The data-access routines of the shared runtime: every operation opens its
// own connection to the sales database with these, reads into a client-side
// record set detached from the connection, and closes the connection before
// it returns.
//
//   Sls_GetOpenConnection(cs)            an open connection for the caller,
//                                        who closes it with Sls_CloseConnection
//   Sls_GetDisconnectedRecordset(sql,cs) the rows of a query, detached
//                                        (keyset, optimistic); a failure's INFO
//                                        line lists the connection's errors and
//                                        " executing: '<sql>'"
//   Sls_RecordExists(sql, cs)            whether the query returns a row
//   Sls_CloseRecordSet(rs)               closes an open set; clears the reference
//   Sls_CloseConnection(conn)            closes an open connection; clears it
//
// Failures are logged and re-raised in the fixed layout with these sources:
// "Lib_Sales.Sls_GetOpenConnection", "Lib_Sales.Sls_GetDisconnectedRecordset",
// "Lib_Sales.Sls_GetOpenConnection" again for Sls_RecordExists (it reports
// under the connection routine's name), "Lib_Sales.Sls_CloseRecordSet".
// Sls_CloseConnection has no handler of its own: its failure reaches the
// caller's. ConnectionErrorsText (shared/error_handling.h) is implemented
// here, over the connection's error list.
//
// Thread-safety: nothing is shared; each call works on its own connection.
#pragma once

#include <memory>
#include <string>

#include "platform/data/connection.h"
#include "platform/data/recordset.h"

namespace lib_sales {

std::shared_ptr<platform::data::Connection> Sls_GetOpenConnection(
    const std::string& connection_string);

std::shared_ptr<platform::data::Recordset> Sls_GetDisconnectedRecordset(
    const std::string& sql, const std::string& connection_string);

bool Sls_RecordExists(const std::string& sql, const std::string& connection_string);

void Sls_CloseRecordSet(std::shared_ptr<platform::data::Recordset>& recordset);

void Sls_CloseConnection(std::shared_ptr<platform::data::Connection>& connection);

}  // namespace lib_sales
