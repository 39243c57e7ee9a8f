#include "tests/support/driver_text.h"

#include <cstdlib>

namespace vendra_test {

bool OnPostgres() {
  const char* url = std::getenv("VENDRA_TEST_PG_URL");
  return url && *url;
}

std::string ServerText(std::string_view sqlite, std::string_view postgres) {
  return std::string(OnPostgres() ? postgres : sqlite);
}

std::string PgServerUrl() {
  const char* url = std::getenv("VENDRA_PG_URL");
  return url ? url : "";
}

std::string PgUrlWithDatabase(const std::string& url, const std::string& db) {
  const size_t scheme = url.find("://");
  const size_t slash = url.find('/', scheme == std::string::npos ? 0 : scheme + 3);
  return (slash == std::string::npos ? url : url.substr(0, slash)) + "/" + db;
}

}  // namespace vendra_test
