// Where the launcher keeps its per-user files, and the one setting the
// installer reads and writes there: the list of template locations
// (ConfigurationTemplatesLocation). Every other key of the user's file is
// carried through a rewrite with its values in their order. UI thread only:
// the home directory comes from wordexp(3).
#ifndef QORV_CONFIG_LAUNCHER_SETTINGS_H_
#define QORV_CONFIG_LAUNCHER_SETTINGS_H_

#include <vector>

#include "base/text_string.h"
#include "config/config_file.h"

namespace qorv {

using LocationList = std::vector<WideString>;

// Paths, computed afresh at every call.
WideString HomeDirectory();          // the expansion of "~"; empty on failure
WideString PlatformUserDirectory();  // home/.qorv/
WideString UserLauncherFile();       // home/.Vexa/vexalaunch/vexalaunch.cfg
WideString SecondaryLauncherFile();  // home/.qorv//.Vexa/vexalaunch/vexalaunch.cfg
WideString AltLauncherFile();        // home/.Vexa/vexalauncht/vexalaunch.cfg
WideString DefaultTemplateBase();    // home/.qorv/Vexa/vexa8/

// The launcher files of one mode, loaded for one read or one write. In the
// normal mode the user file is UserLauncherFile() and the secondary file
// SecondaryLauncherFile(); in the alternative mode they are AltLauncherFile()
// and UserLauncherFile(). Only the user file is ever written.
class LauncherSettings {
 public:
  explicit LauncherSettings(bool alternative) : alternative_(alternative) {}

  // Reads both files; a missing or unreadable file counts as empty.
  void Load();
  // The distinct values of `key` (ASCII case ignored), user file first.
  std::vector<WideString> GetValues(const WideString& key) const;
  // Writes the user list to the user file, creating its directory when the
  // file does not exist, with one more attempt after creating it again.
  // Throws ConfigWriteError. A user file that exists but could not be read
  // by Load() is never overwritten (code 1): its other settings would be
  // lost.
  void Save();
  // Whether Load() found the user file but could not read it.
  bool UserUnreadable() const { return userUnreadable_; }

  ConfigEntryList& userList() { return user_; }
  const ConfigEntryList& secondaryList() const { return secondary_; }

 private:
  WideString UserFile() const;
  WideString SecondaryFile() const;

  ConfigEntryList user_;
  ConfigEntryList secondary_;
  bool alternative_;
  bool userUnreadable_ = false;
};

// Removes every element whose key (the element with a backslash appended
// unless it is empty or ends in a backslash or slash) equals an earlier
// one's, ignoring ASCII case. The first occurrence survives; order is kept.
void RemoveDuplicateLocations(LocationList& list);

// Appends the template locations of the mode's files to `out`, with
// backslashes turned into slashes and duplicates removed. False when the
// mode's user file exists but could not be read.
bool ReadTemplateLocations(bool alternative, LocationList& out);

// Records `list` (duplicates removed) as the mode's user file's template
// locations. Throws ConfigWriteError. Other installers may write the file
// at the same time: RecordInstalledLocation() is the way in for that.
void WriteTemplateLocations(const LocationList& list, bool alternative);

// What the installer knows of the launcher before it proposes a target.
struct KnownLocations {
  LocationList list;
  bool altFileExists = false;   // AltLauncherFile() exists
  bool fromAltFile = false;     // the list came from the alternative file
  bool userUnreadable = false;  // the user file read exists but could not be read
};

// Reads the locations: from the normal files when the user file exists, else
// from the alternative files when they exist.
KnownLocations ReadKnownLocations();

// The first location that is a writable directory, else
// DefaultTemplateBase() + "tmplts/".
WideString ProposeTargetDirectory(const KnownLocations& known);

// After a successful copy into `target`: puts it (without one trailing
// separator) at the head of the list and writes the list to the launcher
// files. Two installers may finish at once: under an exclusive lock on a
// file beside each launcher file it writes ("vexalaunch.cfg.lock"), it reads
// the files again, so a location recorded meanwhile is kept. Failures are
// swallowed: the installation stands either way. Returns false when a file
// could not be read or written, with `problem` (optional) saying which and
// why.
bool RecordInstalledLocation(const WideString& target, std::string* problem = nullptr);

// What RecordInstalledLocation(target) would do to the launcher's list as
// it is now: the list before and after, and whether that changes it (the
// file is missing, the target is not in it, or not at its head).
struct ListChange {
  LocationList before;
  LocationList after;
  bool changes = false;
};
ListChange RecordingChange(const WideString& target);

// After an uninstall of `target`: removes every spelling of it from the
// launcher files' lists, under the same locks. Nothing else changes; a file
// without it is not written. Returns false when a file could not be read or
// written.
bool ForgetInstalledLocation(const WideString& target, std::string* problem = nullptr);

}  // namespace qorv

#endif  // QORV_CONFIG_LAUNCHER_SETTINGS_H_
