// Rows per second through the ODBC store: a received file of records stored
// by the table store's sink (one transaction, as the server does), and the
// rows sent back as blocks; peak memory after a fifth of the rows and after
// all of them, which stays the same when memory does not grow with rows.
// SQLite in a temporary file, and PostgreSQL when PW_PG_CONNECTION names
// one (./dev bench starts a private server).
// Usage: table_store_bench [rows] [sqlite|pg]
#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/codepage.h"
#include "tablink/stores.h"
#include "tablink/stores/odbc_store.h"

namespace {

using namespace pw;
using namespace pw::tablink;
using Clock = std::chrono::steady_clock;

double PeakMiB() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return static_cast<double>(ru.ru_maxrss) / 1024.0;
}

struct NoBoxes : MessageBoxes {
  int Show(std::string_view title, std::string_view text, unsigned) override {
    std::fprintf(stderr, "%.*s: %.*s\n", static_cast<int>(title.size()), title.data(), static_cast<int>(text.size()),
                 text.data());
    return kIdOk;
  }
};

// Runs \p sql on a connection of its own (UTF-8, unixODBC's narrow text).
bool Exec(const std::string& connection, const std::string& sql) {
  SQLHENV env = nullptr;
  SQLHDBC dbc = nullptr;
  SQLHSTMT stmt = nullptr;
  SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
  SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(std::uintptr_t{SQL_OV_ODBC3}), 0);
  SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
  std::string text = connection, statement = sql;
  SQLCHAR out[1024];
  SQLSMALLINT outLength = 0;
  bool ok = SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, reinterpret_cast<SQLCHAR*>(text.data()), SQL_NTS, out,
                                           sizeof out, &outLength, SQL_DRIVER_NOPROMPT));
  if (ok) {
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
    const SQLRETURN rc = SQLExecDirect(stmt, reinterpret_cast<SQLCHAR*>(statement.data()), SQL_NTS);
    ok = SQL_SUCCEEDED(rc) || rc == SQL_NO_DATA;
    SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    SQLDisconnect(dbc);
  }
  SQLFreeHandle(SQL_HANDLE_DBC, dbc);
  SQLFreeHandle(SQL_HANDLE_ENV, env);
  return ok;
}

// Records of "13 20 5" with CR LF; every fourth name is Japanese.
std::string Record(int i) {
  static const AnsiString japanese = ToAnsi("商品名 ﾃｽﾄ");
  return FitB("4901234" + std::to_string(100000 + i), 13) +
         FitB(i % 4 == 0 ? japanese + std::to_string(i) : "ITEM NAME " + std::to_string(i % 977), 20) +
         FitB(std::to_string(i % 10000), 5) + "\r\n";
}

Definition Def() {
  Definition d;
  d.BhtFile = "ITEM.DAT";
  d.SaveName = "bench_items";
  d.FieldCount = 3;
  d.FieldMap = {1, 2, 3};
  d.FieldWidths = "13 20 5";
  return d;
}

// Receives \p rows records in overwrite mode, made as the blocks go; the
// seconds it took, or -1.
double Receive(TableConnection& store, int rows) {
  NoBoxes boxes;
  Alerts alerts(boxes, "bench");
  const Definition def = Def();
  FieldLayout f;
  f.iRecSize = ParseFieldList("13 20 5", f);
  f.iRecSize0 = f.iRecSize + 2;
  f.iRecords = rows;
  StoreSettings settings{kSaveAccess, {}, false, {}};
  const auto t0 = Clock::now();
  std::unique_ptr<RecordSink> sink;
  if (OpenTableReceive(store, settings, def, ReceiveLayout(f, def), alerts, sink) != 0) return -1;
  try {
    std::string data;
    for (int i = 0; i < rows || !data.empty();) {
      while (data.size() < kBlockData && i < rows) data += Record(i++);
      const std::size_t n = std::min(kBlockData, data.size());
      sink->Write(std::span(reinterpret_cast<const std::uint8_t*>(data.data()), n));
      data.erase(0, n);
    }
    AnsiString stored;
    if (sink->Finish(stored) != 0) return -1;
  } catch (const StoreError& e) {
    std::fprintf(stderr, "receive: %s\n", e.what());
    sink->Abandon();
    return -1;
  }
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

// Sends the table's rows; the seconds it took, or -1.
double Send(TableConnection& store, int rows) {
  const auto t0 = Clock::now();
  SendJob job;
  if (PrepareTableSend(store, Def(), "ITEM.DAT", job) != 0 || job.Facts.iRecords != rows) return -1;
  std::array<std::uint8_t, kBlockData> block;
  try {
    for (std::int32_t i = 0; i < job.iEndBlock; ++i) job.Source->ReadBlock(block);
  } catch (const StoreError& e) {
    std::fprintf(stderr, "send: %s\n", e.what());
    return -1;
  }
  const double s = std::chrono::duration<double>(Clock::now() - t0).count();
  ReleaseTable(store);
  return s;
}

bool Run(const char* name, const std::string& connection, int rows) {
  Exec(connection, "DROP TABLE bench_items");
  if (!Exec(connection, "CREATE TABLE bench_items (code VARCHAR(13), name VARCHAR(20), qty VARCHAR(5))")) {
    std::printf("%s: the table cannot be made\n", name);
    return false;
  }
  std::string why;
  const auto store = OpenOdbc(connection, why);
  if (!store) {
    std::printf("%s: %s\n", name, why.c_str());
    return false;
  }
  const double before = PeakMiB();
  const double warm = Receive(*store, rows / 5);
  const double peakFifth = PeakMiB();
  const double received = Receive(*store, rows);
  const double peakAll = PeakMiB();
  const double sent = Send(*store, rows);
  const double peakSent = PeakMiB();
  Exec(connection, "DROP TABLE bench_items");
  if (warm < 0 || received < 0 || sent < 0) {
    std::printf("%s: failed (%s)\n", name, store->GetTable().LastError().c_str());
    return false;
  }
  std::printf("%s: received %d rows in %.2f s: %.0f rows/s; sent them in %.2f s: %.0f rows/s\n", name, rows, received,
              rows / received, sent, rows / sent);
  std::printf(
      "%s: peak memory %.1f MiB before, %.1f MiB after %d rows, %.1f MiB after %d rows, %.1f MiB after the send\n",
      name, before, peakFifth, rows / 5, peakAll, rows, peakSent);
  return true;
}

// Each database in a process of its own, so that its peak memory is its own.
bool RunApart(const char* name, const std::string& connection, int rows) {
  std::fflush(stdout);
  const pid_t child = fork();
  if (child < 0) return false;
  if (child == 0) {
    const bool ok = Run(name, connection, rows);
    std::fflush(stdout);
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  return waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const int rows = argc > 1 ? std::max(5, std::atoi(argv[1])) : 100000;
  const std::string only = argc > 2 ? argv[2] : "";
  bool ok = true;
  if (only.empty() || only == "sqlite") {
    const auto file = std::filesystem::temp_directory_path() / ("pw_bench_" + std::to_string(getpid()) + ".db");
    ok = RunApart("SQLite", SqliteConnectionString(file), rows);
    std::filesystem::remove(file);
    // The driver reads a whole result before the first row unless told to step.
    ok = RunApart("SQLite, not stepping", "Driver=SQLite3;Database=" + file.string(), rows) && ok;
    std::filesystem::remove(file);
  }
  if (only.empty() || only == "pg") {
    if (const char* pg = std::getenv("PW_PG_CONNECTION"); pg && *pg) {
      ok = RunApart("PostgreSQL", pg, rows) && ok;
      // psqlODBC keeps a whole result in memory unless told to fetch it in parts.
      ok = RunApart("PostgreSQL, fetched in parts", std::string(pg) + ";UseDeclareFetch=1;Fetch=1000", rows) && ok;
    } else {
      std::printf("PostgreSQL: skipped (PW_PG_CONNECTION is not set)\n");
    }
  }
  return ok ? 0 : 1;
}
