#include "platform/data/errors.h"

#include "platform/data/ado_types.h"
#include "platform/data/data_util.h"

namespace platform::data {

const ClassBinding<ErrorItem>& ErrorItem::Binding() {
  static const auto b = ClassBinding<ErrorItem>("Error")
                            .Property("Number", &ErrorItem::Number)
                            .Property("Description", &ErrorItem::Description)
                            .Property("Source", &ErrorItem::Source)
                            .Property("SQLState", &ErrorItem::SQLState)
                            .Property("NativeError", &ErrorItem::NativeError);
  return b;
}

const ClassBinding<ErrorCollection>& ErrorCollection::Binding() {
  static const auto b = ClassBinding<ErrorCollection>("Errors")
                            .Property("Count", &ErrorCollection::Count)
                            .Property("Item", &ErrorCollection::Item);
  return b;
}

std::shared_ptr<ErrorItem> ErrorCollection::Item(int32_t index) const {
  if (index < 0 || index >= Count()) detail::RaiseData(data_err::kItemNotFound, "Errors");
  return std::make_shared<ErrorItem>(errors_[static_cast<size_t>(index)]);
}

}  // namespace platform::data
