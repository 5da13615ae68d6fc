// The library's sources, sinks and header rules.
#include "engine/file_transfer.h"

#include <array>

#include "content/file_error.h"
#include "content/received_file.h"
#include "content/record_conversion.h"
#include "content/result_codes.h"
#include "content/send_plan.h"

namespace pw {

namespace {

namespace fs = std::filesystem;

/// A PC file sent byte for byte.
class RawFileSource final : public RecordSource {
 public:
  bool Open(const fs::path& path) {
    in_.open(path, std::ios::binary);
    path_ = path;
    return in_.is_open();
  }
  std::size_t ReadBlock(std::span<std::uint8_t, kBlockData> block) override {
    in_.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
    const auto n = static_cast<std::size_t>(in_.gcount());
    if (in_.bad()) throw FileError("read error: " + path_.string());
    std::fill(block.begin() + static_cast<std::ptrdiff_t>(n), block.end(), std::uint8_t{0});
    return n;
  }

 private:
  std::ifstream in_;
  fs::path path_;
};

/// Comma-separated text sent as fixed-length records.
class CsvFileSource final : public RecordSource {
 public:
  bool Open(const fs::path& path, const FieldLayout& layout, bool dblQuotFlg) {
    return reader_.Open(path, layout, dblQuotFlg);
  }
  std::size_t ReadBlock(std::span<std::uint8_t, kBlockData> block) override { return reader_.ReadCsvBlock(block); }

 private:
  CsvBlockReader reader_;
};

/// A raw kind: its bytes go to temporary file 2, which takes the place of
/// any file of the name at the end.
class RawFileSink final : public RecordSink {
 public:
  RawFileSink(const fs::path& tmp2, const fs::path& rxFolder, AnsiString name)
      : tmp2_(tmp2), rxFolder_(rxFolder), name_(std::move(name)) {}
  bool Open(std::int32_t fSize) { return ftmp2_.Open(tmp2_, fSize); }
  void Write(std::span<const std::uint8_t> data) override { ftmp2_.AddBlock(data); }
  std::int32_t Finish(AnsiString& storedName) override {
    ftmp2_.Close();
    storedName = name_;
    return StoreReceivedFile(tmp2_, rxFolder_, name_, StoreMode::Replace) ? result::NormalEnd : result::FileAccessError;
  }
  void Abandon() override {
    try {
      ftmp2_.Close();
    } catch (const FileError&) {
      // Nothing of it is kept.
    }
  }

 private:
  fs::path tmp2_, rxFolder_;
  AnsiString name_;
  RawReceiver ftmp2_;
};

/// A data file: its records become lines of temporary file 1, which replaces
/// the file of the name, or is appended to it, at the end.
class RecordFileSink final : public RecordSink {
 public:
  RecordFileSink(const TransferRequest& req, AnsiString name, Clock& clock)
      : req_(req), name_(std::move(name)), clock_(clock) {}
  bool Open(const FieldLayout& layout, TFileType kind) {
    return ftmp1_.Open(req_.Tmp1File, layout, kind, req_.LastSpFlg, req_.DblQuotFlg);
  }
  void Write(std::span<const std::uint8_t> data) override { ftmp1_.AddBlock(data); }
  std::int32_t Finish(AnsiString& storedName) override {
    ftmp1_.Close();
    storedName = ExpandDatePlaceholder(name_, clock_.Now());
    return StoreReceivedFile(req_.Tmp1File, req_.RxFolder, storedName,
                             req_.WriteMode ? StoreMode::Append : StoreMode::Replace)
               ? result::NormalEnd
               : result::FileAccessError;
  }
  void Abandon() override {
    try {
      ftmp1_.Close();
    } catch (const FileError&) {
      // Nothing of it is kept.
    }
  }

 private:
  const TransferRequest& req_;
  AnsiString name_;
  Clock& clock_;
  RecordReceiver ftmp1_;
};

/// A field file: its text is read at the end into the layout that the next
/// data file is taken by.
class FieldFileSink final : public RecordSink {
 public:
  explicit FieldFileSink(FieldLayout& layout) : layout_(layout) { collector_.Begin(); }
  void Write(std::span<const std::uint8_t> data) override { collector_.AddBlock(data); }
  std::int32_t Finish(AnsiString& storedName) override {
    storedName.clear();
    return collector_.Finish(layout_) ? result::NormalEnd : result::RcvFieldDataError;
  }
  void Abandon() override {}

 private:
  FieldLayout& layout_;
  FieldFileCollector collector_;
};

}  // namespace

std::unique_ptr<RecordSink> MakeFieldFileSink(FieldLayout& layout) { return std::make_unique<FieldFileSink>(layout); }

std::int32_t PrepareFileSend(const TransferRequest& request, std::string_view blankFields, SendJob& job,
                             AnsiString& caption) {
  SendPlan plan;
  const std::int32_t code = PlanSend(request.TxFName, request.BhtFName, blankFields, plan);
  job.Facts = {request.BhtFName, plan.FileType, plan.Sizes.iRecords, plan.Sizes.fSize};
  job.iEndBlock = plan.Sizes.iEndBlock;
  caption = plan.FNameCaption;
  if (code != result::NormalEnd) return code;

  if (plan.FileType == TFileType::CSV) {
    auto source = std::make_unique<CsvFileSource>();
    if (!source->Open(request.TxFName, plan.Layout, request.DblQuotFlg)) return result::FileAccessError;
    job.Source = std::move(source);
  } else {
    auto source = std::make_unique<RawFileSource>();
    if (!source->Open(request.TxFName)) return result::FileAccessError;
    job.Source = std::move(source);
  }
  if (IsRecordKind(plan.FileType)) job.FieldText = plan.FieldsDat;
  return result::NormalEnd;
}

HeaderDecision FileReceivePolicy::Decide(std::span<const std::uint8_t> headerData) {
  const ReceiveKind k = ChooseReceiveKind(headerData, req_.CsvFlg, req_.ChkRcvFName, chkFields_, received_);
  HeaderDecision d;
  d.Facts = {k.BhtFName, k.FileType, 0, k.fSize};
  d.FNameCaption = k.FNameCaption;
  const auto fail = [&d](std::int32_t code, EndScope scope) {
    d.Answer = HeaderAnswer::Fail;
    d.FailCode = code;
    d.FailScope = scope;
    d.Sink.reset();
    return std::move(d);
  };
  switch (k.Verdict) {
    case HeaderVerdict::Refuse:
      d.Answer = HeaderAnswer::Refuse;
      return d;
    case HeaderVerdict::EndOfBatch:
      d.Answer = HeaderAnswer::EndOfBatch;
      d.Facts.FileType = TFileType::NULL_;
      return d;
    case HeaderVerdict::WrongFile:
      return fail(result::WrongRcvFile, EndScope::Batch);
    case HeaderVerdict::OtherFields:
      return fail(result::FieldMismatch, EndScope::Batch);
    case HeaderVerdict::FileError:
      return fail(result::FileAccessError, EndScope::Transfer);
    case HeaderVerdict::Accepted:
      break;
  }
  d.Answer = HeaderAnswer::Accept;
  if (IsRawKind(k.FileType)) {
    auto sink = std::make_unique<RawFileSink>(req_.Tmp2File, req_.RxFolder, k.BhtFName);
    if (!sink->Open(k.fSize)) return fail(result::FileAccessError, EndScope::Transfer);
    d.Sink = std::move(sink);
  } else if (k.FileType == TFileType::FLD) {
    d.Sink = MakeFieldFileSink(received_);
  } else {
    d.Facts.iRecords = received_.iRecords;
    auto sink = std::make_unique<RecordFileSink>(req_, k.BhtFName, clock_);
    if (!sink->Open(received_, k.FileType)) return fail(result::FileAccessError, EndScope::Transfer);
    d.Sink = std::move(sink);
  }
  return d;
}

}  // namespace pw
