// The library's ends of a transfer: a send takes its data from a PC file
// (raw bytes, or comma-separated text turned into records), and a receive
// stores every file in the receive folder through the two temporary files:
// raw bytes through the second, data lines through the first. A data file is
// taken only behind its own field file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>

#include "common/ansi_string.h"
#include "content/field_file.h"
#include "engine/receive_policy.h"
#include "engine/record_stream.h"
#include "engine/transfer_request.h"
#include "engine/ym_sender.h"
#include "platform/clock.h"

namespace pw {

/// The content steps of preparing a send of \p request's file: its kind, its
/// size, the field file ahead of a data file, and the opened source. Returns
/// 0, or 6, 7, 9 or 12. \p job holds what is known even when it fails (the
/// log tells of it), and \p caption the label for the kind (ANSI).
std::int32_t PrepareFileSend(const TransferRequest& request, std::string_view blankFields, SendJob& job,
                             AnsiString& caption);

/// A sink for a field file: its text is read at the end into \p layout (the
/// layout the next data file is taken by); an invalid one finishes with 15.
std::unique_ptr<RecordSink> MakeFieldFileSink(FieldLayout& layout);

/// The receive side of the library.
class FileReceivePolicy final : public ReceivePolicy {
 public:
  /// \p chkFields is the expected field list with blanks between the widths.
  FileReceivePolicy(const TransferRequest& request, AnsiString chkFields, Clock& clock)
      : req_(request), chkFields_(std::move(chkFields)), clock_(clock) {}

  HeaderDecision Decide(std::span<const std::uint8_t> headerData) override;

  /// Forgets the last field file.
  void Clear() { received_.Clear(); }
  /// The field list of the last field file received, with commas.
  AnsiString ReceivedFieldList() const { return BlanksToCommas(received_.FieldsDat); }

 private:
  const TransferRequest& req_;
  const AnsiString chkFields_;
  Clock& clock_;
  FieldLayout received_;  // what the last field file said
};

}  // namespace pw
