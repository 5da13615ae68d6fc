// What one transfer is asked to do: the settings its creator gives the worker.
// They are fixed when the worker is made; the worker reads them and never
// changes them.
#pragma once

#include <filesystem>

#include "common/ansi_string.h"

namespace pw {

struct TransferRequest {
  bool TxFlag = false;             ///< true: send, false: receive
  std::filesystem::path TxFName;   ///< send: the PC file
  AnsiString BhtFName;             ///< send: the terminal's name for it (upper case)
  AnsiString FieldsDat;            ///< send: the field list, commas or blanks between widths
  std::filesystem::path RxFolder;  ///< receive: where received files go
  AnsiString ChkRcvFName;          ///< receive: the one data file accepted, or empty
  AnsiString ChkFields;            ///< receive: the field list the data file must carry, or empty
  bool RcvMode = false;            ///< continuous receive
  bool WriteMode = false;          ///< received data lines are appended to an existing file
  bool CsvFlg = false;             ///< every data file is comma-separated text
  bool LastSpFlg = false;          ///< received values keep their trailing blanks
  bool DblQuotFlg = false;         ///< values are enclosed in double quotes
  bool LogFlag = false;            ///< write the history log
  std::filesystem::path LogFile;   ///< the history log of the open port
  std::filesystem::path Tmp1File;  ///< received data lines
  std::filesystem::path Tmp2File;  ///< received raw bytes
};

}  // namespace pw
