// Placeholder until the ODBC store lands: every connection fails.
#include "tablink/stores/odbc_store.h"

namespace pw::tablink {

std::string SqliteConnectionString(const std::filesystem::path& file) {
  const std::u8string p = file.u8string();
  return "Driver=SQLite3;Database=" + std::string(p.begin(), p.end());
}

std::unique_ptr<TableConnection> OpenOdbc(const std::string&, std::string& why) {
  why = "the ODBC store is not built";
  return nullptr;
}

}  // namespace pw::tablink
