// The workbook store: one sheet of an .xlsx workbook as a table. Its first
// row holds the column names, the rows below it the data. Received rows are
// appended (or replace every data row, for an overwrite) and every cell is
// written as text; at the commit the workbook is written anew with only the
// sheet's own part changed inside the zip, to a new file that then replaces
// the old one, so a failed transfer never leaves a damaged workbook.
#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "tablink/table.h"

namespace pw::tablink {

/// Opens the workbook \p file. Nothing when it cannot be read as one, with
/// the reason in \p why.
std::unique_ptr<TableConnection> OpenWorkbook(const std::filesystem::path& file, std::string& why);

}  // namespace pw::tablink
