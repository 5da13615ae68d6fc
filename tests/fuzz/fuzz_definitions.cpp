// A record of the transfer definition file, whatever its bytes: read as a
// header by both programs' rules and as a definition, and converted from the
// old layout. What is read, written again and read back must be the same, and
// every text must fit its field.
#include <algorithm>
#include <cstdint>
#include <cstring>

#include "tablink/definition_file.h"
#include "tests/fuzz/fuzz_check.h"

namespace {

using namespace pw::tablink;
using pw::fuzz::Check;

bool SameHeader(const DefinitionHeader& a, const DefinitionHeader& b) {
  return a.VerStr == b.VerStr && a.SaveType == b.SaveType && a.DataSource == b.DataSource && a.ComPort == b.ComPort &&
         a.ComSpeed == b.ComSpeed && a.HideForm == b.HideForm && a.WriteMode == b.WriteMode &&
         a.SaveLog == b.SaveLog && a.LogFileMode == b.LogFileMode && a.LogFolder == b.LogFolder;
}

bool SameDefinition(const Definition& a, const Definition& b) {
  return a.BhtFile == b.BhtFile && a.Vector == b.Vector && a.SaveName == b.SaveName && a.FieldCount == b.FieldCount &&
         a.FieldMap == b.FieldMap && a.FieldWidths == b.FieldWidths && a.Delimiter == b.Delimiter &&
         a.LastSpace == b.LastSpace;
}

void CheckDefinition(const Definition& d) {
  Check(d.BhtFile.size() <= 12 && d.SaveName.size() <= 255 && d.FieldWidths.size() <= 255 && d.LastSpace.size() <= 1,
        "a definition's text is longer than its field");
  Check(SameDefinition(DecodeDefinition(EncodeDefinition(d)), d), "a definition does not read back as written");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  Record r{};
  std::memcpy(r.data(), data, std::min(size, r.size()));

  for (const MarkerRule rule : {MarkerRule::Server, MarkerRule::Editor}) {
    bool matched = false;
    const DefinitionHeader h = DecodeHeader(r, rule, matched);
    Check(h.ComPort >= 0 && h.ComPort <= 31, "ComPort outside 0..31");
    Check(h.SaveType >= 0 && h.SaveType <= 3, "SaveType outside 0..3");
    Check(matched || (h.DataSource.empty() && h.LogFolder.empty()), "folders taken from an old header");
    Check(h.DataSource.size() <= 255 && h.LogFolder.size() <= 255, "a folder is longer than its field");
    bool again = false;
    const DefinitionHeader back = DecodeHeader(EncodeHeader(h), rule, again);
    Check(!matched || (again && SameHeader(back, h)), "a header does not read back as written");
  }
  CheckDefinition(DecodeDefinition(r));

  bool matched = false;
  const DefinitionHeader converted = DecodeHeader(ConvertOldHeader(r), MarkerRule::Editor, matched);
  Check(matched, "a converted header lacks the marker");
  Check(converted.DataSource.size() <= 255, "a converted folder is too long");
  CheckDefinition(DecodeDefinition(ConvertOldDefinition(r)));
  return 0;
}
