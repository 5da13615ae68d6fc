// The ADO store: an ADO Connection and one Recordset on it, called through
// the classic ADO interfaces (_Connection 00000550, _Recordset 00000556),
// which every ADO since 2.x answers to and Wine's ADO is limited to.
//
// Apartments: the connection is made on the window's thread and then used
// by the server's worker thread. Every entry point of the store therefore
// joins its calling thread to the multithreaded apartment (once per thread,
// left when the thread ends), so both threads are in the same apartment and
// the interface pointers are valid on either. Where ADO is registered as
// apartment-threaded, COM puts the objects in its host apartment and hands
// out proxies, which work from any thread of the multithreaded apartment.
// A thread that is already in a single-threaded apartment stays there, and
// what it makes is then meant for it alone: the window's thread must not
// enter one before it connects.
#include "tablink/stores/ado_store.h"

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <adoint.h>  // the classic interfaces while _WIN32_WINNT is below 0x0602

#include <cstdio>
#include <utility>

#include "common/utf.h"
#include "platform/codepage.h"

#if defined(NTDDI_VERSION) && NTDDI_VERSION >= 0x06020000
#error "the classic ADO interfaces need _WIN32_WINNT below 0x0602"
#endif

namespace pw::tablink {

namespace {

constexpr GUID kConnectionClass = {0x00000514, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
constexpr GUID kRecordsetClass = {0x00000535, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
constexpr GUID kConnectionInterface = {0x00000550, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};
constexpr GUID kRecordsetInterface = {0x00000556, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x6D, 0x2E, 0xA4}};

constexpr std::string_view kAce = "Microsoft.ACE.OLEDB.12.0";
constexpr std::string_view kJet = "Microsoft.Jet.OLEDB.4.0";

/// COM for the calling thread, in the multithreaded apartment, from the
/// thread's first call into the store to its end.
class Apartment {
 public:
  Apartment() : hr_(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~Apartment() {
    if (SUCCEEDED(hr_)) CoUninitialize();
  }
  Apartment(const Apartment&) = delete;
  Apartment& operator=(const Apartment&) = delete;

 private:
  HRESULT hr_;
};

void JoinApartment() { thread_local Apartment apartment; }

/// An owned interface pointer.
template <class T>
class Ref {
 public:
  Ref() = default;
  Ref(Ref&& other) noexcept : p_(std::exchange(other.p_, nullptr)) {}
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  ~Ref() { Reset(); }
  void Reset() {
    if (p_) std::exchange(p_, nullptr)->Release();
  }
  T** Put() {
    Reset();
    return &p_;
  }
  T* Get() const { return p_; }
  T* operator->() const { return p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

class Bstr {
 public:
  Bstr() = default;
  explicit Bstr(std::u16string_view s)
      : b_(SysAllocStringLen(reinterpret_cast<const OLECHAR*>(s.data()), static_cast<UINT>(s.size()))) {}
  Bstr(const Bstr&) = delete;
  Bstr& operator=(const Bstr&) = delete;
  ~Bstr() { SysFreeString(b_); }
  BSTR Get() const { return b_; }
  BSTR* Put() {
    SysFreeString(std::exchange(b_, nullptr));
    return &b_;
  }
  /// Hands the string over, to a VARIANT that frees it.
  BSTR Release() { return std::exchange(b_, nullptr); }

 private:
  BSTR b_ = nullptr;
};

struct Variant : VARIANT {
  Variant() { VariantInit(this); }
  Variant(const Variant&) = delete;
  Variant& operator=(const Variant&) = delete;
  ~Variant() { VariantClear(this); }
};

std::u16string_view View(BSTR b) { return {reinterpret_cast<const char16_t*>(b), SysStringLen(b)}; }
std::string Utf8(BSTR b) { return Utf16ToUtf8(View(b)); }
AnsiString Ansi(BSTR b) { return ToAnsi(Utf8(b)); }
Bstr FromUtf8(std::string_view utf8) { return Bstr(Utf8ToUtf16(utf8)); }
Bstr FromAnsiText(std::string_view ansi) { return FromUtf8(FromAnsi(ansi)); }

/// An optional argument left out.
VARIANT Missing() {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_ERROR;
  v.scode = DISP_E_PARAMNOTFOUND;
  return v;
}

VARIANT Long(long value) {
  VARIANT v;
  VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

/// The lower-cased extension of the path's last part, with its dot; empty
/// when the name has none (a name that starts with its only dot has none).
std::string Extension(std::string_view path) {
  const std::size_t slash = path.find_last_of("\\/");
  const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const std::size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  return LowerAscii(name.substr(dot));
}

bool IsWorkbook(std::string_view path) {
  const std::string ext = Extension(path);
  return ext == ".xls" || ext == ".xlsx";
}

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
  return text;
}

/// Why a call failed with \p hr: the text ADO left for this thread, else
/// the provider's errors on \p connection, and the code.
std::string Reason(HRESULT hr, _ADOConnection* connection) {
  std::string text;
  Ref<IErrorInfo> info;
  if (GetErrorInfo(0, info.Put()) == S_OK && info) {
    Bstr description;
    if (SUCCEEDED(info->GetDescription(description.Put()))) text = Utf8(description.Get());
  }
  Ref<ADOErrors> errors;
  long count = 0;
  if (text.empty() && connection && SUCCEEDED(connection->get_Errors(errors.Put())) && errors &&
      SUCCEEDED(errors->get_Count(&count))) {
    for (long i = 0; i < count; ++i) {
      Ref<ADOError> error;
      Bstr description;
      if (FAILED(errors->get_Item(Long(i), error.Put())) || !error ||
          FAILED(error->get_Description(description.Put())))
        continue;
      if (!text.empty()) text += "; ";
      text += Utf8(description.Get());
    }
  }
  while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.pop_back();
  return text.empty() ? "HRESULT " + Hex(hr) : text + " (" + Hex(hr) + ")";
}

template <class T>
HRESULT Create(const GUID& cls, const GUID& iid, Ref<T>& object) {
  return CoCreateInstance(cls, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(object.Put()));
}

bool Opened(_ADORecordset* rs) {
  LONG state = adStateClosed;
  return SUCCEEDED(rs->get_State(&state)) && (state & adStateOpen) != 0;
}

HRESULT FieldAt(_ADORecordset* rs, VARIANT index, Ref<ADOField>& field) {
  Ref<ADOFields> fields;
  HRESULT hr = rs->get_Fields(fields.Put());
  if (SUCCEEDED(hr)) hr = fields->get_Item(index, field.Put());
  return hr;
}

/// The current row's cell as text; a cell without a value gives "".
HRESULT TextAt(_ADORecordset* rs, VARIANT index, BSTR* text) {
  *text = nullptr;
  Ref<ADOField> field;
  Variant value;
  HRESULT hr = FieldAt(rs, index, field);
  if (SUCCEEDED(hr)) hr = field->get_Value(&value);
  if (FAILED(hr) || value.vt == VT_NULL || value.vt == VT_EMPTY) return hr;
  if (value.vt != VT_BSTR) hr = VariantChangeType(&value, &value, VARIANT_ALPHABOOL, VT_BSTR);
  if (SUCCEEDED(hr)) *text = std::exchange(value.bstrVal, nullptr);
  return hr;
}

class AdoTable final : public Table {
 public:
  AdoTable(Ref<_ADORecordset> rs, _ADOConnection* connection) : rs_(std::move(rs)), connection_(connection) {}

  bool Close() override {
    JoinApartment();
    if (!Opened(rs_.Get())) return true;
    // A row appended or changed and not posted is dropped with the table.
    EditModeEnum mode = adEditNone;
    if (SUCCEEDED(rs_->get_EditMode(&mode)) && mode != adEditNone) rs_->CancelUpdate();
    return Check(rs_->Close());
  }
  void SetTableName(std::string_view ansiName) override { name_ = ansiName; }
  bool Open() override {
    JoinApartment();
    Variant source;
    source.vt = VT_BSTR;
    source.bstrVal = FromAnsiText(name_).Release();
    // The connection is the one the table was attached to.
    return Check(rs_->Open(source, Missing(), adOpenKeyset, adLockOptimistic, adCmdTableDirect));
  }
  bool IsOpen() const override {
    JoinApartment();
    return Opened(rs_.Get());
  }
  bool First() override {
    JoinApartment();
    VARIANT_BOOL bof = VARIANT_FALSE, eof = VARIANT_FALSE;
    if (!Check(rs_->get_BOF(&bof)) || !Check(rs_->get_EOF(&eof))) return false;
    if (bof && eof) return true;  // no rows: already at the end
    return Check(rs_->MoveFirst());
  }
  bool Next() override {
    JoinApartment();
    return Check(rs_->MoveNext());
  }
  bool Eof() override {
    JoinApartment();
    VARIANT_BOOL eof = VARIANT_TRUE;
    return !IsOpen() || !Check(rs_->get_EOF(&eof)) || eof != VARIANT_FALSE;
  }
  std::int64_t RecordCount() override {
    JoinApartment();
    ADO_LONGPTR count = -1;
    if (!Check(rs_->get_RecordCount(&count))) return -1;
    return count < 0 ? -1 : static_cast<std::int64_t>(count);
  }
  std::int64_t RecNo() override {
    JoinApartment();
    PositionEnum_Param position = adPosUnknown;
    if (FAILED(rs_->get_AbsolutePosition(&position)) || position < 1) return 0;
    return static_cast<std::int64_t>(position);
  }
  bool Supports(TableAbility ability) override {
    JoinApartment();
    const CursorOptionEnum option = ability == TableAbility::Add      ? adAddNew
                                    : ability == TableAbility::Update ? adUpdate
                                                                      : adDelete;
    VARIANT_BOOL yes = VARIANT_FALSE;
    return IsOpen() && Check(rs_->Supports(option, &yes)) && yes != VARIANT_FALSE;
  }
  bool CanModify() override {
    JoinApartment();
    LockTypeEnum lock = adLockReadOnly;
    return IsOpen() && Check(rs_->get_LockType(&lock)) && lock != adLockReadOnly;
  }
  // ADO edits the current row as soon as a cell is set: there is no mode to
  // enter, only an open table to ask.
  bool Edit() override {
    if (IsOpen()) return true;
    error_ = "the table is not open";
    return false;
  }
  bool Append() override {
    JoinApartment();
    return Check(rs_->AddNew(Missing(), Missing()));
  }
  bool Post() override {
    JoinApartment();
    return Check(rs_->Update(Missing(), Missing()));
  }
  // A deleted row stays current until the cursor moves on.
  bool Delete() override {
    JoinApartment();
    return Check(rs_->Delete(adAffectCurrent)) && Check(rs_->MoveNext());
  }
  bool GetField(std::int32_t index, AnsiString& value) override {
    JoinApartment();
    value.clear();
    Bstr text;
    if (!Check(TextAt(rs_.Get(), Long(index), text.Put()))) return false;
    value = Ansi(text.Get());
    return true;
  }
  // An empty text stores no value (NULL), which every column type takes
  // where a zero-length text or a number would not.
  bool SetField(std::int32_t index, std::string_view value) override {
    JoinApartment();
    Variant v;
    if (value.empty()) {
      v.vt = VT_NULL;
    } else {
      v.vt = VT_BSTR;
      v.bstrVal = FromAnsiText(value).Release();
    }
    Ref<ADOField> field;
    return Check(FieldAt(rs_.Get(), Long(index), field)) && Check(field->put_Value(v));
  }
  std::string LastError() const override { return error_; }

 private:
  bool Check(HRESULT hr) {
    if (SUCCEEDED(hr)) return true;
    error_ = Reason(hr, connection_);
    return false;
  }

  Ref<_ADORecordset> rs_;
  _ADOConnection* connection_;
  AnsiString name_;
  std::string error_;
};

class AdoConnection final : public TableConnection {
 public:
  AdoConnection(Ref<_ADOConnection> connection, Ref<_ADORecordset> rs)
      : connection_(std::move(connection)), table_(std::move(rs), connection_.Get()) {}
  ~AdoConnection() override {
    JoinApartment();
    table_.Close();
    if (inTransaction_) connection_->RollbackTrans();
    connection_->Close();
  }
  AdoConnection(const AdoConnection&) = delete;
  AdoConnection& operator=(const AdoConnection&) = delete;

  bool BeginTrans() override {
    JoinApartment();
    long level = 0;
    if (!Check(connection_->BeginTrans(&level))) return false;
    inTransaction_ = true;
    return true;
  }
  bool CommitTrans() override {
    JoinApartment();
    if (!Check(connection_->CommitTrans())) return false;
    inTransaction_ = false;
    return true;
  }
  bool RollbackTrans() override {
    JoinApartment();
    if (!Check(connection_->RollbackTrans())) return false;
    inTransaction_ = false;
    return true;
  }
  bool InTransaction() const override { return inTransaction_; }
  Table& GetTable() override { return table_; }

  bool ListTables(std::vector<AnsiString>& names) override {
    JoinApartment();
    names.clear();
    Ref<_ADORecordset> rs;
    if (!Check(connection_->OpenSchema(adSchemaTables, Missing(), Missing(), rs.Put()))) return false;
    Variant nameColumn, typeColumn;
    nameColumn.vt = typeColumn.vt = VT_BSTR;
    nameColumn.bstrVal = SysAllocString(L"TABLE_NAME");
    typeColumn.bstrVal = SysAllocString(L"TABLE_TYPE");
    VARIANT_BOOL eof = VARIANT_FALSE;
    while (Check(rs->get_EOF(&eof)) && !eof) {
      Bstr name, type;
      if (!Check(TextAt(rs.Get(), nameColumn, name.Put())) || !Check(TextAt(rs.Get(), typeColumn, type.Put()))) break;
      // Access's own tables are "SYSTEM TABLE" and "ACCESS TABLE".
      const std::string kind = Utf8(type.Get());
      if (!kind.starts_with("SYSTEM") && kind != "ACCESS TABLE") names.push_back(Ansi(name.Get()));
      if (!Check(rs->MoveNext())) break;
    }
    const bool complete = eof != VARIANT_FALSE;
    rs->Close();
    return complete;
  }

  // The columns in the order of the table's fields: the order SetField and
  // GetField count.
  bool ListColumns(std::string_view table, std::vector<AnsiString>& names) override {
    JoinApartment();
    names.clear();
    Ref<_ADORecordset> rs;
    if (!Check(Create(kRecordsetClass, kRecordsetInterface, rs)) ||
        !Check(rs->putref_ActiveConnection(connection_.Get())))
      return false;
    Variant source;
    source.vt = VT_BSTR;
    source.bstrVal = FromAnsiText(table).Release();
    if (!Check(rs->Open(source, Missing(), adOpenForwardOnly, adLockReadOnly, adCmdTableDirect))) return false;
    Ref<ADOFields> fields;
    long count = 0;
    bool ok = Check(rs->get_Fields(fields.Put())) && Check(fields->get_Count(&count));
    for (long i = 0; ok && i < count; ++i) {
      Ref<ADOField> field;
      Bstr name;
      ok = Check(fields->get_Item(Long(i), field.Put())) && Check(field->get_Name(name.Put()));
      if (ok) names.push_back(Ansi(name.Get()));
    }
    rs->Close();
    return ok;
  }

  std::string LastError() const override { return error_; }

 private:
  bool Check(HRESULT hr) {
    if (SUCCEEDED(hr)) return true;
    error_ = Reason(hr, connection_.Get());
    return false;
  }

  Ref<_ADOConnection> connection_;
  AdoTable table_;
  bool inTransaction_ = false;
  std::string error_;
};

/// Asks the provider never to prompt for a login, where it lists the
/// property (ADO's own default is not to prompt either).
void NoPrompt(_ADOConnection* connection) {
  Ref<ADOProperties> properties;
  Ref<ADOProperty> prompt;
  Variant name;
  name.vt = VT_BSTR;
  name.bstrVal = SysAllocString(L"Prompt");
  if (SUCCEEDED(connection->get_Properties(properties.Put())) && properties &&
      SUCCEEDED(properties->get_Item(name, prompt.Put())) && prompt)
    prompt->put_Value(Long(adPromptNever));
}

}  // namespace

std::string_view AdoProvider(std::string_view path) {
  const std::string ext = Extension(path);
  return ext == ".accdb" || ext == ".xlsx" ? kAce : kJet;
}

std::string AdoConnectionString(std::string_view path) {
  std::string text = "Data Source=" + std::string(path);
  if (IsWorkbook(path)) return text + ";Extended Properties=Excel 8.0" + ";Persist Security Info=False";
  return text + ";Persist Security Info=False;User ID=Admin";
}

int AdoObjectsAvailable() {
  JoinApartment();
  Ref<_ADOConnection> connection;
  if (FAILED(Create(kConnectionClass, kConnectionInterface, connection))) return 1;
  Ref<_ADORecordset> rs;
  if (FAILED(Create(kRecordsetClass, kRecordsetInterface, rs))) return 2;
  return 0;
}

// The kind of data source follows the path's extension, as the connection
// text does; \p saveType has chosen this store already.
std::unique_ptr<TableConnection> OpenAdo(std::int32_t, const std::string& path, std::string& why) {
  JoinApartment();
  why.clear();
  Ref<_ADOConnection> connection;
  Ref<_ADORecordset> rs;
  const auto step = [&](HRESULT hr, std::string_view what) {
    if (SUCCEEDED(hr)) return true;
    why = std::string(what) + ": " + Reason(hr, connection.Get());
    return false;
  };
  if (!step(Create(kConnectionClass, kConnectionInterface, connection), "no ADO connection object") ||
      !step(Create(kRecordsetClass, kRecordsetInterface, rs), "no ADO recordset object"))
    return nullptr;

  // A setting this ADO does not have (Wine's lacks the time-outs) stays at
  // its default; the open decides.
  const auto setting = [&](HRESULT hr, std::string_view what) { return hr == E_NOTIMPL || step(hr, what); };
  // The connection stays open until the store is destroyed.
  const bool access = !IsWorkbook(path);
  if (!setting(connection->put_CommandTimeout(30), "command time-out") ||
      !setting(connection->put_ConnectionTimeout(15), "connection time-out") ||
      (access && !setting(connection->put_CursorLocation(adUseServer), "cursor location")) ||
      !step(connection->put_Provider(FromUtf8(AdoProvider(path)).Get()), "provider"))
    return nullptr;
  NoPrompt(connection.Get());
  const Bstr text = FromUtf8(AdoConnectionString(path));
  if (!step(connection->Open(text.Get(), nullptr, nullptr, adConnectUnspecified), "the data source cannot be opened"))
    return nullptr;
  if ((access && !setting(rs->put_CursorLocation(adUseServer), "table cursor location")) ||
      !step(rs->putref_ActiveConnection(connection.Get()), "the table cannot be attached")) {
    connection->Close();
    return nullptr;
  }
  return std::make_unique<AdoConnection>(std::move(connection), std::move(rs));
}

}  // namespace pw::tablink
