// The table interface: what the server does with an Excel sheet, an Access
// table or a database table, whatever store holds it. One connection per run
// of the server, one table object on it; each operation reports success, and
// a failure's reason (the driver's own text where there is one) is kept for
// the log and the message boxes. Cell values travel as ANSI text.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/ansi_string.h"

namespace pw::tablink {

/// What a table may be asked to do with its rows.
enum class TableAbility { Add, Update, Delete };

class Table {
 public:
  virtual ~Table() = default;
  /// Closes the table; true when it is closed (also when it was not open).
  virtual bool Close() = 0;
  virtual void SetTableName(std::string_view ansiName) = 0;
  virtual bool Open() = 0;
  virtual bool IsOpen() const = 0;
  /// Moves to the first row.
  virtual bool First() = 0;
  /// Moves to the next row.
  virtual bool Next() = 0;
  /// True past the last row.
  virtual bool Eof() = 0;
  /// Rows in the table, or -1 when it cannot tell.
  virtual std::int64_t RecordCount() = 0;
  /// The current row, counted from 1 (0 when there is none).
  virtual std::int64_t RecNo() = 0;
  virtual bool Supports(TableAbility ability) = 0;
  virtual bool CanModify() = 0;
  /// Puts the table into edit mode.
  virtual bool Edit() = 0;
  /// Starts a new row at the end; its cells are then set and it is posted.
  virtual bool Append() = 0;
  /// Stores the row being edited or appended. A store that writes rows in
  /// batches may keep it back until the batch is full or Flush.
  virtual bool Post() = 0;
  /// Stores the rows Post kept back; a failure is a row that cannot be
  /// stored, as a failing Post's.
  virtual bool Flush() { return true; }
  /// Deletes the current row; the next one becomes current.
  virtual bool Delete() = 0;
  /// Deletes every row: from the first, as many rows as the table reports.
  /// A store that can empty a table in one statement does so instead.
  virtual bool DeleteAll() {
    if (!First()) return false;
    const std::int64_t rows = RecordCount();
    if (rows < 0) return false;
    for (std::int64_t i = 0; i < rows; ++i)
      if (!Delete()) return false;
    return true;
  }
  /// The cell of the current row at \p index (from 0), as text.
  virtual bool GetField(std::int32_t index, AnsiString& value) = 0;
  virtual bool SetField(std::int32_t index, std::string_view value) = 0;
  /// The reason of the last failure (UTF-8), empty if unknown.
  virtual std::string LastError() const = 0;
};

class TableConnection {
 public:
  virtual ~TableConnection() = default;
  virtual bool BeginTrans() = 0;
  virtual bool CommitTrans() = 0;
  virtual bool RollbackTrans() = 0;
  virtual bool InTransaction() const = 0;
  /// The table object on this connection.
  virtual Table& GetTable() = 0;
  /// The sheets or tables a definition may name (ANSI), system tables left out.
  virtual bool ListTables(std::vector<AnsiString>& names) = 0;
  /// The columns of \p table in the order the store gives them, which is
  /// the order a definition's column numbers count.
  virtual bool ListColumns(std::string_view table, std::vector<AnsiString>& names) = 0;
  /// The reason of the last failure (UTF-8), empty if unknown.
  virtual std::string LastError() const = 0;
};

}  // namespace pw::tablink
