// The ODBC store. One connection with one table object on it. Cells go
// through the wide-character form (SQL_C_WCHAR), which every driver converts
// itself, so they reach the database intact whatever the ANSI code page.
// Statements, names and messages go through the wide functions on Windows;
// where the driver manager is unixODBC (Linux, and under Wine, whose odbc32
// hands the calls to the host's) through the narrow ones in UTF-8: unixODBC
// converts wide text for a driver without wide functions (Debian's SQLite
// driver) through ISO-8859-1, which loses every other character, while its
// drivers take narrow text as UTF-8.
//
// Reading: Open describes "SELECT * FROM t WHERE 1=0" for the columns (their
// order is the order column numbers count); First runs "SELECT * FROM t" and
// the rows come in the order the database returns them; the cells of the
// current row are read with SQLGetData as they are asked for.
//
// Writing: rows are only added (a whole table is emptied with one DELETE for
// an overwrite). Posted rows wait in a batch and go in with one prepared
// INSERT: of 100 rows' VALUES where the database takes that (SQLite,
// PostgreSQL, MySQL, SQL Server: several times faster than arrays of
// parameters through their drivers), else of one row over arrays of
// parameters where the driver takes arrays, else row by row. A batch goes
// when it is full, before anything reads the table, and at Flush, Close and
// CommitTrans. A batch the database
// refuses is a failure of the Post that filled it or of Flush, which the
// table store calls before Close: a refused row then ends the transfer with
// the post's code and the server goes on, while Close and CommitTrans fail
// only when the database itself does.
#include "tablink/stores/odbc_store.h"

#ifdef _WIN32
#include <windows.h>  // the ODBC headers need its types
#undef UNICODE        // each ODBC function by its own name: the narrow one plain, the wide one with W
#endif
#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <limits>
#include <vector>

#include "common/utf.h"
#include "platform/codepage.h"

namespace pw::tablink {

namespace {

static_assert(sizeof(SQLWCHAR) == 2, "the wide ODBC API is UTF-16 here");
using WString = std::basic_string<SQLWCHAR>;

/// Rows in one INSERT's VALUES at most, and its parameters (SQLite before
/// 3.32 takes 999); parameter sets in one execution at most; the bytes a
/// batch's parameters may take.
constexpr std::size_t kRowsPerInsert = 100;
constexpr std::size_t kParametersPerInsert = 999;
constexpr std::size_t kSetsPerExecute = 1000;
constexpr std::size_t kBatchBytes = 4u << 20;
/// The UTF-16 units of a cell at most: the rest of a longer one is left
/// unread, a longer one is not stored (a record's field is at most 8192
/// bytes).
constexpr std::size_t kMaxCellUnits = 1u << 16;

bool Ok(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

/// An attribute's value where ODBC takes it in a pointer.
SQLPOINTER Value(std::uintptr_t v) { return reinterpret_cast<SQLPOINTER>(v); }

bool IsAscii(std::string_view s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

WString Ascii(std::string_view s) { return WString(s.begin(), s.end()); }

WString Wide(std::string_view utf8) {
  if (IsAscii(utf8)) return Ascii(utf8);
  const std::u16string u = Utf8ToUtf16(utf8);
  return WString(u.begin(), u.end());
}

std::string Utf8(const SQLWCHAR* p, std::size_t n) { return Utf16ToUtf8(std::u16string(p, p + n)); }

/// A length the driver got back, within the \p room of its buffer.
std::size_t Got(SQLLEN length, std::size_t room) {
  return length <= 0 ? 0 : std::min(static_cast<std::size_t>(length), room);
}

/// True where statements and names go through the narrow functions in UTF-8.
bool NarrowUtf8() {
#ifdef _WIN32
  static const bool wine = GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
  return wine;
#else
  return true;
#endif
}

SQLCHAR* Narrow(std::string& s) { return reinterpret_cast<SQLCHAR*>(s.data()); }

template <typename Length>
Length Count(std::size_t n) {
  return static_cast<Length>(std::min<std::size_t>(n, static_cast<std::size_t>(std::numeric_limits<Length>::max())));
}

SQLRETURN ExecDirect(SQLHSTMT stmt, std::string sql) {
  if (NarrowUtf8()) return SQLExecDirect(stmt, Narrow(sql), Count<SQLINTEGER>(sql.size()));
  WString w = Wide(sql);
  return SQLExecDirectW(stmt, w.data(), Count<SQLINTEGER>(w.size()));
}

SQLRETURN Prepare(SQLHSTMT stmt, std::string sql) {
  if (NarrowUtf8()) return SQLPrepare(stmt, Narrow(sql), Count<SQLINTEGER>(sql.size()));
  WString w = Wide(sql);
  return SQLPrepareW(stmt, w.data(), Count<SQLINTEGER>(w.size()));
}

SQLRETURN Tables(SQLHSTMT stmt, std::string types) {
  if (NarrowUtf8())
    return SQLTables(stmt, nullptr, 0, nullptr, 0, nullptr, 0, Narrow(types), Count<SQLSMALLINT>(types.size()));
  WString w = Wide(types);
  return SQLTablesW(stmt, nullptr, 0, nullptr, 0, nullptr, 0, w.data(), Count<SQLSMALLINT>(w.size()));
}

SQLRETURN DriverConnect(SQLHDBC dbc, std::string text) {
  SQLSMALLINT outLength = 0;
  if (NarrowUtf8()) {
    SQLCHAR out[1024];
    return SQLDriverConnect(dbc, nullptr, Narrow(text), Count<SQLSMALLINT>(text.size()), out, sizeof out, &outLength,
                            SQL_DRIVER_NOPROMPT);
  }
  WString w = Wide(text);
  SQLWCHAR out[1024];
  return SQLDriverConnectW(dbc, nullptr, w.data(), Count<SQLSMALLINT>(w.size()), out,
                           static_cast<SQLSMALLINT>(std::size(out)), &outLength, SQL_DRIVER_NOPROMPT);
}

/// The name of result column \p col (UTF-8) with its type, size and digits.
SQLRETURN DescribeColumn(SQLHSTMT stmt, SQLUSMALLINT col, std::string& name, SQLSMALLINT& type, SQLULEN& size,
                         SQLSMALLINT& digits) {
  SQLSMALLINT length = 0, nullable = 0;
  if (NarrowUtf8()) {
    std::vector<SQLCHAR> buf(512);
    SQLRETURN rc = SQLDescribeCol(stmt, col, buf.data(), Count<SQLSMALLINT>(buf.size()), &length, &type, &size, &digits,
                                  &nullable);
    if (Ok(rc) && length >= Count<SQLSMALLINT>(buf.size()) && length < 8192) {
      buf.resize(static_cast<std::size_t>(length) + 1);
      rc = SQLDescribeCol(stmt, col, buf.data(), Count<SQLSMALLINT>(buf.size()), &length, &type, &size, &digits,
                          &nullable);
    }
    name.assign(reinterpret_cast<const char*>(buf.data()), Got(length, buf.size() - 1));
    return rc;
  }
  std::vector<SQLWCHAR> buf(256);
  SQLRETURN rc =
      SQLDescribeColW(stmt, col, buf.data(), Count<SQLSMALLINT>(buf.size()), &length, &type, &size, &digits, &nullable);
  if (Ok(rc) && length >= Count<SQLSMALLINT>(buf.size()) && length < 4096) {
    buf.resize(static_cast<std::size_t>(length) + 1);
    rc = SQLDescribeColW(stmt, col, buf.data(), Count<SQLSMALLINT>(buf.size()), &length, &type, &size, &digits,
                         &nullable);
  }
  name = Utf8(buf.data(), Got(length, buf.size() - 1));
  return rc;
}

/// The driver's diagnostics of \p handle: "SQLSTATE: message" for each of
/// its first records, joined by " / ".
std::string Diagnostics(SQLSMALLINT type, SQLHANDLE handle) {
  std::string text;
  if (!handle) return text;
  for (SQLSMALLINT i = 1; i <= 3; ++i) {
    SQLINTEGER native = 0;
    SQLSMALLINT length = 0;
    std::string state, message;
    if (NarrowUtf8()) {
      SQLCHAR st[6] = {};
      std::vector<SQLCHAR> buf(1024);
      SQLRETURN rc = SQLGetDiagRec(type, handle, i, st, &native, buf.data(), Count<SQLSMALLINT>(buf.size()), &length);
      if (rc == SQL_SUCCESS_WITH_INFO && length >= Count<SQLSMALLINT>(buf.size()) && length < 8192) {
        buf.resize(static_cast<std::size_t>(length) + 1);
        rc = SQLGetDiagRec(type, handle, i, st, &native, buf.data(), Count<SQLSMALLINT>(buf.size()), &length);
      }
      if (!Ok(rc)) break;
      state.assign(reinterpret_cast<const char*>(st), 5);
      message.assign(reinterpret_cast<const char*>(buf.data()), Got(length, buf.size() - 1));
    } else {
      SQLWCHAR st[6] = {};
      std::vector<SQLWCHAR> buf(1024);
      SQLRETURN rc = SQLGetDiagRecW(type, handle, i, st, &native, buf.data(), Count<SQLSMALLINT>(buf.size()), &length);
      if (rc == SQL_SUCCESS_WITH_INFO && length >= Count<SQLSMALLINT>(buf.size()) && length < 8192) {
        buf.resize(static_cast<std::size_t>(length) + 1);
        rc = SQLGetDiagRecW(type, handle, i, st, &native, buf.data(), Count<SQLSMALLINT>(buf.size()), &length);
      }
      if (!Ok(rc)) break;
      state = Utf8(st, 5);
      message = Utf8(buf.data(), Got(length, buf.size() - 1));
    }
    if (!text.empty()) text += " / ";
    // The driver's text may be in another encoding than it should: kept
    // readable rather than passed on broken.
    text += state + ": " + Utf16ToUtf8(Utf8ToUtf16(message));
  }
  return text;
}

// Cells cross the interface as ANSI bytes; ASCII is the same in every form.
void WideFromAnsi(std::string_view ansi, WString& out) {
  if (IsAscii(ansi)) {
    out.assign(ansi.begin(), ansi.end());
    return;
  }
  out = Wide(FromAnsi(ansi));
}

void AnsiFromWide(const WString& w, AnsiString& out) {
  if (std::all_of(w.begin(), w.end(), [](SQLWCHAR c) { return c < 0x80; })) {
    out.assign(w.begin(), w.end());
    return;
  }
  out = ToAnsi(Utf8(w.data(), w.size()));
}

/// An ODBC handle, freed with its owner.
class Handle {
 public:
  explicit Handle(SQLSMALLINT type) : type_(type) {}
  ~Handle() { Free(); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  bool Alloc(SQLHANDLE parent) {
    Free();
    if (Ok(SQLAllocHandle(type_, parent, &h_))) return true;
    h_ = nullptr;
    return false;
  }
  void Free() {
    if (h_) SQLFreeHandle(type_, h_);
    h_ = nullptr;
  }
  SQLHANDLE get() const { return h_; }
  SQLSMALLINT type() const { return type_; }
  explicit operator bool() const { return h_ != nullptr; }

 private:
  SQLSMALLINT type_;
  SQLHANDLE h_ = nullptr;
};

struct Column {
  std::string name;  // quoted, UTF-8
  SQLSMALLINT type = SQL_VARCHAR;
  SQLULEN size = 0;
  SQLSMALLINT digits = 0;
  bool text = true;
};

bool IsTextType(SQLSMALLINT type) {
  switch (type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_UNKNOWN_TYPE:
      return true;
    default:
      return false;
  }
}

/// Rows posted and not yet stored: the cells of the columns set, row after
/// row, in one pool.
struct Batch {
  std::vector<std::size_t> cols;  // the columns its rows set, ascending
  WString pool;
  std::vector<std::size_t> ends;  // where each cell ends in the pool
  std::vector<bool> nulls;        // per cell
  std::size_t rows = 0;

  void Clear() {
    pool.clear();
    ends.clear();
    nulls.clear();
    rows = 0;
  }
  std::size_t Begin(std::size_t cell) const { return cell == 0 ? 0 : ends[cell - 1]; }
};

class OdbcConnection final : public TableConnection, private Table {
 public:
  bool Connect(const std::string& connectionString, std::string& why) {
    if (!env_.Alloc(SQL_NULL_HANDLE) || !Ok(SQLSetEnvAttr(env_.get(), SQL_ATTR_ODBC_VERSION, Value(SQL_OV_ODBC3), 0))) {
      why = "the ODBC environment cannot be made";
      return false;
    }
    if (!dbc_.Alloc(env_.get())) {
      why = Diagnostics(SQL_HANDLE_ENV, env_.get());
      if (why.empty()) why = "the ODBC connection cannot be made";
      return false;
    }
    SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_LOGIN_TIMEOUT, Value(15), 0);
    if (!Ok(DriverConnect(dbc_.get(), connectionString))) {
      why = Diagnostics(SQL_HANDLE_DBC, dbc_.get());
      if (why.empty()) why = "the connection fails";
      return false;
    }
    connected_ = true;
    readOnly_ = InfoText(SQL_DATA_SOURCE_READ_ONLY) == "Y";
    const std::string dbms = InfoText(SQL_DBMS_NAME);
    multiRow_ = dbms == "SQLite" || dbms == "PostgreSQL" || dbms == "MySQL" || dbms == "MariaDB" ||
                dbms == "Microsoft SQL Server";
    // A driver without quoted identifiers answers a blank.
    const std::string quote = InfoText(SQL_IDENTIFIER_QUOTE_CHAR);
    if (quote.size() == 1 && quote[0] != ' ') quote_ = quote[0];
    return true;
  }

  ~OdbcConnection() override {
    select_.Free();
    count_.Free();
    insert_.Free();
    tail_.Free();
    if (connected_) {
      if (inTrans_) SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK);
      SQLDisconnect(dbc_.get());
    }
  }

  // ---- TableConnection

  bool BeginTrans() override {
    if (inTrans_) return Fail("a transaction is already open");
    if (!Ok(SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_AUTOCOMMIT, Value(SQL_AUTOCOMMIT_OFF), 0))) return FailOn(dbc_);
    inTrans_ = true;
    return true;
  }

  bool CommitTrans() override {
    if (!inTrans_) return Fail("no transaction is open");
    if (!StorePending()) return false;
    CloseCursor();
    if (!Ok(SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_COMMIT))) return FailOn(dbc_);
    return EndTransaction();
  }

  bool RollbackTrans() override {
    if (!inTrans_) return Fail("no transaction is open");
    batch_.Clear();
    CloseCursor();
    // A failed rollback keeps the transaction: turning autocommit on would
    // commit it.
    if (!Ok(SQLEndTran(SQL_HANDLE_DBC, dbc_.get(), SQL_ROLLBACK))) return FailOn(dbc_);
    return EndTransaction();
  }

  bool InTransaction() const override { return inTrans_; }
  Table& GetTable() override { return *this; }

  bool ListTables(std::vector<AnsiString>& names) override {
    names.clear();
    Handle stmt(SQL_HANDLE_STMT);
    if (!stmt.Alloc(dbc_.get())) return FailOn(dbc_);
    if (!Ok(Tables(stmt.get(), "TABLE,VIEW"))) return FailOn(stmt);
    WString name;
    AnsiString ansi;
    while (true) {
      const SQLRETURN rc = SQLFetch(stmt.get());
      if (rc == SQL_NO_DATA) break;
      if (!Ok(rc)) return FailOn(stmt);
      if (!ReadCell(stmt, 3, name)) return false;
      AnsiFromWide(name, ansi);
      // SQLite keeps its own tables under this prefix, which user tables cannot take.
      if (ansi.empty() || ansi.starts_with("sqlite_")) continue;
      if (std::find(names.begin(), names.end(), ansi) == names.end()) names.push_back(ansi);
    }
    return true;
  }

  bool ListColumns(std::string_view table, std::vector<AnsiString>& names) override {
    names.clear();
    std::vector<Column> columns;
    if (!Describe(Quoted(table), columns, &names)) return false;
    return true;
  }

  std::string LastError() const override { return error_; }

 private:
  enum class Mode { Browse, Edit, Insert };

  // ---- Table

  bool Close() override {
    const bool stored = StorePending();
    batch_.Clear();
    CloseCursor();
    select_.Free();
    count_.Free();
    insert_.Free();
    tail_.Free();
    open_ = false;
    mode_ = Mode::Browse;
    columns_.clear();
    return stored;
  }

  void SetTableName(std::string_view ansiName) override { table_ = Quoted(ansiName); }

  bool Open() override {
    if (open_) return Fail("the table is already open");
    if (!Describe(table_, columns_, nullptr)) return false;
    open_ = true;
    mode_ = Mode::Browse;
    return true;
  }

  bool IsOpen() const override { return open_; }

  bool First() override {
    if (!open_) return Fail("the table is not open");
    if (!StorePending()) return false;
    CloseCursor();
    if (!select_ && !select_.Alloc(dbc_.get())) return FailOn(dbc_);
    if (!Ok(ExecDirect(select_.get(), "SELECT * FROM " + table_))) return FailOn(select_);
    cursor_ = true;
    recNo_ = 0;
    return Fetch();
  }

  bool Next() override {
    if (!EnsureCursor()) return false;
    if (!row_) return Fail("there is no row after the last");
    return Fetch();
  }

  bool Eof() override { return !open_ || !EnsureCursor() || !row_; }

  std::int64_t RecordCount() override {
    if (!open_) {
      Fail("the table is not open");
      return -1;
    }
    if (!StorePending()) return -1;
    if (!count_ && !count_.Alloc(dbc_.get())) {
      FailOn(dbc_);
      return -1;
    }
    SQLBIGINT n = -1;
    SQLLEN ind = 0;
    const bool ok = Ok(ExecDirect(count_.get(), "SELECT COUNT(*) FROM " + table_)) && Ok(SQLFetch(count_.get())) &&
                    Ok(SQLGetData(count_.get(), 1, SQL_C_SBIGINT, &n, sizeof n, &ind));
    if (!ok) FailOn(count_);
    SQLFreeStmt(count_.get(), SQL_CLOSE);
    return ok && ind != SQL_NULL_DATA && n >= 0 ? static_cast<std::int64_t>(n) : -1;
  }

  std::int64_t RecNo() override { return open_ && cursor_ && row_ ? recNo_ : 0; }

  bool Supports(TableAbility) override { return open_ && !readOnly_; }
  bool CanModify() override { return open_ && !readOnly_; }

  bool Edit() override {
    if (!open_) return Fail("the table is not open");
    if (readOnly_) return Fail("the data source is read-only");
    mode_ = Mode::Edit;
    return true;
  }

  bool Append() override {
    if (!open_ || mode_ == Mode::Insert) return Fail("a row cannot be started now");
    if (readOnly_) return Fail("the data source is read-only");
    cells_.resize(columns_.size());
    set_.assign(columns_.size(), false);
    mode_ = Mode::Insert;
    return true;
  }

  bool SetField(std::int32_t index, std::string_view value) override {
    if (!open_ || mode_ != Mode::Insert) return Fail("rows are only added here: a cell is set on an appended row");
    if (index < 0 || static_cast<std::size_t>(index) >= columns_.size())
      return Fail("there is no column " + std::to_string(index + 1));
    const auto i = static_cast<std::size_t>(index);
    WideFromAnsi(value, cells_[i]);
    if (cells_[i].size() > kMaxCellUnits)
      return Fail("the text for column " + std::to_string(index + 1) + " is too long");
    set_[i] = true;
    return true;
  }

  bool Post() override {
    if (!open_ || mode_ == Mode::Browse) return Fail("there is no row to post");
    const bool insert = mode_ == Mode::Insert;
    mode_ = Mode::Browse;
    if (!insert) return true;  // nothing of an existing row was changed
    // One INSERT serves the rows that set the same columns.
    const std::size_t count = static_cast<std::size_t>(std::count(set_.begin(), set_.end(), true));
    if (count == 0) return Fail("a row without any cell set cannot be stored");
    const bool same = count == batch_.cols.size() &&
                      std::all_of(batch_.cols.begin(), batch_.cols.end(), [&](std::size_t c) { return set_[c]; });
    if (!same) {
      if (!StorePending()) return false;
      insert_.Free();
      batch_.cols.clear();
      for (std::size_t i = 0; i < set_.size(); ++i)
        if (set_[i]) batch_.cols.push_back(i);
      rowsPerInsert_ = multiRow_ ? std::clamp<std::size_t>(kParametersPerInsert / count, 1, kRowsPerInsert) : 1;
    }
    for (std::size_t j = 0; j < count; ++j) {
      const std::size_t col = batch_.cols[j];
      const WString& cell = cells_[col];
      batch_.pool += cell;
      batch_.ends.push_back(batch_.pool.size());
      // An empty cell is no value for a column of numbers, dates and such.
      batch_.nulls.push_back(cell.empty() && !columns_[col].text);
    }
    ++batch_.rows;
    if (batch_.rows >= rowsPerInsert_ * setsPerExecute_ || batch_.pool.size() * sizeof(SQLWCHAR) >= kBatchBytes)
      return StorePending();
    return true;
  }

  bool Flush() override { return StorePending(); }

  bool Delete() override { return Fail("rows are not deleted one by one here; a table is emptied as a whole"); }

  bool DeleteAll() override {
    if (!open_) return Fail("the table is not open");
    if (readOnly_) return Fail("the data source is read-only");
    if (!StorePending()) return false;
    CloseCursor();
    Handle stmt(SQL_HANDLE_STMT);
    if (!stmt.Alloc(dbc_.get())) return FailOn(dbc_);
    const SQLRETURN rc = ExecDirect(stmt.get(), "DELETE FROM " + table_);
    return Ok(rc) || rc == SQL_NO_DATA ? true : FailOn(stmt);
  }

  bool GetField(std::int32_t index, AnsiString& value) override {
    value.clear();
    if (!EnsureCursor()) return false;
    if (!row_) return Fail("there is no current row");
    if (index < 0 || static_cast<std::size_t>(index) >= columns_.size())
      return Fail("there is no column " + std::to_string(index + 1));
    const auto i = static_cast<std::size_t>(index);
    // The driver may hand out cells only from left to right: the ones up to
    // this are read now and kept for the row.
    while (read_ <= i) {
      if (!ReadCell(select_, static_cast<SQLUSMALLINT>(read_ + 1), wide_)) return false;
      AnsiFromWide(wide_, row_cells_[read_]);
      ++read_;
    }
    value = row_cells_[i];
    return true;
  }

  // ---- Helpers

  bool Fail(std::string why) {
    error_ = std::move(why);
    return false;
  }
  bool FailOn(const Handle& h) {
    error_ = Diagnostics(h.type(), h.get());
    if (error_.empty()) error_ = "the driver reports a failure without a reason";
    return false;
  }

  std::string InfoText(SQLUSMALLINT info) {
    SQLWCHAR buf[64] = {};
    SQLSMALLINT length = 0;
    if (!Ok(SQLGetInfoW(dbc_.get(), info, buf, sizeof buf, &length))) return {};
    return Utf8(buf, Got(length, sizeof buf - sizeof(SQLWCHAR)) / sizeof(SQLWCHAR));
  }

  /// \p utf8 as a quoted identifier, its quote characters doubled.
  std::string Quote(std::string_view utf8) const {
    std::string q(1, quote_);
    for (char c : utf8) {
      q += c;
      if (c == quote_) q += c;
    }
    return q + quote_;
  }
  std::string Quoted(std::string_view ansiName) const {
    return Quote(IsAscii(ansiName) ? std::string(ansiName) : FromAnsi(ansiName));
  }

  /// The columns of \p table (quoted) as "SELECT *" gives them.
  bool Describe(const std::string& table, std::vector<Column>& columns, std::vector<AnsiString>* names) {
    columns.clear();
    Handle stmt(SQL_HANDLE_STMT);
    if (!stmt.Alloc(dbc_.get())) return FailOn(dbc_);
    SQLSMALLINT count = 0;
    if (!Ok(ExecDirect(stmt.get(), "SELECT * FROM " + table + " WHERE 1=0")) ||
        !Ok(SQLNumResultCols(stmt.get(), &count)))
      return FailOn(stmt);
    if (count <= 0) return Fail("the table has no columns");
    for (SQLUSMALLINT i = 1; i <= static_cast<SQLUSMALLINT>(count); ++i) {
      Column c;
      std::string name;
      if (!Ok(DescribeColumn(stmt.get(), i, name, c.type, c.size, c.digits))) return FailOn(stmt);
      c.text = IsTextType(c.type);
      c.name = Quote(name);
      if (names) names->push_back(ToAnsi(name));
      columns.push_back(std::move(c));
    }
    return true;
  }

  /// Column \p col of the current row of \p stmt as text; NULL reads as
  /// empty text.
  bool ReadCell(const Handle& stmt, SQLUSMALLINT col, WString& out) {
    out.clear();
    SQLWCHAR chunk[4096];
    while (out.size() < kMaxCellUnits) {
      SQLLEN ind = 0;
      const SQLRETURN rc = SQLGetData(stmt.get(), col, SQL_C_WCHAR, chunk, sizeof chunk, &ind);
      if (rc == SQL_NO_DATA) break;
      if (!Ok(rc)) return FailOn(stmt);
      if (ind == SQL_NULL_DATA) break;
      const std::size_t room = std::size(chunk) - 1;
      const std::size_t n =
          ind == SQL_NO_TOTAL || ind < 0 ? room : std::min(room, static_cast<std::size_t>(ind) / sizeof(SQLWCHAR));
      out.append(chunk, n);
      if (rc == SQL_SUCCESS) break;  // the whole rest fitted
      if (n < room) break;           // a warning other than a cut cell
    }
    if (out.size() > kMaxCellUnits) out.resize(kMaxCellUnits);
    return true;
  }

  bool EnsureCursor() {
    if (!open_) return Fail("the table is not open");
    return cursor_ || First();
  }

  bool Fetch() {
    read_ = 0;
    row_ = false;
    const SQLRETURN rc = SQLFetch(select_.get());
    if (rc == SQL_NO_DATA) return true;
    if (!Ok(rc)) return FailOn(select_);
    row_ = true;
    ++recNo_;
    row_cells_.resize(columns_.size());
    return true;
  }

  void CloseCursor() {
    if (cursor_ && select_) SQLFreeStmt(select_.get(), SQL_CLOSE);
    cursor_ = row_ = false;
    recNo_ = 0;
    read_ = 0;
  }

  bool EndTransaction() {
    inTrans_ = false;
    if (!Ok(SQLSetConnectAttrW(dbc_.get(), SQL_ATTR_AUTOCOMMIT, Value(SQL_AUTOCOMMIT_ON), 0))) return FailOn(dbc_);
    return true;
  }

  /// \p stmt prepared as the INSERT of \p rows rows of the batch's columns.
  bool PrepareInsert(Handle& stmt, std::size_t rows) {
    if (!stmt.Alloc(dbc_.get())) return FailOn(dbc_);
    std::string sql = "INSERT INTO " + table_ + " (", values = "(";
    for (std::size_t j = 0; j < batch_.cols.size(); ++j) {
      sql += (j ? ", " : "") + columns_[batch_.cols[j]].name;
      values += j ? ", ?" : "?";
    }
    sql += ") VALUES ";
    for (std::size_t r = 0; r < rows; ++r) sql += (r ? ", " : "") + values + ")";
    if (!Ok(Prepare(stmt.get(), sql))) {
      FailOn(stmt);
      stmt.Free();
      return false;
    }
    return true;
  }

  /// Finds out once whether the driver takes arrays of parameters, where
  /// rows go in one by one.
  void LearnArrays() {
    if (arraysKnown_ || rowsPerInsert_ > 1) return;
    arraysKnown_ = true;
    SQLULEN size = 0;
    if (Ok(SQLSetStmtAttrW(insert_.get(), SQL_ATTR_PARAMSET_SIZE, Value(kSetsPerExecute), 0)) &&
        Ok(SQLGetStmtAttrW(insert_.get(), SQL_ATTR_PARAMSET_SIZE, &size, sizeof size, nullptr)) &&
        size == kSetsPerExecute)
      setsPerExecute_ = kSetsPerExecute;
    else
      SQLSetStmtAttrW(insert_.get(), SQL_ATTR_PARAMSET_SIZE, Value(1), 0);
  }

  /// Stores the batch's rows; whatever happens, the batch is empty after.
  bool StorePending() {
    if (batch_.rows == 0) return true;
    const bool ok = StoreBatch();
    batch_.Clear();
    tail_.Free();
    return ok;
  }

  /// One execution: a full batch with the prepared INSERT, a shorter one
  /// (the end of the rows) with an INSERT of its own size.
  bool StoreBatch() {
    const std::size_t rows = batch_.rows, cols = batch_.cols.size();
    std::size_t perInsert = rowsPerInsert_, sets = rows / rowsPerInsert_;
    Handle* stmt = &insert_;
    if (rows < rowsPerInsert_) {
      if (!PrepareInsert(tail_, rows)) return false;
      stmt = &tail_;
      perInsert = rows;
      sets = 1;
    } else if (!insert_) {
      if (!PrepareInsert(insert_, rowsPerInsert_)) return false;
      LearnArrays();
    }
    // A parameter per cell of an INSERT, each an array over the sets.
    const std::size_t params = perInsert * cols;
    arrays_.resize(params);
    indicators_.resize(params);
    for (std::size_t p = 0; p < params; ++p) {
      std::size_t width = 1;
      for (std::size_t set = 0; set < sets; ++set) {
        const std::size_t cell = set * params + p;
        width = std::max(width, batch_.ends[cell] - batch_.Begin(cell) + 1);
      }
      arrays_[p].assign(sets * width, 0);
      indicators_[p].resize(sets);
      for (std::size_t set = 0; set < sets; ++set) {
        const std::size_t cell = set * params + p, begin = batch_.Begin(cell), end = batch_.ends[cell];
        std::copy(batch_.pool.begin() + static_cast<std::ptrdiff_t>(begin),
                  batch_.pool.begin() + static_cast<std::ptrdiff_t>(end),
                  arrays_[p].begin() + static_cast<std::ptrdiff_t>(set * width));
        indicators_[p][set] =
            batch_.nulls[cell] ? SQL_NULL_DATA : static_cast<SQLLEN>((end - begin) * sizeof(SQLWCHAR));
      }
      const Column& c = columns_[batch_.cols[p % cols]];
      // Text goes as wide text whatever the column's declared size (SQLite
      // declares 0); other columns take the text converted by the driver.
      const SQLSMALLINT type = c.text ? SQL_WVARCHAR : c.type;
      const SQLULEN size = c.text || c.size == 0 ? width - 1 : c.size;
      if (!Ok(SQLBindParameter(stmt->get(), static_cast<SQLUSMALLINT>(p + 1), SQL_PARAM_INPUT, SQL_C_WCHAR, type,
                               std::max<SQLULEN>(size, 1), c.text ? 0 : c.digits, arrays_[p].data(),
                               static_cast<SQLLEN>(width * sizeof(SQLWCHAR)), indicators_[p].data())))
        return FailOn(*stmt);
    }
    // What the driver does not report stays as it was: all processed, no
    // set refused.
    constexpr SQLUSMALLINT kUnreported = 0xFFFF;
    processed_ = sets;
    statuses_.assign(sets, kUnreported);
    if (setsPerExecute_ > 1) {
      if (!Ok(SQLSetStmtAttrW(stmt->get(), SQL_ATTR_PARAMSET_SIZE, Value(sets), 0)) ||
          !Ok(SQLSetStmtAttrW(stmt->get(), SQL_ATTR_PARAM_STATUS_PTR, statuses_.data(), 0)) ||
          !Ok(SQLSetStmtAttrW(stmt->get(), SQL_ATTR_PARAMS_PROCESSED_PTR, &processed_, 0)))
        return FailOn(*stmt);
    }
    if (!Ok(SQLExecute(stmt->get()))) return FailOn(*stmt);
    const bool refused = std::any_of(statuses_.begin(), statuses_.end(),
                                     [](SQLUSMALLINT s) { return s == SQL_PARAM_ERROR || s == SQL_PARAM_UNUSED; });
    if (processed_ != sets || refused) {
      const std::string why = Diagnostics(SQL_HANDLE_STMT, stmt->get());
      return Fail(why.empty() ? "rows of a batch were not stored" : why);
    }
    return true;
  }

  Handle env_{SQL_HANDLE_ENV}, dbc_{SQL_HANDLE_DBC};
  bool connected_ = false, readOnly_ = false, inTrans_ = false;
  char quote_ = '"';
  std::string error_;

  // The table.
  std::string table_;  // quoted, UTF-8
  bool open_ = false;
  std::vector<Column> columns_;
  Mode mode_ = Mode::Browse;
  Handle select_{SQL_HANDLE_STMT}, count_{SQL_HANDLE_STMT}, insert_{SQL_HANDLE_STMT}, tail_{SQL_HANDLE_STMT};

  // The rows read: the current one's cells, read up to read_.
  bool cursor_ = false, row_ = false;
  std::int64_t recNo_ = 0;
  std::size_t read_ = 0;
  std::vector<AnsiString> row_cells_;
  WString wide_;

  // The row being appended and the rows waiting.
  std::vector<WString> cells_;
  std::vector<bool> set_;
  Batch batch_;
  bool multiRow_ = false;  // the database takes many rows in one INSERT
  std::size_t rowsPerInsert_ = 1, setsPerExecute_ = 1;
  bool arraysKnown_ = false;
  std::vector<std::vector<SQLWCHAR>> arrays_;
  std::vector<std::vector<SQLLEN>> indicators_;
  std::vector<SQLUSMALLINT> statuses_;
  SQLULEN processed_ = 0;
};

#ifdef _WIN32
/// The name the SQLite driver is installed under: "SQLite3" as Debian names
/// it (also under Wine, whose ODBC is the host's), otherwise the name of the
/// driver's own Windows installer.
std::string SqliteDriverName() {
  Handle env(SQL_HANDLE_ENV);
  if (!env.Alloc(SQL_NULL_HANDLE) || !Ok(SQLSetEnvAttr(env.get(), SQL_ATTR_ODBC_VERSION, Value(SQL_OV_ODBC3), 0)))
    return "SQLite3";
  bool windowsName = false;
  SQLUSMALLINT direction = SQL_FETCH_FIRST;
  SQLWCHAR name[256], attributes[1024];
  SQLSMALLINT nameLength = 0, attributesLength = 0;
  while (Ok(SQLDriversW(env.get(), direction, name, static_cast<SQLSMALLINT>(std::size(name)), &nameLength, attributes,
                        static_cast<SQLSMALLINT>(std::size(attributes)), &attributesLength))) {
    direction = SQL_FETCH_NEXT;
    const std::size_t n =
        std::min<std::size_t>(static_cast<std::size_t>(std::max<SQLSMALLINT>(nameLength, 0)), std::size(name) - 1);
    const WString found(name, n);
    if (found == Ascii("SQLite3")) return "SQLite3";
    if (found == Ascii("SQLite3 ODBC Driver")) windowsName = true;
  }
  return windowsName ? "SQLite3 ODBC Driver" : "SQLite3";
}
#else
std::string SqliteDriverName() { return "SQLite3"; }
#endif

}  // namespace

std::string SqliteConnectionString(const std::filesystem::path& file) {
  // The driver reads the path up to the next ';' and knows no braces: a
  // path with one cannot be named. Without StepAPI it reads a whole result
  // into memory before handing out the first row.
  const std::u8string p = file.u8string();
  return "Driver=" + SqliteDriverName() + ";Database=" + std::string(p.begin(), p.end()) + ";StepAPI=1";
}

std::unique_ptr<TableConnection> OpenOdbc(const std::string& connectionString, std::string& why) {
  auto connection = std::make_unique<OdbcConnection>();
  if (!connection->Connect(connectionString, why)) return nullptr;
  return connection;
}

}  // namespace pw::tablink
