// Which store serves a sheet's or table's data source, and the connection to
// it. Excel workbooks and Access databases go through ADO on Windows; SQL
// databases (a SQLite file, or an ODBC connection string) through ODBC on
// both systems; .xlsx workbooks through the workbook store on Linux.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "tablink/table.h"

namespace pw::tablink {

enum class StoreKind {
  Ado,       ///< Windows: .xls, .xlsx, .mdb, .mde, .accdb
  Odbc,      ///< a SQLite file (.db, .sqlite, .sqlite3) or "DSN=..." / "Driver=..."
  Workbook,  ///< Linux: .xlsx
  None,      ///< no store here (.xls or an Access database on Linux, another extension)
};

/// The store for \p dataSource (a path, UTF-8, or a connection string) of
/// \p saveType (1 Excel, 2 Access).
StoreKind ChooseStore(std::int32_t saveType, std::string_view dataSource);

/// Connects to \p dataSource (the path after the connection rule, or the
/// connection string). Nothing when it fails; \p why then tells the reason
/// (UTF-8; the driver's state and message where there are some).
std::unique_ptr<TableConnection> ConnectDataSource(std::int32_t saveType, const std::string& dataSource,
                                                   std::string& why);

}  // namespace pw::tablink
