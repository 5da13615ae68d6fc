// Linux only: bhtsim, the BHT terminal's side of a transfer on a serial device
// or pseudo-terminal. See Usage() in options.cpp for what it does.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tools/bhtsim/batch.h"
#include "tools/bhtsim/channel.h"
#include "tools/bhtsim/options.h"
#include "tools/bhtsim/terminal.h"

namespace {

int UsageError(const std::string& why) {
  std::fprintf(stderr, "bhtsim: %s\n(see bhtsim --help)\n", why.c_str());
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace pw::bhtsim;
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  std::string error;
  const auto parsed = ParseOptions(args, error);
  if (!parsed) return UsageError(error);
  const Options& o = *parsed;
  if (o.help) {
    const auto usage = Usage();
    std::fwrite(usage.data(), 1, usage.size(), stdout);
    return 0;
  }

  std::vector<BatchFile> batch;
  if (o.mode == Mode::kReceive || o.mode == Mode::kRequest) {
    std::error_code ec;
    if (!std::filesystem::is_directory(o.dir, ec)) return UsageError(o.dir + " is not a folder");
  } else {
    std::ifstream in(o.file, std::ios::binary);
    if (!in) return UsageError(o.file + ": " + std::strerror(errno));
    Bytes content((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto built = BuildBatch(o, std::move(content), error);
    if (!built) return UsageError(error);
    batch = std::move(*built);
  }

  std::FILE* log = nullptr;
  if (!o.logPath.empty() && !(log = std::fopen(o.logPath.c_str(), "w")))
    return UsageError(o.logPath + ": " + std::strerror(errno));

  int status = 1;
  if (auto channel = OpenTty(o.port, o.speed, error)) {
    Link link(*channel, log, o.noise);
    Outcome outcome;
    try {
      if (o.mode == Mode::kReceive) {
        Receiver receiver(link, o, stdout);
        outcome = receiver.Run();
      } else if (o.mode == Mode::kRequest) {
        outcome = RunRequest(link, o, stdout);
      } else {
        Sender sender(link, o, batch);
        outcome = sender.Run();
      }
    } catch (const ChannelError& e) {
      outcome = {Outcome::Kind::kFailed, 0, e.what()};
    }
    if (!outcome.message.empty()) std::printf("%s\n", outcome.message.c_str());
    link.Log("end: " + (outcome.message.empty() ? std::string("done") : outcome.message));
    status = ExitCode(outcome, o.expectCancel);
  } else {
    std::fprintf(stderr, "bhtsim: %s\n", error.c_str());
  }
  if (log) std::fclose(log);
  return status;
}
