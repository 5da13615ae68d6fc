// The table store: received records become rows of a sheet or table inside
// one transaction, and the rows of a sheet or table go to the terminal as
// records.
#include <cstring>
#include <limits>

#include "content/result_codes.h"
#include "platform/codepage.h"
#include "tablink/result_texts.h"
#include "tablink/store_records.h"
#include "tablink/stores.h"

namespace pw::tablink {

namespace {

std::string Reason(std::string_view what, const Table& table) {
  std::string text(what);
  const std::string why = table.LastError();
  if (!why.empty()) text += ": " + why;
  return text;
}

/// Received records as rows, each appended, filled and posted.
class TableStoreSink final : public RecordSink {
 public:
  TableStoreSink(TableConnection& connection, const Definition& def, const StoreLayout& layout, const Alerts& alerts)
      : connection_(connection),
        table_(connection.GetTable()),
        saveName_(def.SaveName),
        fields_(layout.Fields),
        units_(layout),
        keepBlanks_(def.KeepsTrailingBlanks()),
        alerts_(alerts) {}

  void Write(std::span<const std::uint8_t> data) override {
    units_.Feed(data, [this](std::string_view record) { AddRow(record); });
  }

  std::int32_t Finish(AnsiString& storedName) override {
    storedName = saveName_;
    // Rows a store kept back that cannot be stored are refused rows like a
    // failing post's: the transfer ends and the server goes on.
    if (!table_.Flush()) {
      const std::string why = Reason("a row cannot be stored", table_);
      ReleaseTable(connection_);
      throw StoreError(code::PostFailed, why);
    }
    if (!table_.Close()) {
      ReleaseTable(connection_);
      alerts_.Error(FromAnsi(saveName_), "テーブルをクローズできません");
      return code::CloseFailed;
    }
    if (!connection_.CommitTrans()) {
      ReleaseTable(connection_);
      alerts_.Error(FromAnsi(saveName_), "テーブルを更新できません");
      return code::CommitFailed;
    }
    return result::NormalEnd;
  }

  void Abandon() override { ReleaseTable(connection_); }

 private:
  void AddRow(std::string_view record) {
    if (!table_.Append()) throw StoreError(code::AppendFailed, Reason("a row cannot be added", table_));
    for (const StoreField& f : fields_) {
      if (f.col <= 0) continue;  // an ignored field
      std::string_view v = record.substr(static_cast<std::size_t>(f.Start), static_cast<std::size_t>(f.Width));
      if (!keepBlanks_)
        while (!v.empty() && static_cast<unsigned char>(v.back()) <= 0x20) v.remove_suffix(1);
      if (!table_.SetField(f.col - 1, v))
        throw StoreError(code::SetFieldFailed, Reason("column " + std::to_string(f.col) + " cannot be set", table_));
    }
    if (!table_.Post()) throw StoreError(code::PostFailed, Reason("a row cannot be stored", table_));
  }

  TableConnection& connection_;
  Table& table_;
  const AnsiString saveName_;
  const std::vector<StoreField> fields_;
  RecordUnits units_;
  const bool keepBlanks_;
  const Alerts& alerts_;
};

/// Rows from the current one on, each a record of its cells padded with
/// blanks and cut to the widths, ended by CR LF.
class TableRowSource final : public RecordSource {
 public:
  TableRowSource(Table& table, const StoreLayout& layout, std::int64_t records)
      : table_(table), fields_(layout.Fields), left_(records) {
    out_.reserve(kBlockData + static_cast<std::size_t>(layout.iRecSize0));
  }

  std::size_t ReadBlock(std::span<std::uint8_t, kBlockData> block) override {
    if (head_ > 0) {
      out_.erase(0, head_);
      head_ = 0;
    }
    while (out_.size() < kBlockData && left_ > 0 && !table_.Eof()) {
      AddRow();
      --left_;
      if (!table_.Next()) throw StoreError(code::MoveFailed, Reason("the next row cannot be reached", table_));
    }
    const std::size_t n = std::min(out_.size(), kBlockData);
    std::memcpy(block.data(), out_.data(), n);
    std::memset(block.data() + n, 0, kBlockData - n);
    head_ = n;
    return n;
  }

 private:
  void AddRow() {
    for (std::size_t i = 0; i < fields_.size(); ++i) {
      const StoreField& f = fields_[i];
      const auto which = [&] { return "field " + std::to_string(i + 1) + " of row " + std::to_string(table_.RecNo()); };
      if (f.col <= 0) throw StoreError(code::TableDataError, which() + " has no column");
      if (!table_.GetField(f.col - 1, cell_))
        throw StoreError(code::TableDataError, Reason(which() + " cannot be read", table_));
      if (cell_.empty()) throw StoreError(code::TableDataError, which() + " is empty");
      out_ += FitB(cell_, static_cast<std::size_t>(f.Width));
    }
    out_ += "\r\n";
  }

  Table& table_;
  const std::vector<StoreField> fields_;
  std::int64_t left_;  // rows still to send
  AnsiString cell_;
  std::string out_;  // records not yet handed out: out_[head_, size)
  std::size_t head_ = 0;
};

// The rows of the open table when it cannot tell their count: counted by
// walking them, then back to the first. -1 if a move fails.
std::int64_t CountRows(Table& table) {
  std::int64_t n = 0;
  if (!table.First()) return -1;
  while (!table.Eof()) {
    if (!table.Next()) return -1;
    ++n;
  }
  return table.First() ? n : -1;
}

}  // namespace

void ReleaseTable(TableConnection& connection) {
  Table& table = connection.GetTable();
  if (table.IsOpen()) table.Close();
  if (connection.InTransaction()) connection.RollbackTrans();
}

std::int32_t OpenTableReceive(TableConnection& connection, const StoreSettings& settings, const Definition& def,
                              const StoreLayout& layout, const Alerts& alerts, std::unique_ptr<RecordSink>& sink) {
  sink.reset();
  if (!IsUsableReceiveLayout(layout)) return result::RcvFieldDataError;
  const auto fail = [&connection](std::int32_t failCode) {
    ReleaseTable(connection);
    return failCode;
  };
  Table& table = connection.GetTable();
  ReleaseTable(connection);
  // A transaction that cannot begin leaves the table as closed as one that
  // cannot open.
  if (!connection.BeginTrans()) return fail(code::TableOpen);
  table.SetTableName(def.SaveName);
  if (!table.Open()) return fail(code::TableOpen);
  if (!table.Supports(TableAbility::Add)) return fail(code::CannotAdd);
  if (!table.Supports(TableAbility::Update)) return fail(code::CannotUpdate);
  if (!table.Supports(TableAbility::Delete)) return fail(code::CannotDelete);
  if (!table.CanModify()) return fail(code::CannotEdit);
  if (!settings.Append) {
    // Emptied inside the transaction: an abandoned transfer gets the rows back.
    if (!table.DeleteAll()) return fail(code::ClearFailed);
  }
  if (!table.Edit()) return fail(code::CannotEdit);
  sink = std::make_unique<TableStoreSink>(connection, def, layout, alerts);
  return result::NormalEnd;
}

std::int32_t PrepareTableSend(TableConnection& connection, const Definition& def, std::string_view bhtName,
                              SendJob& job) {
  job.Facts = {AnsiString(bhtName), TFileType::DATA, 0, 0};
  job.iEndBlock = 0;
  job.FieldText.clear();
  job.Source.reset();

  if (IsRefusedSendName(bhtName)) return code::RefusedSend;
  StoreLayout layout;
  if (!SendLayout(def.FieldWidths, def, true, layout)) return result::FieldFileError;

  const auto fail = [&connection](std::int32_t failCode) {
    ReleaseTable(connection);
    return failCode;
  };
  Table& table = connection.GetTable();
  ReleaseTable(connection);
  table.SetTableName(def.SaveName);
  if (!table.Open()) return fail(code::TableOpen);
  if (!table.First()) return fail(code::MoveFailed);
  std::int64_t records = table.RecordCount();
  if (records < 0) records = CountRows(table);
  if (records < 0) return fail(code::MoveFailed);

  // The header block announces the size in 32 bits.
  constexpr std::int64_t kMaxSize = std::numeric_limits<std::int32_t>::max();
  if (records > kMaxSize / layout.iRecSize0) return fail(result::SendDataError);
  const std::int64_t size = records * layout.iRecSize0;
  job.Facts.iRecords = static_cast<std::int32_t>(records);
  job.Facts.fSize = static_cast<std::int32_t>(size);
  job.iEndBlock = static_cast<std::int32_t>(size / kBlockData + (size % kBlockData != 0 ? 1 : 0));
  if (job.iEndBlock == 0) return fail(result::SendDataError);

  // The field file tells the widths of the fields sent, which are fewer than
  // the definition's widths when its field count is smaller.
  AnsiString widths;
  for (const StoreField& f : layout.Fields) {
    if (!widths.empty()) widths += ' ';
    widths += std::to_string(f.Width);
  }
  job.FieldText =
      FieldHeader(bhtName, job.Facts.fSize, job.Facts.iRecords, static_cast<std::int32_t>(layout.Fields.size()), widths);
  job.Source = std::make_unique<TableRowSource>(table, layout, records);
  return result::NormalEnd;
}

}  // namespace pw::tablink
