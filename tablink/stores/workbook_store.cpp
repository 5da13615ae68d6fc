// Placeholder until the workbook store lands: every workbook fails to open.
#include "tablink/stores/workbook_store.h"

namespace pw::tablink {

std::unique_ptr<TableConnection> OpenWorkbook(const std::filesystem::path&, std::string& why) {
  why = "the workbook store is not built";
  return nullptr;
}

}  // namespace pw::tablink
