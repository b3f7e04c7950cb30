// Speed of a whole installation (open the kit, then install it into the
// target) against tar extracting a tar.gz of the same tree, and of a
// re-installation over an up-to-date target. The kits have trailers, so
// they are read in place; the installation runs with the kit inflated on a
// thread of its own (as the installer does) and, for comparison, on the
// copy thread itself.
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/text_convert.h"
#include "bench/bench_trees.h"
#include "copy/copy_job.h"
#include "copy/progress_channel.h"
#include "kit/kit_reader.h"
#include "res/string_table.h"

namespace {

using namespace qorv;
using namespace qorv::bench;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

struct InstallTimes {
  double unpack = 0;
  double copy = 0;
  double total() const { return unpack + copy; }
};

InstallTimes Install(const std::string& kit, const std::string& target, bool durable = true,
                     bool threaded = true, size_t writers = CopyJob::DefaultWriterThreads()) {
  InstallTimes times;
  auto start = Clock::now();
  KitReader reader;
  reader.SetStreamThreaded(threaded);
  if (reader.Open(kit) != 0) {
    std::fprintf(stderr, "cannot open %s: %s\n", kit.c_str(), reader.Problem().c_str());
    return times;
  }
  times.unpack = Seconds(start);
  if (!reader.Streams()) std::fprintf(stderr, "%s is not read in place\n", kit.c_str());
  start = Clock::now();
  ProgressChannel channel;
  channel.Init();
  channel.SetJob(&reader, Wide(target));
  CopyJob job;
  job.SetFinishPauseMs(0);
  job.SetDurable(durable);
  job.SetWriterThreads(writers);
  if (job.Run(channel) != 0) std::fprintf(stderr, "installation into %s failed\n", target.c_str());
  times.copy = Seconds(start);
  return times;
}

// tar -xzf, and with `flush` the sync(1) that makes its files as durable as
// an installation's.
double Tar(const std::string& tree, const std::string& archive, const std::string& target,
           bool flush = false) {
  if (!std::filesystem::exists(archive)) {
    std::system(("tar -czf '" + archive + "' -C '" + tree + "' .").c_str());
  }
  std::filesystem::remove_all(target);
  std::filesystem::create_directories(target);
  std::system("sync");
  auto start = Clock::now();
  std::system(("tar -xzf '" + archive + "' -C '" + target + "'").c_str());
  if (flush) std::system("sync");
  return Seconds(start);
}

void Measure(const char* label, const std::string& work, const KitContent& content,
             const std::string& tree) {
  std::string kit = work + "/" + label + ".vkt";
  EnsureKit(content, kit);
  std::string target = work + "/installed";
  double tar = 1e9;
  double tarSynced = 1e9;
  InstallTimes fresh{1e9, 0};
  InstallTimes unflushed{1e9, 0};
  InstallTimes again{1e9, 0};
  InstallTimes oneThread{1e9, 0};
  InstallTimes noWriters{1e9, 0};
  for (int round = 0; round < 3; ++round) {  // best of three
    tar = std::min(tar, Tar(tree, work + "/" + label + ".tar.gz", work + "/tar-out"));
    tarSynced =
        std::min(tarSynced, Tar(tree, work + "/" + label + ".tar.gz", work + "/tar-out", true));
    std::filesystem::remove_all(target);
    std::system("sync");
    InstallTimes t = Install(kit, target, false);
    if (t.total() < unflushed.total()) unflushed = t;
    std::filesystem::remove_all(target);
    std::system("sync");
    t = Install(kit, target);
    if (t.total() < fresh.total()) fresh = t;
    t = Install(kit, target);
    if (t.total() < again.total()) again = t;
    std::filesystem::remove_all(target);
    std::system("sync");
    t = Install(kit, target, true, false);
    if (t.total() < oneThread.total()) oneThread = t;
    std::filesystem::remove_all(target);
    std::system("sync");
    t = Install(kit, target, true, true, 0);
    if (t.total() < noWriters.total()) noWriters = t;
  }
  const double goal = content.files.size() > 100 ? 0.9 : 0.6;
  std::printf(
      "%-22s tar -xzf %6.3f s; install %6.3f s (open %.3f + copy %.3f), ratio %.2f "
      "(goal <= %.1f)\n",
      label, tar, fresh.total(), fresh.unpack, fresh.copy, fresh.total() / tar, goal);
  std::printf(
      "%-22s flushed to disk before success: install %6.3f s, without the flush %6.3f s "
      "(flush costs %.3f s); tar -xzf && sync %6.3f s, ratio %.2f%s\n",
      "", fresh.total(), unflushed.total(), fresh.total() - unflushed.total(), tarSynced,
      fresh.total() / tarSynced, goal < 0.9 ? " (goal <= 0.7)" : "");
  std::printf(
      "%-22s inflating on the copy thread instead of its own: install %6.3f s; small new files "
      "written by the copy thread instead of %zu helpers: install %6.3f s\n",
      "", oneThread.total(), CopyJob::DefaultWriterThreads(), noWriters.total());
  std::printf("%-22s re-install over the up-to-date tree %6.3f s (open %.3f + check %.3f)\n", "",
              again.total(), again.unpack, again.copy);
  std::filesystem::remove_all(target);
  std::filesystem::remove_all(work + "/tar-out");
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C.UTF-8");
  SetCurrentLanguage(3);
  std::string work = std::filesystem::absolute(argc > 1 ? argv[1] : "bench-work").string();
  std::filesystem::create_directories(work + "/tmp");
  ::setenv("TMPDIR", (work + "/tmp").c_str(), 1);
  // The manifests each installation writes stay in the work folder.
  ::setenv("XDG_STATE_HOME", (work + "/state").c_str(), 1);
  Measure("10000-small-files", work, MakeTree(work + "/small", 10000, 4096), work + "/small");
  if (std::getenv("QORV_BENCH_SMALL_ONLY") == nullptr) {
    Measure("4-files-of-128MiB", work, MakeTree(work + "/large", 4, 128u << 20), work + "/large");
  }
  return 0;
}
