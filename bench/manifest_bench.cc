// What the manifest and the log cost an installation of 10,000 files of
// 4 KiB: taking the digest of every byte written, and writing the manifest
// durably, each against the whole installation; reading it back for the
// next run; and writing the run's log line by line.
#include <algorithm>
#include <chrono>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "base/text_convert.h"
#include "bench/bench_trees.h"
#include "copy/copy_job.h"
#include "copy/manifest.h"
#include "copy/progress_channel.h"
#include "copy/run_log.h"
#include "fs/file_util.h"
#include "kit/kit_crypto.h"
#include "kit/kit_reader.h"
#include "res/string_table.h"

namespace {

using namespace qorv;
using namespace qorv::bench;
using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

template <typename F>
double Best(int rounds, F&& f) {
  double best = 1e9;
  for (int i = 0; i < rounds; ++i) {
    auto start = Clock::now();
    f();
    best = std::min(best, Seconds(start));
  }
  return best;
}

}  // namespace

int main(int argc, char** argv) {
  std::setlocale(LC_ALL, "C.UTF-8");
  SetCurrentLanguage(3);
  std::string work = std::filesystem::absolute(argc > 1 ? argv[1] : "bench-work").string();
  std::filesystem::create_directories(work + "/tmp");
  ::setenv("TMPDIR", (work + "/tmp").c_str(), 1);
  ::setenv("XDG_STATE_HOME", (work + "/state").c_str(), 1);
  const size_t kFiles = 10000;
  KitContent content = MakeTree(work + "/small", kFiles, 4096);
  const std::string kit = work + "/10000-small-files.vkt";
  EnsureKit(content, kit);
  KitReader reader;
  if (reader.Open(kit) != 0) {
    std::fprintf(stderr, "cannot open %s\n", kit.c_str());
    return 1;
  }
  const std::string target = work + "/manifested";

  // The whole installation, manifest and digests included; then with the
  // run's log written line by line.
  auto clean = [&] {
    std::filesystem::remove_all(target);
    std::filesystem::remove_all(work + "/state/qorv/manifests");
    std::system("sync");
  };
  auto installOnce = [&] {
    ProgressChannel channel;
    channel.Init();
    channel.SetJob(&reader, Wide(target));
    CopyJob job;
    job.SetFinishPauseMs(0);
    if (job.Run(channel) != 0) std::fprintf(stderr, "installation failed\n");
  };
  // Best of four, without and with the log in turns (ABBA), each from a
  // clean target after a sync: whichever runs second in a pair runs on a
  // busier page cache, so each side takes both places equally often.
  const char* args[] = {"manifest_bench"};
  double install = 1e9;
  double logged = 1e9;
  auto plainRun = [&] {
    clean();
    install = std::min(install, Best(1, installOnce));
  };
  auto loggedRun = [&] {
    clean();
    OpenRunLog(1, args);
    logged = std::min(logged, Best(1, installOnce));
    CloseRunLog();
  };
  for (int round = 0; round < 4; ++round) {
    if (round % 2 == 0) {
      plainRun();
      loggedRun();
    } else {
      loggedRun();
      plainRun();
    }
  }
  OpenRunLog(1, args);
  // The log's own cost, apart from the disk's mood: one line per file.
  double lines = Best(3, [&] {
    for (size_t i = 0; i < kFiles; ++i) LogLine("write d00/f0000.txt");
  });
  CloseRunLog();

  Manifest manifest;
  if (LoadManifest(target + "/", &manifest) != ManifestState::kRead) {
    std::fprintf(stderr, "no manifest after the installation\n");
    return 1;
  }
  const std::string path = ManifestPathFor(target + "/");
  std::string text;
  double write = Best(5, [&] {
    text = EncodeManifest(manifest);
    ReplaceFileDurably(path, text);
  });
  double read = Best(5, [&] {
    Manifest back;
    LoadManifest(target + "/", &back);
  });
  std::string bytes(4096, 'x');
  double digests = Best(3, [&] {
    for (size_t i = 0; i < kFiles; ++i) Sha256Of(bytes.data(), bytes.size());
  });
  std::printf("%-22s install %6.3f s, manifest included (%zu files, %zu bytes)\n",
              "manifest-10000-files", install, manifest.files.size(), text.size());
  std::printf(
      "%-22s write %6.3f s (%.1f%% of the install), read %6.3f s, digests of the "
      "files written %6.3f s (%.1f%%)\n",
      "", write, 100 * write / install, read, digests, 100 * digests / install);
  std::printf(
      "%-22s with the run's log: install %6.3f s (%+.1f%%); %zu log lines alone %6.3f s "
      "(%.1f%%)\n",
      "", logged, 100 * (logged - install) / install, kFiles, lines, 100 * lines / install);
  std::filesystem::remove_all(target);
  return 0;
}
