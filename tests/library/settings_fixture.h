// A settings folder on a temporary drive, an in-memory registry and recorded
// message boxes around one SettingsStore.
#pragma once

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <vector>

#include "library/settings_store.h"
#include "tests/support/memory_registry.h"
#include "tests/support/recording_boxes.h"
#include "tests/support/temp_drive.h"

namespace pw::test {

class SettingsFixture : public ::testing::Test {
 protected:
  SettingsFixture() { std::filesystem::create_directories(folder); }

  void WriteCnf(const std::string& bytes) { std::ofstream(store.FilePath(), std::ios::binary) << bytes; }
  std::string ReadCnf() const {
    std::ifstream in(store.FilePath(), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  }
  /// The texts of the boxes shown so far.
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& box : boxes.shown) texts.push_back(box.text);
    return texts;
  }
  void SetValue(const char* name, MemoryRegistry::Value value) {
    registry.values[{RegistryRoot::CurrentUser, std::string(kPortwickKey), name}] = std::move(value);
  }

  const std::string sep = std::string(1, kFolderSeparator);
  TempDrive drive;
  std::filesystem::path folder = drive.Path() / "Users" / "Public" / "Tessaly";
  std::string folderText = Utf8FromPath(folder);
  MemoryRegistry registry;
  RecordingBoxes boxes;
  Alerts alerts{boxes, "PortwickA.exe通信"};
  SettingsStore store{folder, registry, alerts};
  Settings& v = store.Values();
};

}  // namespace pw::test
