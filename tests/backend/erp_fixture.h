// A demo instance with web orders on their way to the simulated ERP: stores
// a basket of a demo partner with lines of the demo catalogue on a chosen
// back-end instance and submits it (instance 1 hands it over at once), and
// reads back what the sales database and the ERP hold.
//
// Thread-safety: one per test.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/core/dictionary.h"
#include "platform/core/variant.h"
#include "platform/data/connection.h"
#include "tests/support/test_instance.h"

namespace vendra_test {

struct BasketSpec {
  std::string id;
  int32_t kro_id = 1;
  int32_t partner = 1001;  // 1001 Hallvard (C1001), 1002 Corvetto (C1002, credit hold)
  int lines = 2;
  double freight = 0;
  std::string text;        // BASKETTEXT
  std::string config;      // PRODUCTCONFIGID of line 1
  bool calculate_tax = false;
};

class ErpTest : public InstanceTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Stores the basket and submits it through Vendra.Order.SubmitBasket.
  void Submit(const BasketSpec& spec);
  void StoreBasket(const BasketSpec& spec);
  platform::Variant HeaderValue(const std::string& order_id, const std::string& column);
  int NumberedLines(const std::string& order_id);  // lines with a SALESORDERLINENR
  int Lines(const std::string& order_id);
  // The ERP's view of a sales order (null when none).
  nlohmann::json ErpOrder(int32_t kro_id, const std::string& number);
  int ErpOrderCount(int32_t kro_id);
  std::vector<std::filesystem::path> Mails();
  static std::string ReadFile(const std::filesystem::path& file);

  std::shared_ptr<platform::data::Connection> db_;
};

}  // namespace vendra_test

#include "tests/backend/erp_fixture_inl.h"
