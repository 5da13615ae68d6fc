// The ADO store (Windows): Excel workbooks and Access databases through the
// system's ADO components and their OLE DB providers, by raw COM on the
// classic interfaces. The connection texts and the provider rule are the
// system's own.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "tablink/table.h"

namespace pw::tablink {

/// "Microsoft.ACE.OLEDB.12.0" for ".accdb" and ".xlsx" (any letter case),
/// "Microsoft.Jet.OLEDB.4.0" for every other extension.
std::string_view AdoProvider(std::string_view path);

/// The connection string: for Excel (".xls", ".xlsx") "Data Source=" path
/// ";Extended Properties=Excel 8.0;Persist Security Info=False"; for Access
/// "Data Source=" path ";Persist Security Info=False;User ID=Admin".
std::string AdoConnectionString(std::string_view path);

/// Whether the ADO objects can be made: 0 yes, 1 the connection object
/// cannot, 2 the table (recordset) object cannot.
int AdoObjectsAvailable();

/// Connects to the workbook or database \p path (UTF-8) with the provider
/// rule and the connection settings. Nothing when it fails, with the reason
/// in \p why.
std::unique_ptr<TableConnection> OpenAdo(std::int32_t saveType, const std::string& path, std::string& why);

}  // namespace pw::tablink
