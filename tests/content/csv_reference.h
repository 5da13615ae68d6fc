// A plain reference for the send side's conversion of comma text to records,
// for tests and the fuzz target to hold the streaming reader to.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace pw::test {

// The conversion of a whole comma file at once, by the rules the reader
// streams: lines end at LF (a CR just before it belongs to the line end, any
// other CR is data) and a last line without LF counts; each value up to a
// comma, without one pair of enclosing quotes when \p dblQuot, is filled with
// blanks or cut to its width; values beyond the last field are dropped.
inline std::string ReferenceRecords(const std::string& text, const std::vector<std::size_t>& widths, bool dblQuot) {
  std::string out;
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t lf = text.find('\n', from);
    std::string line = text.substr(from, lf == text.npos ? text.npos : lf - from);
    if (lf != text.npos && !line.empty() && line.back() == '\r') line.pop_back();
    from = lf == text.npos ? text.size() : lf + 1;
    std::size_t begin = 0;
    for (const std::size_t width : widths) {
      std::string value;
      if (begin <= line.size()) {
        const std::size_t comma = line.find(',', begin);
        value = line.substr(begin, comma == line.npos ? line.npos : comma - begin);
        begin = comma == line.npos ? line.size() + 1 : comma + 1;
      }
      if (dblQuot && !value.empty() && value.front() == '"') {
        value.erase(0, 1);
        if (!value.empty() && value.back() == '"') value.pop_back();
      }
      value.resize(width, ' ');
      out += value;
    }
    out += "\r\n";
  }
  return out;
}

}  // namespace pw::test
