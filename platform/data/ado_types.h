// The ADO constants the system passes around (cursor, lock and cursor
// location choices, object states, record status, data type codes, schema
// kinds) and the mapping from a column's declared SQL type to its ADO type.
// They are plain numbers, as late-bound callers pass them.
//
// Thread-safety: constants and pure functions only.
#pragma once

#include <cstdint>
#include <string_view>

#include "platform/core/variant.h"

namespace platform::data {

// Cursor types (Recordset.Open, CursorType).
inline constexpr int32_t adOpenUnspecified = -1;
inline constexpr int32_t adOpenForwardOnly = 0;
inline constexpr int32_t adOpenKeyset = 1;
inline constexpr int32_t adOpenDynamic = 2;
inline constexpr int32_t adOpenStatic = 3;

// Lock types (Recordset.Open, LockType, Clone).
inline constexpr int32_t adLockUnspecified = -1;
inline constexpr int32_t adLockReadOnly = 1;
inline constexpr int32_t adLockPessimistic = 2;
inline constexpr int32_t adLockOptimistic = 3;
inline constexpr int32_t adLockBatchOptimistic = 4;

// Cursor locations. Every record set here is client side; server side is
// accepted and behaves the same.
inline constexpr int32_t adUseServer = 2;
inline constexpr int32_t adUseClient = 3;

// Object states (Connection.State, Recordset.State).
inline constexpr int32_t adStateClosed = 0;
inline constexpr int32_t adStateOpen = 1;

// Command types and options.
inline constexpr int32_t adCmdUnspecified = -1;
inline constexpr int32_t adCmdText = 1;
inline constexpr int32_t adCmdTable = 2;
inline constexpr int32_t adCmdStoredProc = 4;
inline constexpr int32_t adExecuteNoRecords = 128;

// Record status (Recordset.Status), a bit set as in ADO.
inline constexpr int32_t adRecOK = 0;
inline constexpr int32_t adRecNew = 1;
inline constexpr int32_t adRecModified = 2;
inline constexpr int32_t adRecDeleted = 4;
inline constexpr int32_t adRecUnmodified = 8;

// Affect (Delete, UpdateBatch, CancelBatch).
inline constexpr int32_t adAffectCurrent = 1;
inline constexpr int32_t adAffectGroup = 2;
inline constexpr int32_t adAffectAll = 3;

// Search direction and bookmarks (Find, Move).
inline constexpr int32_t adSearchForward = 1;
inline constexpr int32_t adSearchBackward = -1;
inline constexpr int32_t adBookmarkCurrent = 0;
inline constexpr int32_t adBookmarkFirst = 1;
inline constexpr int32_t adBookmarkLast = 2;

// Schema rowsets (Connection.OpenSchema).
inline constexpr int32_t adSchemaTables = 20;
inline constexpr int32_t adSchemaColumns = 4;

// Parameter directions (Command.CreateParameter).
inline constexpr int32_t adParamInput = 1;

// Data type codes (Field.Type, schema DATA_TYPE).
inline constexpr int32_t adEmpty = 0;
inline constexpr int32_t adSmallInt = 2;
inline constexpr int32_t adInteger = 3;
inline constexpr int32_t adDouble = 5;
inline constexpr int32_t adCurrency = 6;
inline constexpr int32_t adDate = 7;
inline constexpr int32_t adBoolean = 11;
inline constexpr int32_t adVariant = 12;
inline constexpr int32_t adTinyInt = 16;
inline constexpr int32_t adUnsignedTinyInt = 17;
inline constexpr int32_t adBigInt = 20;
inline constexpr int32_t adGUID = 72;
inline constexpr int32_t adBinary = 128;
inline constexpr int32_t adChar = 129;
inline constexpr int32_t adWChar = 130;
inline constexpr int32_t adNumeric = 131;
inline constexpr int32_t adDBTimeStamp = 135;
inline constexpr int32_t adVarChar = 200;
inline constexpr int32_t adLongVarChar = 201;
inline constexpr int32_t adVarWChar = 202;
inline constexpr int32_t adLongVarWChar = 203;

// Classic error numbers of the data layer.
namespace data_err {
// A failure reported by the database engine (E_FAIL, as the provider gives it).
inline constexpr int32_t kProvider = static_cast<int32_t>(0x80004005u);
// "Row cannot be located for updating..." (a batch row changed underneath).
inline constexpr int32_t kRowNotLocated = static_cast<int32_t>(0x80040E38u);
// "Operation is not allowed when the object is closed."
inline constexpr int32_t kObjectClosed = 3704;
// "Operation is not allowed when the object is open."
inline constexpr int32_t kObjectOpen = 3705;
// "Either BOF or EOF is True, or the current record has been deleted..."
inline constexpr int32_t kNoCurrentRecord = 3021;
// "Item cannot be found in the collection corresponding to the requested name or ordinal."
inline constexpr int32_t kItemNotFound = 3265;
// "Current Recordset does not support updating..."
inline constexpr int32_t kNotUpdatable = 3251;
// "Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another."
inline constexpr int32_t kBadArguments = 3001;
// "Operation is not allowed in this context."
inline constexpr int32_t kNotAllowed = 3219;
// "Provider cannot be found. It may not be properly installed."
inline constexpr int32_t kProviderNotFound = 3706;
// "Data type is not supported" (a value that has no column form).
inline constexpr int32_t kTypeNotSupported = 3220;
// "The connection cannot be used to perform this operation..." (no open
// connection where one is needed: a detached set's UpdateBatch).
inline constexpr int32_t kNoConnection = 3709;
// "No transaction is active." (CommitTrans/RollbackTrans without BeginTrans).
inline constexpr int32_t kNoTransaction = static_cast<int32_t>(0x8004D00Eu);
}  // namespace data_err

// The source text of engine failures (ComError.source, Error.Source).
inline constexpr std::string_view kProviderSource = "Microsoft OLE DB Provider for SQLite";

// The ADO type of a declared column type ("NVARCHAR(50)" -> adVarWChar with
// size 50, "MONEY" -> adCurrency). Unknown or empty declarations give
// adVariant: the values keep the kind the engine stored.
struct DeclaredType {
  int32_t type = adVariant;
  int32_t size = 0;  // characters for text types, bytes for numbers; 0 when unbounded
};
DeclaredType TypeFromDeclaration(std::string_view declared);

// The value as a field of the given type holds it: the Variant kind that
// matches the type (Long for adInteger, Date for adDBTimeStamp, ...), with
// Null kept and Empty turned into Null. Uses the Variant conversions, so
// text that is no number raises Type mismatch. adVariant keeps the value.
Variant CoerceToFieldType(const Variant& value, int32_t type);

// The type a field built for a lone value would have (adVariant for Null).
int32_t TypeOfValue(const Variant& value);

// The ADO type name as SQL declares it ("NVARCHAR", "DATETIME"), for the
// schema rowset's TYPE_NAME and for building tables from in-memory sets.
std::string_view DeclarationOfType(int32_t type);

}  // namespace platform::data
