// POSIX only: a port held by another process is refused with the in-use
// message, and the refused open leaves nothing open behind it.
#include <dirent.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "engine/com_port.h"
#include "tests/integration/pty_peer.h"
#include "tests/support/recording_boxes.h"

namespace pw {
namespace {

int OpenDescriptors() {
  int n = 0;
  DIR* d = opendir("/proc/self/fd");
  while (readdir(d) != nullptr) ++n;
  closedir(d);
  return n;
}

TEST(SerialExclusive, APortHeldByAnotherProcessGivesTheInUseMessage) {
  auto peer = test::PtyPeer::Create();
  int ready[2], release[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(release), 0);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto held = OpenSerialDevice("COM1");
    const char ok = held ? 'y' : 'n';
    (void)!write(ready[1], &ok, 1);
    char c;
    (void)!read(release[0], &c, 1);
    _exit(0);
  }
  char ok = 0;
  ASSERT_EQ(read(ready[0], &ok, 1), 1);
  ASSERT_EQ(ok, 'y');

  const int before = OpenDescriptors();
  test::RecordingBoxes boxes;
  EXPECT_FALSE(OpenPortDevice("COM1", 115200, Alerts(boxes, "Portwick.dll通信")));
  EXPECT_EQ(OpenDescriptors(), before);
  ASSERT_EQ(boxes.shown.size(), 1u);
  EXPECT_EQ(boxes.shown[0].title, "Portwick.dll通信");
  EXPECT_EQ(boxes.shown[0].text, "COM1 は既に使用されているか\r\n使用不可の状態です。");
  EXPECT_FALSE(ChkComPort(1, Alerts(boxes, "Portwick.dll通信")));

  (void)!write(release[1], "x", 1);
  int status = 0;
  waitpid(child, &status, 0);
  for (int fd : {ready[0], ready[1], release[0], release[1]}) close(fd);
  // Released: the port opens again, also for a program that does not lock
  // (exclusive mode ended with the holder, though the pty itself stays open).
  EXPECT_TRUE(ChkComPort(1, Alerts(boxes, "Portwick.dll通信")));
  auto again = OpenSerialDevice("COM1");
  ASSERT_TRUE(again);
  again.reset();
  const std::string slave = std::filesystem::read_symlink(std::getenv("PORTWICK_DRIVE") + std::string("/dosdevices/com1"));
  const int fd = open(slave.c_str(), O_RDWR | O_NOCTTY);
  int excl = -1;
  ASSERT_GE(fd, 0);
  EXPECT_EQ(ioctl(fd, TIOCGEXCL, &excl), 0);
  EXPECT_EQ(excl, 0);
  close(fd);
}

}  // namespace
}  // namespace pw
