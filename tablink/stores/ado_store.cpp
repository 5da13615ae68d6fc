// Placeholder until the ADO store lands: every connection fails.
#include "tablink/stores/ado_store.h"

namespace pw::tablink {

std::string_view AdoProvider(std::string_view) { return "Microsoft.Jet.OLEDB.4.0"; }
std::string AdoConnectionString(std::string_view) { return {}; }
int AdoObjectsAvailable() { return 0; }

std::unique_ptr<TableConnection> OpenAdo(std::int32_t, const std::string&, std::string& why) {
  why = "the ADO store is not built";
  return nullptr;
}

}  // namespace pw::tablink
