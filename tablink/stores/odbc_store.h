// The ODBC store: a SQL database (SQLite, PostgreSQL, anything with an ODBC
// driver) as the server's tables, through the wide-character ODBC API. A
// table is opened by name with quoted identifiers; a send reads its rows in
// the order the database returns them; received rows go in with a prepared
// INSERT (array-bound where the driver can); an overwrite deletes every row
// inside the transfer's transaction. Every failure keeps the driver's
// SQLSTATE and message.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "tablink/table.h"

namespace pw::tablink {

/// The connection string for a SQLite database file.
std::string SqliteConnectionString(const std::filesystem::path& file);

/// Connects with \p connectionString (UTF-8). Nothing when it fails, with
/// the reason in \p why.
std::unique_ptr<TableConnection> OpenOdbc(const std::string& connectionString, std::string& why);

}  // namespace pw::tablink
