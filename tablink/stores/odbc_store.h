// The ODBC store: a SQL database (SQLite, PostgreSQL, anything with an ODBC
// driver) as the server's tables. Cells travel as wide text; statements and
// names through the wide functions on Windows and as UTF-8 where the driver
// manager is unixODBC (Linux, Wine). A table is opened by name with quoted
// identifiers; a send reads its rows in the order the database returns them;
// received rows go in with a prepared INSERT, array-bound where the driver
// can, in batches that Post, Flush, Close and CommitTrans hand over; an
// overwrite deletes every row inside the transfer's transaction. Rows are
// only added: Delete of one row and changes to stored rows are refused.
// Every failure keeps the driver's SQLSTATE and message.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "tablink/table.h"

namespace pw::tablink {

/// The connection string for a SQLite database file: the driver as Debian
/// names it ("SQLite3"; on Windows the name its own installer gives when
/// only that one is there), the path, which cannot hold a ';', and rows
/// read one by one as a send needs them (StepAPI).
std::string SqliteConnectionString(const std::filesystem::path& file);

/// Connects with \p connectionString (UTF-8). Nothing when it fails, with
/// the reason in \p why.
std::unique_ptr<TableConnection> OpenOdbc(const std::string& connectionString, std::string& why);

}  // namespace pw::tablink
