// Power cuts at every point of a run: each state the file system may be
// left in (testing/crash_states.h) is rebuilt from the run's recorded
// changes, the next start's recovery runs on it, and the target must be the
// tree before the run or the tree after it, with the manifest and the
// launcher file that go with that tree.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <iostream>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "base/text_convert.h"
#include "config/launcher_settings.h"
#include "copy/copy_job.h"
#include "copy/manifest.h"
#include "copy/run_directory.h"
#include "copy/run_recovery.h"
#include "fs/path.h"
#include "fs/trusted_path.h"
#include "res/string_table.h"
#include "testing/crash_states.h"
#include "testing/kit_builder.h"
#include "testing/scratch_dir.h"

namespace qorv {
namespace {

using testing::FileChange;
using testing::Snapshot;
using testing::TestKit;
using testing::Ticks;
using testing::WriteFile;

WideString W(const std::string& s) { return toWide(NarrowString(s.c_str(), s.size())); }

// The scene: a world with a home (the state directory and the launcher file
// in it), a temporary directory and a template folder.
struct World {
  std::string root, home, target, launcher, manifest;
  std::map<std::string, std::string> Tree() const {
    return testing::Exists(target) ? Snapshot(target) : std::map<std::string, std::string>{};
  }
  std::string Launcher() const {
    return testing::Exists(launcher) ? testing::ReadFile(launcher) : "-";
  }
  std::string Manifest() const {
    return testing::Exists(manifest) ? testing::ReadFile(manifest) : "-";
  }
  std::vector<std::string> RunDirectories() const {
    std::vector<std::string> left;
    // Everywhere a run of this world may have put one.
    for (const std::string& base :
         {StateDirectory() + "runs", ParentOf(target), home, root + "/tmp"}) {
      if (!testing::Exists(base)) continue;
      for (auto& entry : std::filesystem::directory_iterator(base)) {
        if (IsRunDirectoryName(entry.path().filename())) left.push_back(entry.path());
      }
    }
    return left;
  }
};

std::u16string Ascii(const std::string& s) { return std::u16string(s.begin(), s.end()); }

void Record(const WideString& root, bool uninstalled) {
  if (uninstalled) {
    ForgetInstalledLocation(root);
  } else {
    RecordInstalledLocation(root);
  }
}

uint32_t RunJob(KitReader* reader, const std::string& target, bool uninstall) {
  ProgressChannel channel;
  channel.Init();
  channel.SetJob(reader, W(target));
  CopyJob job;
  job.SetFinishPauseMs(0);
  job.SetOnCommitted(&Record);
  job.SetUninstall(uninstall);
  const uint32_t code = job.Run(channel);
  const FailureCause cause = channel.Cause();
  if (!cause.empty()) std::cout << "the run failed: " << Narrow(DescribeCause(cause)) << "\n";
  return code;
}

void Shell(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

class CrashStateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetCurrentLanguage(3);
    world_.root = dir_ / "w";
    world_.home = world_.root + "/home";
    world_.target = world_.home + "/Templates/Acme";
    world_.launcher = world_.home + "/.Vexa/vexalaunch/vexalaunch.cfg";
    testing::MakeDirs(world_.root + "/tmp");
    WriteFile(world_.launcher, "ConfigurationTemplatesLocation=/elsewhere\nOther=kept\n");
    world_.manifest = ManifestPathFor(world_.target + "/");
  }
  void TearDown() override {
    reader_.Close();
    SetCurrentLanguage(0);
  }

  void OpenKit(TestKit kit) {
    reader_.Close();
    kit.trailer = true;  // read in place: nothing of the run outside the world
    kit.WriteTo(dir_ / "qorv.vkt");
    ASSERT_EQ(reader_.Open(dir_ / "qorv.vkt"), 0u) << reader_.Problem();
  }

  // Records `run` from the world as it is, then tries every state a power
  // cut at each point of it may leave. Returns the states explored.
  size_t Explore(const std::function<uint32_t()>& run, bool fails, size_t sample) {
    Shell("rm -rf '" + dir_ / "w0" + "' && cp -a '" + world_.root + "' '" + dir_ / "w0" + "'");
    const auto treeBefore = world_.Tree();
    const std::string launcherBefore = world_.Launcher();
    const std::string manifestBefore = world_.Manifest();
    std::vector<FileChange> changes;
    {
      testing::ChangeRecorder recorder(world_.root);
      if (fails) recorder.FailWriteUnder(world_.target + "/", 2);
      EXPECT_EQ(run() != 0, fails);
      changes = recorder.Take();
    }
    const auto treeAfter = world_.Tree();
    const std::string launcherAfter = world_.Launcher();
    const std::string manifestAfter = world_.Manifest();
    EXPECT_GT(changes.size(), 10u);

    // Every point, each with the bytes not yet flushed all kept, all lost,
    // and (when few) each way between; a seeded sample of the points when
    // `sample` is smaller than their number.
    std::vector<size_t> points;
    for (size_t k = 0; k <= changes.size(); ++k) points.push_back(k);
    if (sample < points.size()) {
      std::mt19937 random(20261209);
      std::shuffle(points.begin(), points.end(), random);
      points.resize(sample);
    }
    size_t explored = 0;
    std::vector<std::string> violations;
    for (size_t k : points) {
      const std::set<ino_t> unflushed = testing::UnflushedAt(changes, k);
      std::vector<std::set<ino_t>> variants{{}, unflushed};
      if (unflushed.size() <= 4 && unflushed.size() > 1) {
        const std::vector<ino_t> files(unflushed.begin(), unflushed.end());
        for (size_t mask = 1; mask + 1 < (size_t{1} << files.size()); ++mask) {
          std::set<ino_t> lost;
          for (size_t i = 0; i < files.size(); ++i) {
            if ((mask >> i & 1) != 0) lost.insert(files[i]);
          }
          variants.push_back(lost);
        }
      }
      if (unflushed.empty()) variants.resize(1);
      for (const std::set<ino_t>& lost : variants) {
        ++explored;
        Shell("rm -rf '" + world_.root + "' && cp -a '" + dir_ / "w0" + "' '" + world_.root + "'");
        // The world was made again behind the program's back.
        ForgetResolvedDirectories();
        testing::Replay(changes, k, lost);
        RecoverAllInterruptedRuns(&Record);
        const auto tree = world_.Tree();
        const bool before = tree == treeBefore;
        const bool after = tree == treeAfter;
        std::string wrong;
        if (!before && !after) {
          wrong = "a tree neither before nor after";
        } else if (world_.Manifest() != (after ? manifestAfter : manifestBefore) &&
                   !(before && world_.Manifest() == manifestBefore)) {
          wrong = "the manifest does not go with the tree";
        } else if (world_.Launcher() != (after ? launcherAfter : launcherBefore) &&
                   !(before && world_.Launcher() == launcherBefore)) {
          wrong = "the launcher file does not go with the tree";
        } else if (!world_.RunDirectories().empty()) {
          wrong = "a run directory is left";
        }
        if (!wrong.empty()) {
          violations.push_back("after " + std::to_string(k) + " of " +
                               std::to_string(changes.size()) + " changes, " +
                               std::to_string(lost.size()) + " files' bytes lost: " + wrong);
        }
      }
    }
    // The world as the run left it, for the next scene.
    Shell("rm -rf '" + world_.root + "' && cp -a '" + dir_ / "w0" + "' '" + world_.root + "'");
    ForgetResolvedDirectories();
    testing::Replay(changes, changes.size(), {});
    std::cout << "crash states: " << explored << " explored, " << violations.size()
              << " violated\n";
    EXPECT_EQ(violations, std::vector<std::string>());
    return explored;
  }

  testing::ScratchDir dir_;
  World world_;
  KitReader reader_;
  testing::ScopedEnv home_{"HOME", dir_ / "w/home"};
  testing::ScopedEnv state_{"XDG_STATE_HOME", dir_ / "w/home/.local/state"};
  testing::ScopedEnv tmpdir_{"TMPDIR", dir_ / "w/tmp"};
};

TEST_F(CrashStateTest, APowerCutAnywhereLeavesTheTreeBeforeOrAfter) {
  // A larger kit and a seeded sample of points with QORV_CRASH_LARGE (make
  // crashcheck); every point of a small one otherwise.
  const bool large = std::getenv("QORV_CRASH_LARGE") != nullptr;
  const size_t files = large ? 40 : 4;
  const size_t sample = large ? 400 : SIZE_MAX;
  TestKit first;
  for (size_t i = 0; i < files; ++i) {
    first.entries.push_back({Ascii("lib\\f" + std::to_string(i) + ".cf"),
                             std::string(100 + i * 37, static_cast<char>('a' + i % 26)),
                             Ticks(1600000000)});
  }
  first.entries.push_back({u"doc\\about.html", "<p>1</p>", Ticks(1600000000)});
  // An upgrade: every file newer, one dropped, one new in a new folder.
  TestKit second;
  for (size_t i = 1; i < files; ++i) {
    second.entries.push_back({Ascii("lib\\f" + std::to_string(i) + ".cf"),
                              "v2 " + std::string(50 + i, 'x'), Ticks(1700000000)});
  }
  second.entries.push_back({u"new\\deep\\g.cf", "g", Ticks(1700000000)});
  // A third release, whose run meets a full disk halfway.
  TestKit third;
  for (size_t i = 0; i < files; ++i) {
    third.entries.push_back({Ascii("lib\\f" + std::to_string(i) + ".cf"), "v3", Ticks(1800000000)});
  }

  struct Scene {
    const char* what;
    const TestKit* kit;
    bool uninstall;
    bool fails;
  };
  const Scene scenes[] = {
      {"a fresh install", &first, false, false},
      {"an upgrade that removes an obsolete file", &second, false, false},
      {"an upgrade rolled back after a full disk", &third, false, true},
      {"an uninstall", &second, true, false},
  };
  size_t total = 0;
  for (const Scene& scene : scenes) {
    SCOPED_TRACE(scene.what);
    std::cout << scene.what << ": ";
    OpenKit(*scene.kit);
    total += Explore([&] { return RunJob(&reader_, world_.target, scene.uninstall); }, scene.fails,
                     sample);
  }
  std::cout << "crash states in all: " << total << "\n";
}

}  // namespace
}  // namespace qorv
