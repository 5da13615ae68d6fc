// A table connection held in memory: named tables of text cells, one table
// object, transactions that restore a snapshot on rollback. Any single
// operation can be made to fail on request, and abilities refused, to test
// every failure path of the stores. The interface is kept strictly: a cell
// is set only on a row that was appended or is being edited, a row is posted
// only from those states, moves past the end fail; every misuse is recorded
// in Misuse() besides failing.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tablink/table.h"

namespace pw::test {

enum class TableOp {
  Close, Open, First, Next, RecordCount, Edit, Append, Post, Flush, Delete, GetField, SetField,
  BeginTrans, CommitTrans, RollbackTrans,
};

class MemoryConnection final : public tablink::TableConnection, private tablink::Table {
 public:
  struct Data {
    std::vector<std::string> columns;
    std::vector<std::vector<std::string>> rows;
  };

  void AddTable(const std::string& name, std::vector<std::string> columns,
                std::vector<std::vector<std::string>> rows = {}) {
    for (auto& r : rows) r.resize(columns.size());
    tables_[name] = Data{std::move(columns), std::move(rows)};
  }
  const std::vector<std::vector<std::string>>& Rows(const std::string& name) { return tables_.at(name).rows; }

  /// The \p nth call of \p op from now fails (once).
  void FailOn(TableOp op, int nth = 1) { failAt_[op] = calls_[op] + nth; }
  void Refuse(tablink::TableAbility ability) { refused_.insert(ability); }
  void SetReadOnly() { canModify_ = false; }
  /// RecordCount answers -1, as a store that cannot tell.
  void HideCount() { hideCount_ = true; }
  int Calls(TableOp op) const {
    const auto it = calls_.find(op);
    return it == calls_.end() ? 0 : it->second;
  }
  const std::vector<std::string>& Misuse() const { return misuse_; }

  // TableConnection
  bool BeginTrans() override {
    if (!Step(TableOp::BeginTrans) || !Require(!snapshot_, "nested BeginTrans")) return false;
    snapshot_ = true;
    saved_ = tables_;
    return true;
  }
  bool CommitTrans() override {
    if (!Step(TableOp::CommitTrans) || !Require(snapshot_, "CommitTrans outside a transaction")) return false;
    snapshot_ = false;
    saved_.clear();
    return true;
  }
  bool RollbackTrans() override {
    if (!Step(TableOp::RollbackTrans) || !Require(snapshot_, "RollbackTrans outside a transaction")) return false;
    snapshot_ = false;
    tables_ = std::move(saved_);
    saved_.clear();
    if (open_) pos_ = 0;
    return true;
  }
  bool InTransaction() const override { return snapshot_; }
  tablink::Table& GetTable() override { return *this; }
  bool ListTables(std::vector<AnsiString>& names) override {
    names.clear();
    for (const auto& t : tables_) names.push_back(t.first);
    return true;
  }
  bool ListColumns(std::string_view table, std::vector<AnsiString>& names) override {
    const auto it = tables_.find(std::string(table));
    if (it == tables_.end()) return false;
    names = it->second.columns;
    return true;
  }
  std::string LastError() const override { return error_; }

 private:
  enum class Mode { Browse, Edit, Insert };

  // Table
  bool Close() override {
    if (!Step(TableOp::Close)) return false;
    open_ = false;
    mode_ = Mode::Browse;
    return true;
  }
  void SetTableName(std::string_view name) override {
    Require(!open_, "SetTableName on an open table");
    name_ = name;
  }
  bool Open() override {
    if (!Step(TableOp::Open) || !Require(!open_, "Open on an open table")) return false;
    if (!tables_.count(name_)) return Fail("no table " + name_);
    open_ = true;
    pos_ = 0;
    mode_ = Mode::Browse;
    return true;
  }
  bool IsOpen() const override { return open_; }
  bool First() override {
    if (!Step(TableOp::First) || !Require(open_, "First on a closed table")) return false;
    pos_ = 0;
    return true;
  }
  bool Next() override {
    if (!Step(TableOp::Next) || !Require(open_ && !Eof(), "Next past the end")) return false;
    ++pos_;
    return true;
  }
  bool Eof() override { return !open_ || pos_ >= Current().rows.size(); }
  std::int64_t RecordCount() override {
    if (!Step(TableOp::RecordCount) || !Require(open_, "RecordCount on a closed table") || hideCount_) return -1;
    return static_cast<std::int64_t>(Current().rows.size());
  }
  std::int64_t RecNo() override { return Eof() ? 0 : static_cast<std::int64_t>(pos_) + 1; }
  bool Supports(tablink::TableAbility ability) override { return open_ && !refused_.count(ability); }
  bool CanModify() override { return open_ && canModify_; }
  bool Edit() override {
    if (!Step(TableOp::Edit) || !Require(open_, "Edit on a closed table")) return false;
    if (!canModify_) return Fail("read-only");
    mode_ = Mode::Edit;
    if (!Eof()) row_ = Current().rows[pos_];
    return true;
  }
  bool Append() override {
    if (!Step(TableOp::Append) || !Require(open_ && mode_ != Mode::Insert, "Append while closed or appending"))
      return false;
    if (!canModify_ || refused_.count(tablink::TableAbility::Add)) return Fail("rows cannot be added");
    mode_ = Mode::Insert;
    row_.assign(Current().columns.size(), std::string());
    return true;
  }
  bool Post() override {
    if (!Step(TableOp::Post) || !Require(open_ && mode_ != Mode::Browse, "Post without Append or Edit")) return false;
    if (mode_ == Mode::Insert) {
      Current().rows.push_back(row_);
      pos_ = Current().rows.size() - 1;
    } else if (!Eof()) {
      Current().rows[pos_] = row_;
    }
    mode_ = Mode::Browse;
    return true;
  }
  bool Flush() override { return Step(TableOp::Flush); }
  bool Delete() override {
    if (!Step(TableOp::Delete) || !Require(open_ && !Eof(), "Delete without a current row")) return false;
    if (!canModify_ || refused_.count(tablink::TableAbility::Delete)) return Fail("rows cannot be deleted");
    auto& rows = Current().rows;
    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(pos_));
    return true;
  }
  bool GetField(std::int32_t index, AnsiString& value) override {
    value.clear();
    if (!Step(TableOp::GetField) || !Require(open_ && !Eof(), "GetField without a current row")) return false;
    const auto& row = Current().rows[pos_];
    if (index < 0 || static_cast<std::size_t>(index) >= row.size()) return Fail("no column " + std::to_string(index));
    value = row[static_cast<std::size_t>(index)];
    return true;
  }
  bool SetField(std::int32_t index, std::string_view value) override {
    if (!Step(TableOp::SetField) ||
        !Require(open_ && (mode_ == Mode::Insert || (mode_ == Mode::Edit && !Eof())), "SetField outside a row"))
      return false;
    if (index < 0 || static_cast<std::size_t>(index) >= row_.size()) return Fail("no column " + std::to_string(index));
    row_[static_cast<std::size_t>(index)] = value;
    return true;
  }

  Data& Current() { return tables_.at(name_); }
  bool Fail(std::string why) {
    error_ = std::move(why);
    return false;
  }
  // Counts a call of \p op; false when it is the one asked to fail.
  bool Step(TableOp op) {
    const int n = ++calls_[op];
    const auto it = failAt_.find(op);
    if (it == failAt_.end() || it->second != n) return true;
    failAt_.erase(it);
    return Fail("failing on request");
  }
  bool Require(bool ok, const char* misuse) {
    if (ok) return true;
    misuse_.emplace_back(misuse);
    return Fail(misuse);
  }

  std::map<std::string, Data> tables_, saved_;
  bool snapshot_ = false;
  std::string name_;
  bool open_ = false;
  std::size_t pos_ = 0;
  Mode mode_ = Mode::Browse;
  std::vector<std::string> row_;  // the row being appended or edited
  std::map<TableOp, int> calls_, failAt_;
  std::set<tablink::TableAbility> refused_;
  bool canModify_ = true, hideCount_ = false;
  std::string error_;
  std::vector<std::string> misuse_;
};

}  // namespace pw::test
