#include "platform/services/product_properties.h"

#include "platform/core/com_error.h"

namespace platform {

Variant ProductProperties::Item(const std::string& key) const {
  if (!Exists(key)) {
    Raise(product_err::kPropertyNotFound, "Brevane.Product",
          "The catalogue holds no property '" + key + "' for product " +
              std::to_string(product_id_));
  }
  return Dictionary::Item(key);
}

}  // namespace platform
