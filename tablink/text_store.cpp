// The text store: received records become lines of a text file (fixed
// length, or comma or tab separated with each field converted by its type),
// and the lines of such a file go back to the terminal as records.
#include <charconv>
#include <cstring>
#include <fstream>
#include <limits>
#include <optional>
#include <system_error>
#include <vector>

#include "content/file_error.h"
#include "content/received_file.h"
#include "content/record_conversion.h"
#include "content/result_codes.h"
#include "platform/codepage.h"
#include "tablink/result_texts.h"
#include "tablink/store_records.h"
#include "tablink/stores.h"

namespace pw::tablink {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kOutFlush = 64 * 1024;  // converted lines written at a time
constexpr std::size_t kReadChunk = 64 * 1024;  // bytes of a file to send read at a time

// Field types of a separated text definition.
constexpr std::int32_t kTypeString = 0;
constexpr std::int32_t kTypeNumber = 1;

/// The separator of a definition's layout; 0 for fixed length.
char Separator(std::int32_t delimiter) {
  switch (delimiter) {
    case 1:
      return ',';
    case 2:
      return '\t';
    default:
      return 0;
  }
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

/// \p s as a decimal number: an optional sign, digits with at most one
/// decimal point, an optional exponent. Anything else, and a value out of
/// range, is 0.
double ReadNumber(std::string_view s) {
  std::size_t i = 0;
  const auto digits = [&] {
    const std::size_t from = i;
    while (i < s.size() && IsDigit(s[i])) ++i;
    return i - from;
  };
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
  std::size_t mantissa = digits();
  if (i < s.size() && s[i] == '.') {
    ++i;
    mantissa += digits();
  }
  if (mantissa == 0) return 0;
  if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
    ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) ++i;
    if (digits() == 0) return 0;
  }
  if (i != s.size()) return 0;
  if (s.front() == '+') s.remove_prefix(1);  // from_chars takes no plus sign
  double value = 0;
  const auto r = std::from_chars(s.data(), s.data() + s.size(), value, std::chars_format::general);
  return r.ec == std::errc{} ? value : 0;
}

/// \p v in the general number format: at most 15 significant digits, no
/// leading or trailing zeros, no thousands separators; fixed notation for a
/// value of at least 0.00001 with at most 15 digits before the point,
/// otherwise a mantissa and "E" with the exponent ("1.5E20", "1E-6").
AnsiString GeneralNumber(double v) {
  if (v == 0) return "0";
  char buf[48];
  const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::scientific, 14);
  std::string_view s(buf, static_cast<std::size_t>(r.ptr - buf));  // "-d.ddddddddddddddde+XX"
  AnsiString out;
  if (s.front() == '-') {
    out += '-';
    s.remove_prefix(1);
  }
  const std::size_t e = s.find('e');
  AnsiString digits(1, s[0]);
  digits += s.substr(2, e - 2);
  while (digits.size() > 1 && digits.back() == '0') digits.pop_back();
  std::string_view expText = s.substr(e + 1);
  if (expText.front() == '+') expText.remove_prefix(1);
  int exp = 0;
  std::from_chars(expText.data(), expText.data() + expText.size(), exp);

  if (exp >= -5 && exp < 15) {
    if (exp < 0) {
      out += "0.";
      out.append(static_cast<std::size_t>(-exp - 1), '0');
      out += digits;
    } else {
      const auto whole = static_cast<std::size_t>(exp) + 1;
      if (digits.size() <= whole) {
        out += digits;
        out.append(whole - digits.size(), '0');
      } else {
        out += digits.substr(0, whole);
        out += '.';
        out += digits.substr(whole);
      }
    }
    return out;
  }
  out += digits[0];
  if (digits.size() > 1) {
    out += '.';
    out += digits.substr(1);
  }
  out += 'E';
  out += std::to_string(exp);
  return out;
}

/// "HHMMSS" in \p name, every occurrence, replaced by the time as "hhnnss".
AnsiString ExpandTimePlaceholder(std::string_view name, const LocalTime& now) {
  const AnsiString time = ZeroPad(now.hour, 2) + ZeroPad(now.minute, 2) + ZeroPad(now.second, 2);
  AnsiString out(name);
  for (std::size_t p = out.find("HHMMSS"); p != out.npos; p = out.find("HHMMSS", p + time.size()))
    out.replace(p, 6, time);
  return out;
}

std::string Utf8(const fs::path& p) {
  const std::u8string u = p.u8string();
  return std::string(u.begin(), u.end());
}

// ---------------------------------------------------------------------------
// Receiving

/// Received records as lines of the temporary file, which goes in place at
/// the end of the file.
class TextStoreSink final : public RecordSink {
 public:
  TextStoreSink(const StoreSettings& settings, const Definition& def, const StoreLayout& layout, Clock& clock,
                const Alerts& alerts)
      : settings_(settings),
        saveName_(def.SaveName),
        layout_(layout),
        units_(layout),
        sep_(Separator(def.Delimiter)),
        // Trailing blanks are data only where fields are cut apart; a
        // fixed-length record is stored as it came anyway.
        keepBlanks_(sep_ != 0 && def.KeepsTrailingBlanks()),
        flag_(settings.SaveType == kSaveTextFlag),
        clock_(clock),
        alerts_(alerts) {}

  bool Open() {
    tmp_.open(settings_.TmpFile, std::ios::binary | std::ios::trunc);
    return tmp_.is_open();
  }

  void Write(std::span<const std::uint8_t> data) override {
    units_.Feed(data, [this](std::string_view record) { AppendLine(record); });
    if (out_.size() >= kOutFlush) Flush();
  }

  std::int32_t Finish(AnsiString& storedName) override {
    const LocalTime now = clock_.Now();
    storedName = ExpandTimePlaceholder(ExpandDatePlaceholder(saveName_, now), now);
    bool ok = true;
    try {
      Flush();
    } catch (const FileError&) {
      ok = false;
    }
    tmp_.close();
    ok = ok && !tmp_.fail() &&
         StoreReceivedFile(settings_.TmpFile, settings_.DsFolder, storedName,
                           settings_.Append ? StoreMode::Append : StoreMode::Replace);
    if (ok) return result::NormalEnd;

    std::string target = Utf8(settings_.DsFolder);
    if (!target.empty() && target.back() != '/' && target.back() != '\\')
      target += static_cast<char>(fs::path::preferred_separator);
    target += FromAnsi(storedName);
    alerts_.Error("ファイル作成／アクセスエラー", target + "\r\nの受信ファイル作成／アクセスできません。");
    return result::FileAccessError;
  }

  void Abandon() override {
    out_.clear();
    tmp_.close();  // nothing of it is kept
  }

 private:
  void AppendLine(std::string_view record) {
    if (sep_ == 0) {
      out_ += record;
      if (flag_) out_ += '0';
      out_ += "\r\n";
      return;
    }
    bool first = true;
    for (const StoreField& f : layout_.Fields) {
      if (!first) out_ += sep_;
      first = false;
      std::string_view v = record.substr(static_cast<std::size_t>(f.Start), static_cast<std::size_t>(f.Width));
      if (f.col == kTypeNumber) {
        out_ += GeneralNumber(ReadNumber(TrimB(v)));
        continue;
      }
      if (!keepBlanks_)
        while (!v.empty() && static_cast<unsigned char>(v.back()) <= 0x20) v.remove_suffix(1);
      if (f.col != kTypeString) {
        out_ += v;
        continue;
      }
      out_ += '"';
      for (const char c : v) {
        if (c == '"') out_ += '"';
        out_ += c;
      }
      out_ += '"';
    }
    // The delete flag of SaveType 3 follows a comma whatever the separator.
    if (flag_) out_ += ",0";
    out_ += "\r\n";
  }

  void Flush() {
    if (out_.empty()) return;
    if (!tmp_.write(out_.data(), static_cast<std::streamsize>(out_.size())))
      throw FileError("the temporary file cannot be written");
    out_.clear();
  }

  const StoreSettings settings_;
  const AnsiString saveName_;
  const StoreLayout layout_;
  RecordUnits units_;
  const char sep_;
  const bool keepBlanks_, flag_;
  Clock& clock_;
  const Alerts& alerts_;
  std::ofstream tmp_;
  std::string out_;  // converted lines not yet written
};

// ---------------------------------------------------------------------------
// Sending

/// A fixed-length text file, sent byte for byte up to the size announced.
class FixedTextSource final : public RecordSource {
 public:
  bool Open(const fs::path& path, std::int64_t size) {
    in_.open(path, std::ios::binary);
    left_ = size;
    return in_.is_open();
  }
  std::size_t ReadBlock(std::span<std::uint8_t, kBlockData> block) override {
    const auto want = static_cast<std::streamsize>(std::min<std::int64_t>(left_, kBlockData));
    std::size_t n = 0;
    if (want > 0) {
      in_.read(reinterpret_cast<char*>(block.data()), want);
      if (in_.bad()) throw FileError("the file to send cannot be read");
      n = static_cast<std::size_t>(in_.gcount());
      left_ -= static_cast<std::int64_t>(n);
    }
    std::memset(block.data() + n, 0, kBlockData - n);
    return n;
  }

 private:
  std::ifstream in_;
  std::int64_t left_ = 0;
};

/// A separated text file, each line turned into one record ended by CR LF.
///
/// Values are read as they stream by; of a value only what can reach its
/// field is kept (the first bytes of a text, the last bytes of a number),
/// so neither a long line nor a long value is ever held.
///
/// A value that starts with a double quote is read as a quoted value: a
/// separator inside the quotes belongs to the value and a doubled quote
/// stands for one quote. That is how this store writes strings, so a file
/// it stored goes back to the terminal as the records it came from; a
/// value without a leading quote is taken up to the next separator as it is.
class SeparatedTextSource final : public RecordSource {
 public:
  SeparatedTextSource(const StoreLayout& layout, char sep, std::int64_t records)
      : fields_(layout.Fields), sep_(sep), left_(records) {
    record_.assign(static_cast<std::size_t>(layout.iRecSize), ' ');
    out_.reserve(kBlockData + record_.size() + 2);
  }

  bool Open(const fs::path& path) {
    in_.open(path, std::ios::binary);
    chunk_.resize(kReadChunk);
    return in_.is_open();
  }

  std::size_t ReadBlock(std::span<std::uint8_t, kBlockData> block) override {
    while (out_.size() - head_ < kBlockData && left_ > 0 && !eof_) ConvertLine();
    const std::size_t n = std::min(out_.size() - head_, kBlockData);
    std::memcpy(block.data(), out_.data() + head_, n);
    std::memset(block.data() + n, 0, kBlockData - n);
    head_ += n;
    return n;
  }

 private:
  enum class Value { Start, Plain, Quoted, QuoteSeen, AfterQuotes };

  int Get() {
    if (pos_ == len_) {
      in_.read(chunk_.data(), static_cast<std::streamsize>(chunk_.size()));
      if (in_.bad()) throw FileError("the file to send cannot be read");
      len_ = static_cast<std::size_t>(in_.gcount());
      pos_ = 0;
      if (len_ == 0) return -1;
    }
    return static_cast<unsigned char>(chunk_[pos_++]);
  }

  // One line (LF or CR LF ended, or the last line without an end) into one
  // record; a CR not followed by LF is data.
  void ConvertLine() {
    bool any = false, cr = false;
    for (;;) {
      const int c = Get();
      if (c < 0) {
        eof_ = true;
        if (!any) return;  // no line after the last line end
        if (cr) Put('\r');
        break;
      }
      any = true;
      if (c == '\n') break;
      if (cr) Put('\r');
      cr = c == '\r';
      if (!cr) Put(static_cast<char>(c));
    }
    // A line with fewer values than fields gives the missing fields an empty
    // value (blanks, or zeros for a number); repeating the last value would
    // put wrong data in those fields.
    while (field_ < fields_.size()) EndField();
    if (head_ > 0) {
      out_.erase(0, head_);
      head_ = 0;
    }
    out_ += record_;
    out_ += "\r\n";
    field_ = 0;
    --left_;
  }

  void Put(char c) {
    if (field_ >= fields_.size()) return;  // values beyond the last field
    switch (state_) {
      case Value::Start:
        if (c == '"') {
          state_ = Value::Quoted;
          return;
        }
        state_ = Value::Plain;
        [[fallthrough]];
      case Value::Plain:
      case Value::AfterQuotes:
        if (c == sep_)
          EndField();
        else
          Add(c);
        return;
      case Value::Quoted:
        if (c == '"')
          state_ = Value::QuoteSeen;
        else
          Add(c);
        return;
      case Value::QuoteSeen:
        if (c == '"') {
          Add('"');
          state_ = Value::Quoted;
        } else if (c == sep_) {
          EndField();
        } else {
          state_ = Value::AfterQuotes;
          Add(c);
        }
        return;
    }
  }

  void Add(char c) {
    const StoreField& f = fields_[field_];
    const auto width = static_cast<std::size_t>(f.Width);
    if (f.col == kTypeNumber) {
      if (count_++ == 0 && (c == '+' || c == '-')) {
        sign_ = c;
        return;
      }
      value_ += c;
      if (value_.size() > 2 * width) value_.erase(0, value_.size() - width);
    } else if (value_.size() < width) {
      value_ += c;
    }
  }

  void EndField() {
    const StoreField& f = fields_[field_];
    char* slot = record_.data() + f.Start;
    auto width = static_cast<std::size_t>(f.Width);
    if (f.col == kTypeNumber) {
      // Filled on the left with zeros, cut to its last bytes; a sign keeps
      // the first place.
      if (sign_ != 0) {
        *slot++ = sign_;
        --width;
      }
      const std::size_t n = std::min(value_.size(), width);
      std::memset(slot, '0', width - n);
      std::memcpy(slot + (width - n), value_.data() + (value_.size() - n), n);
    } else {
      std::memcpy(slot, value_.data(), value_.size());
      std::memset(slot + value_.size(), ' ', width - value_.size());
    }
    ++field_;
    state_ = Value::Start;
    value_.clear();
    sign_ = 0;
    count_ = 0;
  }

  const std::vector<StoreField> fields_;
  const char sep_;
  std::int64_t left_;  // records still to make
  std::ifstream in_;
  std::vector<char> chunk_;
  std::size_t pos_ = 0, len_ = 0;
  bool eof_ = false;

  // The line in progress.
  AnsiString record_;
  std::size_t field_ = 0;
  Value state_ = Value::Start;
  std::string value_;  // a text's first bytes, a number's last ones
  char sign_ = 0;
  std::uint64_t count_ = 0;  // value bytes so far

  // Records not yet handed out: out_[head_, size).
  std::string out_;
  std::size_t head_ = 0;
};

}  // namespace

std::int32_t OpenTextReceive(const StoreSettings& settings, const Definition& def, const StoreLayout& layout,
                             Clock& clock, const Alerts& alerts, std::unique_ptr<RecordSink>& sink) {
  sink.reset();
  if (!IsUsableReceiveLayout(layout)) return result::RcvFieldDataError;
  auto text = std::make_unique<TextStoreSink>(settings, def, layout, clock, alerts);
  if (!text->Open()) return result::FileAccessError;
  sink = std::move(text);
  return result::NormalEnd;
}

std::int32_t PrepareTextSend(const StoreSettings& settings, const Definition& def, std::string_view bhtName,
                             SendJob& job) {
  job.Facts = {AnsiString(bhtName), TFileType::DATA, 0, 0};
  job.iEndBlock = 0;
  job.FieldText.clear();
  job.Source.reset();

  const std::optional<fs::path> path = ReceivedFilePath(settings.DsFolder, def.SaveName);
  std::error_code ec;
  if (!path || !fs::is_regular_file(*path, ec)) return result::NoSendFile;
  if (IsRefusedSendName(bhtName)) return code::RefusedSend;
  StoreLayout layout;
  if (!SendLayout(def.FieldWidths, def, false, layout)) return result::FieldFileError;

  const char sep = Separator(def.Delimiter);
  std::int64_t records = 0, size = 0;
  if (sep != 0) {
    if (!CountTextLines(*path, records)) return result::FileAccessError;
    size = records * layout.iRecSize0;  // at most 2^63 / 65537 lines: no overflow
  } else {
    const std::uintmax_t bytes = fs::file_size(*path, ec);
    if (ec) return result::FileAccessError;
    if (bytes > static_cast<std::uintmax_t>(std::numeric_limits<std::int32_t>::max())) return result::SendDataError;
    size = static_cast<std::int64_t>(bytes);
    records = size / layout.iRecSize0 + (size % layout.iRecSize0 > 2 ? 1 : 0);
  }
  // The header block announces the size in 32 bits.
  if (size > std::numeric_limits<std::int32_t>::max()) return result::SendDataError;
  job.Facts.iRecords = static_cast<std::int32_t>(records);
  job.Facts.fSize = static_cast<std::int32_t>(size);
  job.iEndBlock = static_cast<std::int32_t>(size / kBlockData + (size % kBlockData != 0 ? 1 : 0));
  if (job.iEndBlock == 0) return result::SendDataError;

  if (sep != 0) {
    auto source = std::make_unique<SeparatedTextSource>(layout, sep, records);
    if (!source->Open(*path)) return result::FileAccessError;
    job.Source = std::move(source);
  } else {
    auto source = std::make_unique<FixedTextSource>();
    if (!source->Open(*path, size)) return result::FileAccessError;
    job.Source = std::move(source);
  }
  job.FieldText = FieldHeader(bhtName, job.Facts.fSize, job.Facts.iRecords,
                              static_cast<std::int32_t>(layout.Fields.size()), TrimB(def.FieldWidths));
  return result::NormalEnd;
}

}  // namespace pw::tablink
