// Brevane.Product is the shop platform's catalogue component: it answers the
// properties of one product (SKU) from the Brevane database that the product
// import fills. The shop asks it whether a product may be ordered (DISABLED,
// PRODUCTEXPIRYDATE), how it is sold (UNITCODE, CONFIGURABLE) and what it is
// (PARTNUMBER, PRODUCTDESCRIPTION, TAXCODE).
//
// Thread-safety: an object serves one caller at a time (it keeps its
// connection between calls); separate objects may be used on separate threads.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/core/dispatch.h"
#include "platform/services/product_properties.h"

namespace platform::data {
class Connection;
}

namespace platform {

// Failures of Brevane.Product (source "Brevane.Product").
namespace product_err {
inline constexpr int32_t kProductNotFound = static_cast<int32_t>(0x80042301u);
}

class ProductCatalog : public Dispatchable<ProductCatalog> {
 public:
  static const ClassBinding<ProductCatalog>& Binding();

  ProductCatalog();
  ~ProductCatalog() override;

  // Every PRODUCT column by name in table order (PRODUCTID, PARTNUMBER,
  // MANUFACTURERID, PRODUCTDESCRIPTION, UNITCODE, CONFIGURABLE, COMMODITYCODE,
  // BUSINESSPARTNERID, DISABLED, COMPANYNR, TAXCODE, DELIVERYLEADTIME,
  // SERVICEITEM, PRODUCTCATEGORY, PRODUCTEXPIRYDATE), then UNITDESCRIPTION,
  // TAXCODEDESCRIPTION, TAXPERCENTAGE and SKU (the product id again). Flags
  // are Booleans, the expiry date a Date or Null. An unknown product fails;
  // so does reading a property the collection does not hold.
  std::shared_ptr<ProductProperties> GetProductProperties(int32_t product_id);

  // Lets go of the connection; the object stays usable.
  void Release();

 private:
  std::shared_ptr<data::Connection> db_;
};

}  // namespace platform
