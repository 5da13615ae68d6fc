// Record conversion: text lines to record blocks (send) and record blocks to
// text lines (receive).
#include "content/record_conversion.h"

#include <algorithm>
#include <cstring>

#include "content/file_error.h"

namespace pw {

namespace {

constexpr std::size_t kOutFlush = 64 * 1024;  // converted lines written at a time

}  // namespace

bool CountTextLines(const std::filesystem::path& path, std::int64_t& lines) {
  lines = 0;
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::vector<char> buf(kCsvChunk);
  char last = '\n';
  while (in) {
    in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
    const auto n = static_cast<std::size_t>(in.gcount());
    if (n == 0) break;
    lines += std::count(buf.data(), buf.data() + n, '\n');
    last = buf[n - 1];
  }
  if (in.bad()) return false;
  if (last != '\n') ++lines;  // a last line without a line end
  return true;
}

// ---------------------------------------------------------------------------
// Send: CsvBlockReader
//
// Lines are converted as their bytes stream by, so neither a long line nor a
// long record is ever held twice. A line's record is put into sBuf_ as blanks
// followed by CR LF when its first byte arrives, and each value's bytes are
// written into its field as they come; bytes beyond a field's width, and
// values beyond the last field, are skipped. A record is handed out only once
// its line has ended (or the file has), never while the rest of its line may
// still change it, even when a read chunk ends inside the line. Between
// blocks, sBuf_ holds less than one block plus one record.

bool CsvBlockReader::Open(const std::filesystem::path& txFName, const FieldLayout& layout, bool dblQuotFlg,
                          std::size_t chunkSize) {
  if (fdat_.is_open()) fdat_.close();
  fdat_.clear();
  fdat_.open(txFName, std::ios::binary);
  starts_.clear();
  widths_.clear();
  std::int32_t length = 0;
  for (std::int32_t i = 0; i < layout.iNFields; ++i) {
    starts_.push_back(length);
    widths_.push_back(layout.Field[i].Width);
    length += layout.Field[i].Width;
  }
  blankRecord_.assign(static_cast<std::size_t>(length), ' ');
  blankRecord_ += "\r\n";
  dblQuot_ = dblQuotFlg;
  chunk_.resize(std::max<std::size_t>(chunkSize, 1));
  chunkPos_ = chunkLen_ = 0;
  sBuf_.clear();
  sBuf_.reserve(kBlockData + blankRecord_.size());
  head_ = done_ = 0;
  line_ = Line{};
  eof_ = !fdat_.is_open();
  return fdat_.is_open();
}

void CsvBlockReader::Fill() {
  // The state lives in locals while bytes are converted, so that the writes
  // into the record do not force it back to memory at every byte.
  const auto nFields = static_cast<std::int32_t>(widths_.size());
  const std::int32_t* const starts = starts_.data();
  const std::int32_t* const widths = widths_.data();
  const bool dblQuot = dblQuot_;
  Line s = line_;
  // A line in progress goes on in its record, wherever sBuf_ holds it now.
  if (s.started && s.field < nFields) s.slot = sBuf_.data() + s.record + starts[s.field];

  const auto selectField = [&] {
    if (s.field < nFields) {
      s.slot = sBuf_.data() + s.record + starts[s.field];
      s.width = static_cast<std::uint64_t>(widths[s.field]);
    }
    s.len = 0;
    s.quoted = false;
  };
  const auto startLine = [&] {
    // Only what has not been handed out is kept (less than one block), so
    // sBuf_ never grows beyond its reserve.
    if (head_ > 0) {
      sBuf_.erase(0, head_);
      done_ -= head_;
      head_ = 0;
    }
    s.record = sBuf_.size();
    sBuf_ += blankRecord_;
    s.started = true;
    s.field = 0;
    selectField();
  };
  const auto closeValue = [&] {
    // A value that began with a quote loses its closing quote too.
    if (s.quoted && s.len >= 2 && s.last == '"' && s.len - 2 < s.width) s.slot[s.len - 2] = ' ';
  };
  const auto put = [&](char c) {
    if (s.field >= nFields) return;  // values beyond the last field
    if (c == ',') {
      closeValue();
      ++s.field;
      selectField();
      return;
    }
    if (s.len == 0 && dblQuot && c == '"') {
      s.quoted = true;
    } else {
      const std::uint64_t i = s.quoted ? s.len - 1 : s.len;
      if (i < s.width) s.slot[i] = c;
    }
    ++s.len;
    s.last = c;
  };
  const auto endLine = [&] {
    if (!s.started) startLine();
    if (s.field < nFields) closeValue();  // fields after the last value stay blank
    s.started = false;
    s.pendingCr = false;
    done_ = sBuf_.size();
  };

  while (Available() < kBlockData && !eof_) {
    if (chunkPos_ == chunkLen_) {
      fdat_.read(chunk_.data(), static_cast<std::streamsize>(chunk_.size()));
      if (fdat_.bad()) throw FileError("the file to send cannot be read");
      chunkLen_ = static_cast<std::size_t>(fdat_.gcount());
      chunkPos_ = 0;
      if (chunkLen_ == 0) {
        // The end of the file: a CR just before it is data, and a last line
        // without a line end is a line.
        if (s.pendingCr) put('\r');
        if (s.started) endLine();
        eof_ = true;
        break;
      }
    }
    // The bytes of this chunk, until a line ends with a block's worth ready.
    const char* const chunk = chunk_.data();
    std::size_t pos = chunkPos_;
    const std::size_t len = chunkLen_;
    while (pos < len) {
      const char c = chunk[pos++];
      if (c == '\n') {
        endLine();  // a CR just before the LF belongs to the line end
        if (Available() >= kBlockData) break;
        continue;
      }
      if (!s.started) startLine();
      if (s.pendingCr) {
        s.pendingCr = false;
        put('\r');  // a CR not followed by LF is data
      }
      if (c == '\r')
        s.pendingCr = true;
      else
        put(c);
    }
    chunkPos_ = pos;
  }
  line_ = s;
}

std::size_t CsvBlockReader::ReadCsvBlock(std::span<std::uint8_t, kBlockData> block) {
  Fill();
  const std::size_t n = std::min(Available(), kBlockData);
  std::memcpy(block.data(), sBuf_.data() + head_, n);
  std::memset(block.data() + n, 0, kBlockData - n);
  head_ += n;
  if (head_ == sBuf_.size()) {  // no line in progress
    sBuf_.clear();
    head_ = done_ = 0;
  }
  return n;
}

// ---------------------------------------------------------------------------
// Receive: records to lines

namespace {

void AppendRecordLine(std::string& out, std::string_view record, const FieldLayout& layout, TFileType kind,
                      bool lastSpFlg, bool dblQuotFlg) {
  if (kind != TFileType::CSV) {
    out += record;
    return;
  }
  for (std::int32_t i = 0; i < layout.iNFields; ++i) {
    if (i > 0) out += ',';
    std::string_view v = record.substr(static_cast<std::size_t>(layout.Field[i].Start),
                                       static_cast<std::size_t>(layout.Field[i].Width));
    if (!lastSpFlg)
      while (!v.empty() && static_cast<unsigned char>(v.back()) <= 0x20) v.remove_suffix(1);
    if (dblQuotFlg) out += '"';
    out += v;
    if (dblQuotFlg) out += '"';
  }
}

}  // namespace

AnsiString RecordToLine(std::string_view record, const FieldLayout& layout, TFileType kind, bool lastSpFlg,
                        bool dblQuotFlg) {
  AnsiString line;
  AppendRecordLine(line, record, layout, kind, lastSpFlg, dblQuotFlg);
  return line;
}

bool RecordReceiver::Open(const std::filesystem::path& tmp1, const FieldLayout& layout, TFileType kind,
                          bool lastSpFlg, bool dblQuotFlg) {
  if (ftmp1_.is_open()) ftmp1_.close();
  ftmp1_.clear();
  ftmp1_.open(tmp1, std::ios::binary | std::ios::trunc);
  layout_ = layout;
  kind_ = kind;
  lastSp_ = lastSpFlg;
  dblQuot_ = dblQuotFlg;
  sBuf_.clear();
  out_.clear();
  tmpRecordNo_ = 0;
  return ftmp1_.is_open();
}

void RecordReceiver::AddBlock(std::span<const std::uint8_t> data) {
  // A unit that the field file could not have given takes no records.
  const std::int32_t unit = layout_.iRecSize0;
  if (unit <= 0 || unit > kMaxRecordUnit || layout_.iRecSize > unit) return;
  if (tmpRecordNo_ >= layout_.iRecords) return;
  sBuf_.append(reinterpret_cast<const char*>(data.data()), data.size());
  std::size_t pos = 0;
  const auto u = static_cast<std::size_t>(unit);
  while (sBuf_.size() - pos >= u && tmpRecordNo_ < layout_.iRecords) {
    AppendRecordLine(out_, std::string_view(sBuf_).substr(pos, static_cast<std::size_t>(layout_.iRecSize)), layout_,
                     kind_, lastSp_, dblQuot_);
    out_ += "\r\n";
    pos += u;
    ++tmpRecordNo_;
  }
  if (tmpRecordNo_ >= layout_.iRecords)
    sBuf_.clear();  // the fill after the last record
  else
    sBuf_.erase(0, pos);
  if (out_.size() >= kOutFlush) Flush();
}

void RecordReceiver::Flush() {
  if (out_.empty()) return;
  if (!ftmp1_.write(out_.data(), static_cast<std::streamsize>(out_.size())))
    throw FileError("temporary file 1 cannot be written");
  out_.clear();
}

void RecordReceiver::Close() {
  if (!ftmp1_.is_open()) return;
  Flush();
  ftmp1_.close();
  if (ftmp1_.fail()) throw FileError("temporary file 1 cannot be written");
}

}  // namespace pw
