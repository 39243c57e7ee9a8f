// ProductProperties is the collection Brevane.Product answers for one
// product: the platform's keyed collection, property name -> value, except
// that reading a property the collection does not hold is a failure (number
// product_err::kPropertyNotFound, source "Brevane.Product") instead of
// Empty, so a misspelt name never reads as "no value". Exists and Keys tell
// which properties there are; late bound it is a Dictionary ("Item",
// "Exists", "Count", "Keys", "Items").
//
// Thread-safety: one caller at a time, like every Object.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/core/dictionary.h"

namespace platform {

namespace product_err {
// A property name the product's collection does not hold.
inline constexpr int32_t kPropertyNotFound = static_cast<int32_t>(0x80042302u);
}  // namespace product_err

class ProductProperties : public Dictionary {
 public:
  explicit ProductProperties(int32_t product_id) : product_id_(product_id) {}

  // Raises kPropertyNotFound naming the product and the property when the
  // key is absent.
  Variant Item(const std::string& key) const override;

  int32_t product_id() const { return product_id_; }

 private:
  int32_t product_id_;
};

}  // namespace platform
