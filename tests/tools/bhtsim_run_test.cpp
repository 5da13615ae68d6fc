// The terminal simulator as a program over real pseudo-terminals: against
// lrzsz (sb and rb behind socat), an implementation nobody here wrote, and
// against a peer in the test for cancels, silence and exit codes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/temp_drive.h"
#include "tools/bhtsim/batch.h"

namespace pw::bhtsim {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// A program in a process group of its own (socat's shell and its sb or rb go
// with it), its standard output kept; killed at the end if it still runs.
class Process {
 public:
  explicit Process(const std::vector<std::string>& args, const fs::path& cwd = {}) {
    int out[2];
    if (pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      setpgid(0, 0);
      if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
      const int null = open("/dev/null", O_RDWR);
      dup2(null, STDIN_FILENO);
      dup2(out[1], STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      close(out[0]);
      close(out[1]);
      std::vector<char*> argv;
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execvp(argv[0], argv.data());
      _exit(127);
    }
    setpgid(pid_, pid_);
    close(out[1]);
    out_ = out[0];
    fcntl(out_, F_SETFL, O_NONBLOCK);
  }
  ~Process() {
    if (pid_ > 0 && !exited_) {
      kill(-pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (pid_ > 0) kill(-pid_, SIGKILL);  // helpers left behind
    if (out_ >= 0) close(out_);
  }

  /// Waits up to \p ms for the exit; true when it has exited.
  bool Wait(std::uint32_t ms) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (!exited_) {
      Drain();
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        exited_ = true;
        code_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        break;
      }
      if (Clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    Drain();
    return true;
  }
  int Code() const { return code_; }
  const std::string& Output() const { return output_; }

 private:
  void Drain() {
    char buf[4096];
    ssize_t n;
    while ((n = read(out_, buf, sizeof buf)) > 0) output_.append(buf, static_cast<std::size_t>(n));
  }

  pid_t pid_ = -1;
  int out_ = -1;
  bool exited_ = false;
  int code_ = -1;
  std::string output_;
};

bool WaitForPath(const fs::path& path, std::uint32_t ms) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
  std::error_code ec;
  while (!fs::exists(path, ec)) {
    if (Clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), {});
}

void WriteFile(const fs::path& path, const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }

std::string RandomBytes(std::size_t n, unsigned seed) {
  std::mt19937 gen(seed);
  std::string s(n, '\0');
  for (char& c : s) c = static_cast<char>(gen());
  return s;
}

std::vector<std::string> Bhtsim(std::vector<std::string> args) {
  args.insert(args.begin(), PW_BHTSIM_PATH);
  return args;
}

// socat gives the lrzsz program pipes, not a terminal of its own: rb throws
// its last ACK away when its input and output are one terminal.
std::vector<std::string> Socat(const fs::path& link, const std::string& command) {
  return {"socat", "PTY,link=" + link.string() + ",raw,echo=0", "SYSTEM:" + command + ",pipes"};
}

TEST(BhtsimWithLrzsz, StoresEveryFileThatSbSends) {
  test::TempDrive dir;
  const fs::path src = dir.Path() / "src", out = dir.Path() / "out";
  fs::create_directories(src);
  fs::create_directories(out);
  WriteFile(src / "NAME.FLD", "* created by BHT\r\nfile\tNAME.DAT\r\nsize\t307200\r\nrecords\t1200\r\nfield\t256\r\n");
  WriteFile(src / "NAME.DAT", RandomBytes(300 * 1024, 1));
  WriteFile(src / "one", RandomBytes(1, 2));
  WriteFile(src / "k1024", RandomBytes(1024, 3));
  WriteFile(src / "k1025", RandomBytes(1025, 4));

  for (const auto& batch :
       {std::vector<std::string>{"NAME.FLD", "NAME.DAT"}, std::vector<std::string>{"one", "k1024", "k1025"}}) {
    const fs::path link = dir.Path() / ("sb" + std::to_string(batch.size()));
    std::string command = "exec sb --ymodem -k -q";
    for (const auto& name : batch) command += " " + name;
    // sb runs first and waits for the 'C'; several queued 'C's would make it
    // send its header again.
    Process sb(Socat(link, command), src);
    ASSERT_TRUE(WaitForPath(link, 5000));
    Process sim(Bhtsim({"receive", "--port", link.string(), "--dir", out.string(), "--timeout", "10"}));
    ASSERT_TRUE(sim.Wait(20000)) << "bhtsim did not finish";
    EXPECT_EQ(sim.Code(), 0) << sim.Output();
    std::string expected;
    for (const auto& name : batch) {
      const std::string sent = ReadFile(src / name);
      expected += "stored " + name + " " + std::to_string(sent.size()) + "\n";
      EXPECT_EQ(ReadFile(out / name), sent) << name;
    }
    EXPECT_EQ(sim.Output(), expected);
    // lrzsz may hang in its final flush; the files are what counts.
    sb.Wait(2000);
  }
}

TEST(BhtsimWithLrzsz, RbStoresWhatBhtsimSends) {
  test::TempDrive dir;
  const fs::path rbDir = dir.Path() / "rb";
  fs::create_directories(rbDir);
  // 3000 records of 15 bytes and CR LF, and a raw file one byte past a block.
  std::string records;
  for (int i = 0; i < 3000; ++i) records += std::to_string(1000000000 + i) + "ABCDE\r\n";
  WriteFile(dir.Path() / "item.dat", records);
  WriteFile(dir.Path() / "prog.pd3", RandomBytes(300 * 1024 + 1, 5));  // block numbers wrap

  struct Case {
    std::vector<std::string> args;
    std::vector<std::pair<std::string, std::string>> stored;
  };
  std::string error;
  Options fieldOptions;
  fieldOptions.file = "item.dat";
  fieldOptions.fields = "10,5";
  const auto fieldBatch = BuildBatch(fieldOptions, Bytes(records.begin(), records.end()), error);
  ASSERT_TRUE(fieldBatch) << error;
  const std::string fld((*fieldBatch)[0].bytes.begin(), (*fieldBatch)[0].bytes.end());
  ASSERT_NE(fld.find("records\t3000\r\n"), std::string::npos) << fld;

  const std::vector<Case> cases = {
      {{"--file", (dir.Path() / "item.dat").string(), "--fields", "10,5"}, {{"ITEM.FLD", fld}, {"ITEM.DAT", records}}},
      {{"--file", (dir.Path() / "prog.pd3").string(), "--fill", "00"},
       {{"PROG.PD3", ReadFile(dir.Path() / "prog.pd3")}}},
  };
  int n = 0;
  for (const Case& c : cases) {
    const fs::path link = dir.Path() / ("rb" + std::to_string(n++));
    Process rb(Socat(link, "exec rb --ymodem -u -y -q"), rbDir);
    ASSERT_TRUE(WaitForPath(link, 5000));
    std::vector<std::string> args = {"send", "--port", link.string(), "--timeout", "10"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    Process sim(Bhtsim(args));
    ASSERT_TRUE(sim.Wait(20000)) << "bhtsim did not finish";
    EXPECT_EQ(sim.Code(), 0) << sim.Output();
    rb.Wait(3000);
    for (const auto& [name, bytes] : c.stored) EXPECT_EQ(ReadFile(rbDir / name), bytes) << name;
  }
}

TEST(BhtsimProgram, ItsTwoSidesGetAFileThroughAllTheirMisbehaviour) {
  test::TempDrive dir;
  const fs::path in = dir.Path() / "in", a = dir.Path() / "a", b = dir.Path() / "b";
  fs::create_directories(in);
  std::string records;
  for (int i = 0; i < 400; ++i) records += std::to_string(100000 + i) + "XYZW\r\n";
  WriteFile(dir.Path() / "t.dat", records);
  Process line({"socat", "PTY,link=" + a.string() + ",raw,echo=0", "PTY,link=" + b.string() + ",raw,echo=0"});
  ASSERT_TRUE(WaitForPath(a, 5000) && WaitForPath(b, 5000));
  Process receiver(Bhtsim({"receive", "--port", a.string(), "--dir", in.string(), "--timeout", "10", "--drop-ack", "2",
                           "--nak", "2@4", "--noise", "7"}));
  Process sender(Bhtsim({"send", "--port", b.string(), "--file", (dir.Path() / "t.dat").string(), "--fields", "6,4",
                         "--timeout", "10", "--corrupt-block", "3", "--stretch", "5:300", "--eot-b0", "--noise", "9"}));
  ASSERT_TRUE(sender.Wait(20000));
  ASSERT_TRUE(receiver.Wait(5000));
  EXPECT_EQ(sender.Code(), 0) << sender.Output();
  EXPECT_EQ(receiver.Code(), 0) << receiver.Output();
  EXPECT_EQ(receiver.Output(), "stored T.FLD 66\nstored T.DAT 4800\n");
  EXPECT_EQ(ReadFile(in / "T.FLD"), "* created by BHT\r\nfile\tT.DAT\r\nsize\t4800\r\nrecords\t400\r\nfields\t6 4\r\n");
  EXPECT_EQ(ReadFile(in / "T.DAT"), records);
}

// A pseudo-terminal whose slave the simulator opens by name; the test plays
// the PC on the master.
struct Pty {
  int master = -1, slave = -1;
  std::string path;
  Pty() {
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) return;
    path = name;
    termios t{};
    tcgetattr(slave, &t);
    cfmakeraw(&t);
    tcsetattr(slave, TCSANOW, &t);
    fcntl(master, F_SETFL, O_NONBLOCK);
  }
  ~Pty() {
    close(master);
    close(slave);
  }
  /// Bytes that arrive within \p ms.
  std::string Read(std::uint32_t ms) {
    std::string got;
    const auto deadline = Clock::now() + std::chrono::milliseconds(ms);
    while (Clock::now() < deadline) {
      pollfd p{master, POLLIN, 0};
      if (poll(&p, 1, 20) <= 0) continue;
      char buf[256];
      const ssize_t n = read(master, buf, sizeof buf);
      if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    }
    return got;
  }
  void Write(const std::string& bytes) {
    ASSERT_EQ(write(master, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
  }
};

TEST(BhtsimProgram, AnswersHelpAndRefusesBadCommandLinesWithTwo) {
  test::TempDrive dir;
  Process help(Bhtsim({"--help"}));
  ASSERT_TRUE(help.Wait(5000));
  EXPECT_EQ(help.Code(), 0);
  for (const char* word :
       {"usage: bhtsim receive", "bhtsim request NAME", "--drop-ack", "--nak N[@B]", "--can-at", "--corrupt-block",
        "--silent", "--noise", "--stretch", "--eot-b0", "--expect-cancel", "Exit status"})
    EXPECT_NE(help.Output().find(word), std::string::npos) << word;

  WriteFile(dir.Path() / "odd.dat", std::string(33, 'x'));
  Pty pty;
  const std::vector<std::vector<std::string>> usageErrors = {
      {},
      {"receive", "--port", pty.path},
      {"receive", "--port", pty.path, "--dir", (dir.Path() / "missing").string()},
      {"send", "--port", pty.path, "--file", (dir.Path() / "missing.dat").string()},
      {"send", "--port", pty.path, "--file", (dir.Path() / "odd.dat").string(), "--fields", "8"},
      {"send", "--port", pty.path, "--file", (dir.Path() / "odd.dat").string(), "--nak", "2"},
  };
  for (const auto& args : usageErrors) {
    Process p(Bhtsim(args));
    ASSERT_TRUE(p.Wait(5000));
    EXPECT_EQ(p.Code(), 2) << testing::PrintToString(args);
  }
  EXPECT_TRUE(pty.Read(100).empty()) << "a usage error sends nothing";

  Process noPort(Bhtsim({"receive", "--port", (dir.Path() / "nothing").string(), "--dir", dir.Path().string()}));
  ASSERT_TRUE(noPort.Wait(5000));
  EXPECT_EQ(noPort.Code(), 1);
}

TEST(BhtsimProgram, EndsOnThePcsCancelAndOnSilence) {
  test::TempDrive dir;
  for (const bool expect : {true, false}) {
    Pty pty;
    const fs::path log = dir.Path() / "cancel.log";
    std::vector<std::string> args = {"receive",           "--port", pty.path,    "--dir",
                                     dir.Path().string(), "--log",  log.string()};
    if (expect) args.push_back("--expect-cancel");
    Process sim(Bhtsim(args));
    EXPECT_EQ(pty.Read(300), "C");
    pty.Write("\x18");
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    pty.Write("\x18");
    ASSERT_TRUE(sim.Wait(5000));
    EXPECT_EQ(sim.Code(), expect ? 0 : 1);
    EXPECT_EQ(sim.Output(), "cancelled by peer\n");
    const std::string logText = ReadFile(log);
    EXPECT_NE(logText.find("sent C\n"), std::string::npos) << logText;
    std::size_t cans = 0;
    for (std::size_t at = 0; (at = logText.find("recv CAN\n", at)) != std::string::npos; ++at) ++cans;
    EXPECT_EQ(cans, 2u) << logText;
  }

  Pty pty;
  WriteFile(dir.Path() / "a.dat", "abc");
  const auto start = Clock::now();
  Process silent(
      Bhtsim({"send", "--port", pty.path, "--file", (dir.Path() / "a.dat").string(), "--silent", "--timeout", "1"}));
  pty.Write("C");
  const std::string heard = pty.Read(1500);
  ASSERT_TRUE(silent.Wait(3000));
  EXPECT_EQ(silent.Code(), 1);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(1000));
  EXPECT_TRUE(heard.empty()) << "--silent sent something";
}

TEST(BhtsimProgram, ARefusedRequestEndsWithItsOwnLine) {
  test::TempDrive dir;
  Pty pty;
  Process sim(Bhtsim({"request", "MASTER.DAT", "--port", pty.path, "--dir", dir.Path().string(), "--timeout", "5"}));
  // The PC idles with 'C' until the request comes.
  std::string request;
  for (int i = 0; i < 20 && request.size() < 133; ++i) {
    pty.Write("C");
    request += pty.Read(300);
  }
  const Bytes expected = RequestBlock("MASTER.DAT");
  EXPECT_EQ(request, std::string(expected.begin(), expected.end()));
  pty.Write("\x06\x18");  // ACK, then the refusal
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  pty.Write("\x18");
  ASSERT_TRUE(sim.Wait(5000));
  EXPECT_EQ(sim.Code(), 1);
  EXPECT_EQ(sim.Output(), "request MASTER.DAT refused: cancelled by peer\n");
}

}  // namespace
}  // namespace pw::bhtsim
