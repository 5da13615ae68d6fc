// Received data cut into records, for the text and the table stores.
#pragma once

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "tablink/stores.h"

namespace pw::tablink {

/// True when \p layout can cut records: a unit from iRecSize to iRecSize + 2
/// bytes and no larger than a field file may announce, every field inside
/// the record.
inline bool IsUsableReceiveLayout(const StoreLayout& layout) {
  if (layout.iRecSize <= 0 || layout.iRecSize0 < layout.iRecSize || layout.iRecSize0 > layout.iRecSize + 2 ||
      layout.iRecSize0 > kMaxRecordUnit || layout.iRecords < 0)
    return false;
  return std::all_of(layout.Fields.begin(), layout.Fields.end(), [&](const StoreField& f) {
    return f.Start >= 0 && f.Width > 0 && f.Width <= layout.iRecSize - f.Start;
  });
}

/// The received blocks joined and cut into units of iRecSize0 bytes; each
/// record is the first iRecSize bytes of its unit. Records beyond the count
/// announced, and the fill of the last block, are dropped. Holds less than
/// one unit between calls.
class RecordUnits {
 public:
  explicit RecordUnits(const StoreLayout& layout)
      : unit_(static_cast<std::size_t>(layout.iRecSize0)),
        size_(static_cast<std::size_t>(layout.iRecSize)),
        left_(layout.iRecords) {
    pending_.reserve(unit_);
  }

  /// Calls \p onRecord(std::string_view) for each record completed by \p data.
  template <class OnRecord>
  void Feed(std::span<const std::uint8_t> data, OnRecord&& onRecord) {
    while (!data.empty() && left_ > 0) {
      if (pending_.empty() && data.size() >= unit_) {
        // A whole unit in this block: no copy.
        const std::string_view record(reinterpret_cast<const char*>(data.data()), size_);
        data = data.subspan(unit_);
        --left_;
        onRecord(record);
        continue;
      }
      const std::size_t take = std::min(unit_ - pending_.size(), data.size());
      pending_.append(reinterpret_cast<const char*>(data.data()), take);
      data = data.subspan(take);
      if (pending_.size() == unit_) {
        --left_;
        onRecord(std::string_view(pending_).substr(0, size_));
        pending_.clear();
      }
    }
  }

 private:
  std::size_t unit_, size_;
  std::int64_t left_;
  std::string pending_;  // the start of a unit that the next block completes
};

}  // namespace pw::tablink
