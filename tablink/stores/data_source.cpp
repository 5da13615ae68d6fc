// The choice of store for a data source, and the connection.
#include "tablink/stores/data_source.h"

#include <filesystem>

#include "common/ansi_string.h"
#include "tablink/definition_file.h"
#include "tablink/stores/odbc_store.h"
#ifdef _WIN32
#include "tablink/stores/ado_store.h"
#else
#include "tablink/stores/workbook_store.h"
#endif

namespace pw::tablink {

namespace {

std::filesystem::path PathOf(const std::string& utf8) {
  return std::filesystem::path(std::u8string(utf8.begin(), utf8.end()));
}

/// The lower-cased extension with its dot.
std::string Extension(std::string_view path) {
  const std::filesystem::path p = PathOf(std::string(path));
  const std::u8string e = p.extension().u8string();
  return LowerAscii(std::string(e.begin(), e.end()));
}

bool IsConnectionText(std::string_view s) {
  const AnsiString lower = LowerAscii(TrimB(s));
  return lower.starts_with("dsn=") || lower.starts_with("driver=");
}

}  // namespace

StoreKind ChooseStore(std::int32_t saveType, std::string_view dataSource) {
  if (IsConnectionText(dataSource)) return StoreKind::Odbc;
  const std::string ext = Extension(dataSource);
  if (ext == ".db" || ext == ".sqlite" || ext == ".sqlite3") return StoreKind::Odbc;
#ifdef _WIN32
  if (saveType == kSaveExcel && (ext == ".xls" || ext == ".xlsx")) return StoreKind::Ado;
  if (saveType == kSaveAccess && (ext == ".mdb" || ext == ".mde" || ext == ".accdb")) return StoreKind::Ado;
#else
  if (saveType == kSaveExcel && ext == ".xlsx") return StoreKind::Workbook;
#endif
  return StoreKind::None;
}

std::unique_ptr<TableConnection> ConnectDataSource(std::int32_t saveType, const std::string& dataSource,
                                                   std::string& why) {
  switch (ChooseStore(saveType, dataSource)) {
    case StoreKind::Odbc:
      return OpenOdbc(IsConnectionText(dataSource) ? dataSource : SqliteConnectionString(PathOf(dataSource)), why);
#ifdef _WIN32
    case StoreKind::Ado:
      return OpenAdo(saveType, dataSource, why);
#else
    case StoreKind::Workbook:
      return OpenWorkbook(PathOf(dataSource), why);
#endif
    default:
      why = "no store serves this data source here";
      return nullptr;
  }
}

}  // namespace pw::tablink
