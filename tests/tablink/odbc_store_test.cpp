// The ODBC store under the table store's receive and send, against SQLite
// (a file per test) and PostgreSQL (the private server ./dev test starts,
// named by PW_PG_CONNECTION; skipped without it). The rows are checked with
// SQL of the test's own, beside the store.
#include "tablink/stores/odbc_store.h"

#ifdef _WIN32
#include <windows.h>
#undef UNICODE  // each ODBC function by its own name: the narrow one plain, the wide one with W
#endif
#include <sql.h>
#include <sqlext.h>

#include <gtest/gtest.h>

#include <array>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "common/utf.h"
#include "content/result_codes.h"
#include "platform/codepage.h"
#include "tablink/result_texts.h"
#include "tablink/stores.h"
#include "tests/content/temp_dir.h"
#include "tests/support/recording_boxes.h"

namespace pw::tablink {
namespace {

using Rows = std::vector<std::vector<std::string>>;
using WString = std::basic_string<SQLWCHAR>;

std::string Utf8(const SQLWCHAR* p, std::size_t n) { return Utf16ToUtf8(std::u16string(p, p + n)); }

/// A connection of the test's own: statements, and rows as UTF-8 text
/// (NULL as "(null)"). Statements go in UTF-8 through the narrow functions,
/// as unixODBC's drivers take them (natively and under Wine).
class Sql {
 public:
  explicit Sql(const std::string& connection) {
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env_);
    SQLSetEnvAttr(env_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(std::uintptr_t{SQL_OV_ODBC3}), 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env_, &dbc_);
    std::string text = connection;
    SQLCHAR out[1024];
    SQLSMALLINT outLength = 0;
    connected_ = SQL_SUCCEEDED(SQLDriverConnect(dbc_, nullptr, reinterpret_cast<SQLCHAR*>(text.data()),
                                                static_cast<SQLSMALLINT>(text.size()), out, sizeof out, &outLength,
                                                SQL_DRIVER_NOPROMPT));
    if (!connected_) ADD_FAILURE() << "cannot connect: " << Why(SQL_HANDLE_DBC, dbc_);
  }
  ~Sql() {
    if (connected_) SQLDisconnect(dbc_);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc_);
    SQLFreeHandle(SQL_HANDLE_ENV, env_);
  }
  void Exec(const std::string& sql) { Run(sql, nullptr); }
  Rows Query(const std::string& sql) {
    Rows rows;
    Run(sql, &rows);
    return rows;
  }

 private:
  static std::string Why(SQLSMALLINT type, SQLHANDLE h) {
    SQLCHAR state[6] = {}, message[512] = {};
    SQLINTEGER native = 0;
    SQLSMALLINT n = 0;
    SQLGetDiagRec(type, h, 1, state, &native, message, 512, &n);
    return std::string(reinterpret_cast<const char*>(state)) + " " + reinterpret_cast<const char*>(message);
  }
  void Run(const std::string& sql, Rows* rows) {
    SQLHSTMT stmt = nullptr;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc_, &stmt);
    std::string text = sql;
    const SQLRETURN rc =
        SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(text.data()), static_cast<SQLINTEGER>(text.size()));
    if (!SQL_SUCCEEDED(rc) && rc != SQL_NO_DATA) ADD_FAILURE() << sql << ": " << Why(SQL_HANDLE_STMT, stmt);
    SQLSMALLINT cols = 0;
    if (rows && SQL_SUCCEEDED(rc) && SQL_SUCCEEDED(SQLNumResultCols(stmt, &cols))) {
      while (SQL_SUCCEEDED(SQLFetch(stmt))) {
        auto& row = rows->emplace_back();
        for (SQLUSMALLINT c = 1; c <= static_cast<SQLUSMALLINT>(cols); ++c) {
          SQLWCHAR cell[1024];
          SQLLEN ind = 0;
          SQLGetData(stmt, c, SQL_C_WCHAR, cell, sizeof cell, &ind);
          row.push_back(ind == SQL_NULL_DATA ? "(null)" : Utf8(cell, static_cast<std::size_t>(ind) / sizeof(SQLWCHAR)));
        }
      }
    }
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
  }

  SQLHENV env_ = nullptr;
  SQLHDBC dbc_ = nullptr;
  bool connected_ = false;
};

/// \p p as the database driver sees it: under Wine the driver is the host's,
/// which takes Linux paths.
std::filesystem::path DriverPath(const std::filesystem::path& p) {
#ifdef _WIN32
  using ToUnix = char*(CDECL*)(LPCWSTR);
  const auto toUnix = reinterpret_cast<ToUnix>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
  if (toUnix) {
    char* unix = toUnix(p.c_str());
    if (unix) {
      const std::string s(unix);
      HeapFree(GetProcessHeap(), 0, unix);
      return std::filesystem::path(std::u8string(s.begin(), s.end()));
    }
  }
#endif
  return p;
}

Definition Def(const std::string& table, std::vector<std::int32_t> map, const char* widths,
               const char* lastSpace = "0") {
  Definition d;
  d.BhtFile = "ITEM.DAT";
  d.SaveName = ToAnsi(table);
  d.FieldCount = static_cast<std::int32_t>(map.size());
  std::copy(map.begin(), map.end(), d.FieldMap.begin());
  d.FieldWidths = widths;
  d.LastSpace = lastSpace;
  return d;
}

enum class Db { Sqlite, Postgres };

class OdbcStore : public ::testing::TestWithParam<Db> {
 protected:
  void SetUp() override {
    if (GetParam() == Db::Sqlite) {
      connection = SqliteConnectionString(DriverPath(dir / "store.db"));
    } else {
      const char* pg = std::getenv("PW_PG_CONNECTION");
      if (!pg || !*pg) GTEST_SKIP() << "no PostgreSQL: PW_PG_CONNECTION is not set (./dev test sets it)";
      connection = pg;
    }
    sql = std::make_unique<Sql>(connection);
    std::string why;
    store = OpenOdbc(connection, why);
    ASSERT_TRUE(store) << why;
    // One PostgreSQL database serves every run: each test has tables of its own.
    suffix = "_" + std::to_string(std::random_device{}() % 1000000);
    items = "品目" + suffix;
    Create(items, "code VARCHAR(20) PRIMARY KEY, name VARCHAR(40), qty INTEGER");
    sql->Exec("INSERT INTO " + Q(items) + " VALUES ('OLD1', 'old', 9)");
  }
  void TearDown() override {
    store.reset();
    if (sql)
      for (auto it = dropped.rbegin(); it != dropped.rend(); ++it) sql->Exec(*it);
  }

  static std::string Q(const std::string& name) {
    std::string q = "\"";
    for (char c : name) q += c == '"' ? std::string(2, c) : std::string(1, c);
    return q + "\"";
  }
  void Create(const std::string& table, const std::string& columns) {
    sql->Exec("CREATE TABLE " + Q(table) + " (" + columns + ")");
    dropped.push_back("DROP TABLE " + Q(table));
  }
  Rows Items() { return sql->Query("SELECT code, name, qty FROM " + Q(items) + " ORDER BY code"); }

  /// Receives \p records through the table store; returns the code it ends
  /// with (-1: abandoned after the records).
  std::int32_t Receive(const Definition& def, const char* widths, std::int32_t size, std::int32_t count,
                       const std::string& records, bool append, bool abandon = false) {
    settings.Append = append;
    FieldLayout f;
    f.iRecSize = ParseFieldList(widths, f);
    f.iRecSize0 = size;
    f.iRecords = count;
    std::unique_ptr<RecordSink> sink;
    const std::int32_t open = OpenTableReceive(*store, settings, def, ReceiveLayout(f, def), alerts, sink);
    if (open != 0) why = store->GetTable().LastError();
    if (open != 0) return open;
    try {
      for (std::size_t pos = 0; pos < records.size(); pos += 1024) {
        const std::string_view part = std::string_view(records).substr(pos, 1024);
        sink->Write(std::span(reinterpret_cast<const std::uint8_t*>(part.data()), part.size()));
      }
      if (abandon) {
        sink->Abandon();
        return -1;
      }
      AnsiString stored;
      return sink->Finish(stored);
    } catch (const StoreError& e) {
      why = e.what();
      sink->Abandon();
      return e.Code;
    }
  }
  /// The data of a send, as the terminal gets it.
  std::string Drain(SendJob& job) {
    std::string data;
    for (std::int32_t i = 0; i < job.iEndBlock; ++i) {
      std::array<std::uint8_t, kBlockData> block;
      data.append(reinterpret_cast<const char*>(block.data()), job.Source->ReadBlock(block));
    }
    return data;
  }

  test::TempDir dir;
  std::string connection;
  std::unique_ptr<Sql> sql;
  std::unique_ptr<TableConnection> store;
  std::string suffix, items, why;
  std::vector<std::string> dropped;
  StoreSettings settings{kSaveAccess, {}, true, {}};
  test::RecordingBoxes boxes;
  Alerts alerts{boxes, "Tablink"};
};

// Field 1 to code, field 2 ignored, field 3 to name, field 4 to qty.
constexpr const char* kWidths = "4 2 8 4";
std::string Record(const std::string& code, const std::string& name, const std::string& qty) {
  return FitB(code, 4) + "zz" + FitB(ToAnsi(name), 8) + FitB(qty, 4) + "\r\n";
}

TEST_P(OdbcStore, ReceivedRecordsAreAddedOrReplaceTheRowsInOneTransaction) {
  const Definition def = Def(items, {1, 0, 2, 3}, kWidths);
  const std::string two = Record("A001", "りんご", "12") + Record("B002", "ﾊﾞﾅﾅ", "");
  ASSERT_EQ(Receive(def, kWidths, 20, 2, two, true), 0) << why;
  // Japanese text arrives as CP932 and is stored as the database's text; an
  // empty field gives a number column no value.
  EXPECT_EQ(Items(), (Rows{{"A001", "りんご", "12"}, {"B002", "ﾊﾞﾅﾅ", "(null)"}, {"OLD1", "old", "9"}}));
  EXPECT_FALSE(store->InTransaction());
  EXPECT_FALSE(store->GetTable().IsOpen());

  // An overwrite, with trailing blanks kept, and more rows than a batch holds.
  std::string many;
  for (int i = 0; i < 2500; ++i) many += Record(ZeroPad(i, 4), "n" + std::to_string(i), std::to_string(i));
  ASSERT_EQ(Receive(Def(items, {1, 0, 2, 3}, kWidths, "1"), kWidths, 20, 2500, many, false), 0);
  EXPECT_EQ(sql->Query("SELECT COUNT(*), MIN(code), MAX(code), SUM(qty) FROM " + Q(items)),
            (Rows{{"2500", "0000", "2499", "3123750"}}));
  EXPECT_EQ(sql->Query("SELECT name FROM " + Q(items) + " WHERE code = '1234'"), (Rows{{"n1234   "}}));
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_P(OdbcStore, AnAbandonedOrRefusedReceiveLeavesTheRowsAsTheyWere) {
  const Definition def = Def(items, {1, 0, 2, 3}, kWidths);
  const Rows before = Items();
  EXPECT_EQ(Receive(def, kWidths, 20, 1, Record("A001", "x", "1"), false, true), -1);
  EXPECT_EQ(Items(), before);
  EXPECT_FALSE(store->InTransaction());

  // A key twice: in the first batch the post that fills it fails, in the
  // last one the end of the file; both are 31 with the driver's reason,
  // and nothing is stored.
  for (const int twice : {10, 1120}) {
    SCOPED_TRACE(twice);
    std::string records;
    for (int i = 0; i < 1150; ++i) records += Record(ZeroPad(i == twice ? 1 : i, 4), "n", "1");
    why.clear();
    EXPECT_EQ(Receive(def, kWidths, 20, 1150, records, false), code::PostFailed);
    EXPECT_NE(why.find("a row cannot be stored: "), std::string::npos) << why;
    EXPECT_EQ(Items(), before);
    EXPECT_FALSE(store->InTransaction());
    EXPECT_FALSE(store->GetTable().IsOpen());
  }
  // A table that is not there.
  EXPECT_EQ(Receive(Def("none" + suffix, {1}, "4"), "4", 4, 1, "A001", true), code::TableOpen);
  EXPECT_NE(store->GetTable().LastError().find(": "), std::string::npos);
  EXPECT_TRUE(boxes.shown.empty());
}

TEST_P(OdbcStore, RowsAreSentInTheDatabasesOrderUntilAnEmptyCell) {
  sql->Exec("INSERT INTO " + Q(items) + " VALUES ('B2', 'バナナ', 5), ('A1', 'りんご', 70)");
  SendJob job;
  // name, code, qty: the cells are asked for out of their order.
  ASSERT_EQ(PrepareTableSend(*store, Def(items, {2, 1, 3}, "6 4 2"), "ITEM.DAT", job), 0);
  EXPECT_EQ(job.Facts.iRecords, 3);
  EXPECT_EQ(Drain(job), "old   OLD19 \r\n" + ToAnsi("バナナ") + "B2  5 \r\n" + ToAnsi("りんご") + "A1  70\r\n");

  sql->Exec("INSERT INTO " + Q(items) + " VALUES ('C3', 'empty', NULL)");
  ASSERT_EQ(PrepareTableSend(*store, Def(items, {1, 3}, "4 2"), "ITEM.DAT", job), 0);
  std::array<std::uint8_t, kBlockData> block;
  try {
    job.Source->ReadBlock(block);
    ADD_FAILURE() << "an empty cell was sent";
  } catch (const StoreError& e) {
    EXPECT_EQ(e.Code, code::TableDataError);
  }

  EXPECT_EQ(PrepareTableSend(*store, Def("none" + suffix, {1}, "4"), "ITEM.DAT", job), code::TableOpen);
  Create("empty" + suffix, "a VARCHAR(4)");
  EXPECT_EQ(PrepareTableSend(*store, Def("empty" + suffix, {1}, "4"), "ITEM.DAT", job), result::SendDataError);
  EXPECT_FALSE(store->GetTable().IsOpen());
}

TEST_P(OdbcStore, TablesAndViewsAreListedAndColumnsInTheirOrder) {
  const std::string odd = "odd \"q\"" + suffix;
  Create(odd, "zeta INTEGER, alpha VARCHAR(4), \"mid \"\"q\"\"\" VARCHAR(4), 列 VARCHAR(4)");
  sql->Exec("CREATE VIEW " + Q("v" + suffix) + " AS SELECT code, qty FROM " + Q(items));
  dropped.insert(dropped.begin() + 1, "DROP VIEW " + Q("v" + suffix));  // before its table
  // SQLite keeps the counters of AUTOINCREMENT in a table of its own.
  Create("auto" + suffix, GetParam() == Db::Sqlite ? "id INTEGER PRIMARY KEY AUTOINCREMENT" : "id SERIAL");

  std::vector<AnsiString> names;
  ASSERT_TRUE(store->ListTables(names)) << store->LastError();
  for (const std::string& t : {items, odd, "v" + suffix, "auto" + suffix})
    EXPECT_NE(std::find(names.begin(), names.end(), ToAnsi(t)), names.end()) << t;
  for (const AnsiString& n : names) {
    EXPECT_FALSE(n.starts_with("sqlite_") || n.starts_with("pg_")) << n;
    EXPECT_NE(n, "tables");  // information_schema
  }

  ASSERT_TRUE(store->ListColumns(ToAnsi(odd), names)) << store->LastError();
  EXPECT_EQ(names, (std::vector<AnsiString>{"zeta", "alpha", "mid \"q\"", ToAnsi("列")}));
  ASSERT_TRUE(store->ListColumns(ToAnsi("v" + suffix), names));
  EXPECT_EQ(names, (std::vector<AnsiString>{"code", "qty"}));
  EXPECT_FALSE(store->ListColumns("none" + suffix, names));
  EXPECT_NE(store->LastError().find(": "), std::string::npos);

  // The odd names are quoted for a receive too.
  const Definition def = Def(odd, {2, 1, 4}, "4 4 4");
  ASSERT_EQ(Receive(def, "4 4 4", 12, 1, "ab  12  " + FitB(ToAnsi("日本"), 4), true), 0);
  EXPECT_EQ(sql->Query("SELECT * FROM " + Q(odd)), (Rows{{"12", "ab", "(null)", "日本"}}));
}

INSTANTIATE_TEST_SUITE_P(Databases, OdbcStore, ::testing::Values(Db::Sqlite, Db::Postgres),
                         [](const auto& info) { return info.param == Db::Sqlite ? "SQLite" : "PostgreSQL"; });

TEST(OdbcConnection, TheSqliteTextNamesTheDriverAndTheFileAndAFailureTellsTheReason) {
  // Under Wine too: the driver list is the host's.
  EXPECT_EQ(SqliteConnectionString("/data/a.db"), "Driver=SQLite3;Database=/data/a.db;StepAPI=1");
  std::string why;
  EXPECT_FALSE(OpenOdbc("Driver=No Such Driver;Database=x", why));
  EXPECT_NE(why.find(": "), std::string::npos) << why;
}

}  // namespace
}  // namespace pw::tablink
