// The kinds of BHT files: which kind a terminal file name is, on the way to
// the terminal and on the way back, what the progress label says, and which
// kinds travel as records behind a field file.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

#include "common/ansi_string.h"
#include "content/field_file.h"

namespace pw {

/// The kind of the file in transfer, in the system's order (one byte).
/// NULL and ERROR are macros in C++ and in the Windows headers, so those two
/// values carry a trailing underscore.
enum class TFileType : std::uint8_t {
  DATA,     ///< fixed-length records, sent or stored unchanged; field file
  CSV,      ///< comma-separated text on the PC, records on the terminal; field file
  PD3,      ///< application program
  PD4,      ///< application program
  FLD,      ///< a field file received from the terminal (never stored)
  FN3EX3,   ///< program support file (.FN3, .EX3)
  LCS,
  BMP,
  JPG,
  WAV,
  ZIP,
  REQFILE,  ///< never assigned by the transfer library
  ERROR_,   ///< never assigned by the transfer library
  NULL_,    ///< the empty header that ends a batch; also "no file" between files
  etc,      ///< never assigned by the transfer library
};

/// "DATA", "CSV", ..., "NULL", "etc".
std::string_view FileTypeName(TFileType t);

/// DATA and CSV: records behind a field file, logged in records.
bool IsRecordKind(TFileType t);
/// PD3, PD4, FN3EX3, LCS, BMP, JPG, WAV, ZIP: byte for byte, no field file.
bool IsRawKind(TFileType t);

/// The extension of a terminal file name with its dot (".CSV"), empty if none.
std::string_view FileExtension(std::string_view name);

/// The send side's choice for the upper-case terminal name \p bhtFName.
struct SendKind {
  TFileType FileType = TFileType::DATA;
  AnsiString FNameCaption;  ///< the label: the name followed by the kind's send text (ANSI)
};
SendKind ChooseSendKind(std::string_view bhtFName);

/// The record size a send announces for a record kind whose records are
/// \p recordLength bytes long: CSV adds the CR LF that ends each record.
/// 0 when \p recordLength is 0 (the field list is invalid: result 7).
std::int32_t SendRecordSize(TFileType t, std::int32_t recordLength);

/// What a header block's answer is (the receiver acts on it by number).
enum class HeaderVerdict : int {
  Refuse = 0,       ///< NAK
  Accepted = 1,     ///< the caller opens the file's receiver; if that fails, FileError
  EndOfBatch = 2,
  WrongFile = 3,    ///< result 19
  OtherFields = 4,  ///< result 20
  FileError = 5,    ///< result 12 (never given by ChooseReceiveKind itself)
};

/// The receive side's reading of a header block.
struct ReceiveKind {
  HeaderVerdict Verdict = HeaderVerdict::Refuse;
  TFileType FileType = TFileType::NULL_;
  AnsiString BhtFName;      ///< the name, ASCII letters in upper case
  AnsiString FNameCaption;  ///< the label to show; empty when refused before it is known
  std::int32_t fSize = 0;   ///< the announced size
};

/// Reads the data bytes (128 or 1024) of a header block whose block number
/// and CRC have been checked, and chooses the kind. \p received is the layout
/// of the last field file: a ".FLD" header clears it, a data file is accepted
/// only right after its own field file (else ChkFName is cleared), and a raw
/// file clears FieldsDat. \p chkRcvFName and \p chkFields (blank-separated)
/// are what the caller expects, empty for anything. A name that is not a plain
/// file name is refused. Nothing is deleted or created here.
ReceiveKind ChooseReceiveKind(std::span<const std::uint8_t> headerData, bool csvFlg, std::string_view chkRcvFName,
                              std::string_view chkFields, FieldLayout& received);

}  // namespace pw
