// The error collection of a connection (Connection.Errors): the entries the
// driver reported for the last operation on the connection, cleared when the
// next operation starts. Each entry carries Number, Description, Source,
// SQLState and NativeError (the engine's own result code), so the shared
// runtime can list them next to the SQL that failed.
//
// DataError is the plain value; ErrorCollection and ErrorItem are the
// late-bound views ("Errors", "Error") over a connection's list.
//
// Thread-safety: owned by one connection and used by its one caller.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/dispatch.h"

namespace platform::data {

struct DataError {
  int32_t number = 0;
  std::string description;
  std::string source;
  std::string sql_state;
  int32_t native_error = 0;
};

class ErrorItem : public Dispatchable<ErrorItem> {
 public:
  static const ClassBinding<ErrorItem>& Binding();
  ErrorItem() = default;
  explicit ErrorItem(DataError e) : error_(std::move(e)) {}

  int32_t Number() const { return error_.number; }
  std::string Description() const { return error_.description; }
  std::string Source() const { return error_.source; }
  std::string SQLState() const { return error_.sql_state; }
  int32_t NativeError() const { return error_.native_error; }
  const DataError& value() const { return error_; }

 private:
  DataError error_;
};

// A snapshot of the list at the time it was asked for.
class ErrorCollection : public Dispatchable<ErrorCollection> {
 public:
  static const ClassBinding<ErrorCollection>& Binding();
  ErrorCollection() = default;
  explicit ErrorCollection(std::vector<DataError> errors) : errors_(std::move(errors)) {}

  int32_t Count() const { return static_cast<int32_t>(errors_.size()); }
  // Zero-based, as ADO's Errors(i); raises 3265 out of range.
  std::shared_ptr<ErrorItem> Item(int32_t index) const;
  const std::vector<DataError>& entries() const { return errors_; }

 private:
  std::vector<DataError> errors_;
};

}  // namespace platform::data
