#include "platform/services/product_catalog.h"

#include "platform/core/com_error.h"
#include "platform/data/connection.h"
#include "platform/data/recordset.h"

namespace platform {

namespace {

constexpr char kSource[] = "Brevane.Product";
constexpr char kBrevane[] = "Provider=SQLite;Data Source=data;Initial Catalog=Brevane";

constexpr char kProductSql[] =
    "SELECT PRODUCT.*, UNIT.UNITDESCRIPTION, TAXCODES.TAXCODEDESCRIPTION, TAXCODES.TAXPERCENTAGE "
    "FROM PRODUCT LEFT JOIN UNIT ON UNIT.UNITCODE = PRODUCT.UNITCODE "
    "LEFT JOIN TAXCODES ON TAXCODES.TAXCODE = PRODUCT.TAXCODE "
    "WHERE PRODUCT.PRODUCTID = ?";

}  // namespace

const ClassBinding<ProductCatalog>& ProductCatalog::Binding() {
  static const auto b = ClassBinding<ProductCatalog>("Product")
                            .Method("GetProductProperties", &ProductCatalog::GetProductProperties)
                            .Method("Release", &ProductCatalog::Release);
  return b;
}

ProductCatalog::ProductCatalog() = default;
ProductCatalog::~ProductCatalog() = default;

void ProductCatalog::Release() {
  if (db_) db_->Close();
  db_.reset();
}

std::shared_ptr<ProductProperties> ProductCatalog::GetProductProperties(int32_t product_id) {
  if (!db_ || !db_->IsOpen()) {
    db_ = std::make_shared<data::Connection>();
    db_->Open(kBrevane);
  }
  auto rs = db_->Execute(kProductSql, {Variant(product_id)});
  if (!rs || rs->Eof())
    Raise(product_err::kProductNotFound, kSource,
          "Product not found in the catalogue: " + std::to_string(product_id));
  auto properties = std::make_shared<ProductProperties>(product_id);
  for (int i = 0; i < rs->FieldCount(); ++i) {
    auto& field = (*rs)[i];
    properties->SetItem(field.Name(), field.Value());
  }
  properties->SetItem("SKU", rs->Value("PRODUCTID"));
  return properties;
}

}  // namespace platform
