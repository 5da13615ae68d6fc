// The programs' titles byte for byte (the half-width katakana of the editor's
// title are easily typed full-width), carried by every box of the program.
#include "frontend/program_alerts.h"

#include <gtest/gtest.h>

#include "tests/support/recording_boxes.h"

namespace pw {
namespace {

TEST(ProgramAlerts, TitlesAreTheSystemsBytesAndEveryBoxCarriesIt) {
  EXPECT_EQ(kPortwickDllTitle, "Portwick.dll\xE9\x80\x9A\xE4\xBF\xA1");
  EXPECT_EQ(kPortwickATitle, "PortwickA.exe\xE9\x80\x9A\xE4\xBF\xA1");
  EXPECT_EQ(kTablinkTitle, "Tablink\xE9\x80\x9A\xE4\xBF\xA1");
  // 転送, then ﾌ ｧ ｲ ﾙ from the half-width block (EF BD.. / EF BE..), then 設定.
  EXPECT_EQ(kSetTablinkTitle,
            "Tablink\xE8\xBB\xA2\xE9\x80\x81\xEF\xBE\x8C\xEF\xBD\xA7\xEF\xBD\xB2\xEF\xBE\x99\xE8\xA8\xAD\xE5\xAE\x9A");

  test::RecordingBoxes boxes;
  const Alerts alerts = ProgramAlerts(kTablinkTitle, boxes);
  alerts.Error("text");
  alerts.Show("question", kMbYesNo);
  ASSERT_EQ(boxes.shown.size(), 2u);
  EXPECT_EQ(boxes.shown[0].title, kTablinkTitle);
  EXPECT_EQ(boxes.shown[1].title, kTablinkTitle);
}

}  // namespace
}  // namespace pw
