#include "config/launcher_settings.h"

#include <fcntl.h>
#include <unistd.h>
#include <wordexp.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <unordered_set>

#include "base/text_convert.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/fs_queries.h"
#include "fs/path.h"

namespace qorv {

namespace {

const char16_t kLocationKey[] = u"ConfigurationTemplatesLocation";

WideString Concat(std::initializer_list<const WideString> parts) {
  WideString result;
  for (const WideString& part : parts) result.append(part);
  return result;
}

}  // namespace

WideString HomeDirectory() {
  wordexp_t words;
  if (::wordexp("~", &words, 0) != 0) return WideString();
  WideString home;
  if (words.we_wordc > 0) home = toWide(NarrowString(words.we_wordv[0]));
  ::wordfree(&words);
  return home;
}

WideString PlatformUserDirectory() { return Concat({HomeDirectory(), u"/", u".qorv", u"/"}); }

WideString UserLauncherFile() {
  return Concat({HomeDirectory(), u"/", u".Vexa/vexalaunch", u"/", u"vexalaunch.cfg"});
}

WideString SecondaryLauncherFile() {
  return Concat({PlatformUserDirectory(), u"/", u".Vexa/vexalaunch", u"/", u"vexalaunch.cfg"});
}

WideString AltLauncherFile() {
  return Concat({HomeDirectory(), u"/", u".Vexa/vexalauncht", u"/", u"vexalaunch.cfg"});
}

WideString DefaultTemplateBase() {
  return Concat({PlatformUserDirectory(), u"Vexa", u"/", u"vexa", fromInteger(8, 10), u"/"});
}

WideString LauncherSettings::UserFile() const {
  return alternative_ ? AltLauncherFile() : UserLauncherFile();
}

WideString LauncherSettings::SecondaryFile() const {
  return alternative_ ? UserLauncherFile() : SecondaryLauncherFile();
}

void LauncherSettings::Load() {
  secondary_.Read(SecondaryFile());
  userUnreadable_ = user_.Read(UserFile()) == ConfigEntryList::ReadResult::kUnreadable;
}

std::vector<WideString> LauncherSettings::GetValues(const WideString& key) const {
  std::vector<WideString> result;
  std::unordered_set<std::u16string> seen;
  for (const ConfigEntryList* list : {&user_, &secondary_}) {
    const std::vector<WideString>* values = list->Find(key);
    if (values == nullptr) continue;
    for (const WideString& value : *values) {
      if (seen.insert(FoldCase(value)).second) result.push_back(value);
    }
  }
  return result;
}

void LauncherSettings::Save() {
  WideString file = UserFile();
  if (userUnreadable_) throw ConfigWriteError(1, Narrow(file));
  auto makeDirectory = [&file] {
    size_t cut = file.size();
    while (cut > 0 && file[cut - 1] != u'/' && file[cut - 1] != u'\\') --cut;
    ShellMakeDirs(Narrow(cut == 0 ? file : WideString(file.c_str(), cut - 1)));
  };
  if (!PathExists(Narrow(file))) makeDirectory();
  try {
    user_.Write(file);
  } catch (const ConfigWriteError&) {
    // The directory may have vanished since: make it once more and retry.
    makeDirectory();
    user_.Write(file);
  }
}

namespace {

// What makes two spellings of a location the same one.
std::u16string LocationKey(const WideString& element) {
  WideString key = element;
  if (!element.empty() && !EndsWithSeparator(element)) key.push_back(u'\\');
  return FoldCase(key);
}

// Looser, for forgetting an uninstalled location: every spelling of it goes
// (either separator, runs of them and "." components, trailing ones, any
// ASCII case).
std::u16string AnySpellingKey(const WideString& location) {
  WideString slashed = location;
  replaceAll(slashed, WideString(u"\\"), WideString(u"/"));
  return FoldCase(Wide(StripTrailingSlashes(LexicallyNormal(Narrow(slashed)))));
}

}  // namespace

void RemoveDuplicateLocations(LocationList& list) {
  std::unordered_set<std::u16string> seen;
  LocationList kept;
  for (const WideString& element : list) {
    if (seen.insert(LocationKey(element)).second) kept.push_back(element);
  }
  list.swap(kept);
}

namespace {

// The template locations of loaded files, backslashes turned into slashes,
// duplicates removed.
LocationList LocationsOf(const LauncherSettings& settings) {
  LocationList found = settings.GetValues(WideString(kLocationKey));
  for (WideString& element : found) replaceAll(element, WideString(u"\\"), WideString(u"/"));
  RemoveDuplicateLocations(found);
  return found;
}

// Records `list` in loaded files' user file. Throws ConfigWriteError.
void StoreLocations(LauncherSettings& settings, const LocationList& list) {
  LocationList copy = list;
  RemoveDuplicateLocations(copy);
  settings.userList().Set(WideString(kLocationKey), copy);
  settings.Save();
}

}  // namespace

bool ReadTemplateLocations(bool alternative, LocationList& out) {
  LauncherSettings settings(alternative);
  settings.Load();
  LocationList found = LocationsOf(settings);
  out.insert(out.end(), found.begin(), found.end());
  RemoveDuplicateLocations(out);
  return !settings.UserUnreadable();
}

void WriteTemplateLocations(const LocationList& list, bool alternative) {
  LauncherSettings settings(alternative);
  settings.Load();
  StoreLocations(settings, list);
}

KnownLocations ReadKnownLocations() {
  KnownLocations known;
  known.altFileExists = PathExists(Narrow(AltLauncherFile()));
  if (PathExists(Narrow(UserLauncherFile()))) {
    known.userUnreadable = !ReadTemplateLocations(false, known.list);
  } else if (known.altFileExists) {
    known.userUnreadable = !ReadTemplateLocations(true, known.list);
    known.fromAltFile = !known.list.empty();
  }
  return known;
}

WideString ProposeTargetDirectory(const KnownLocations& known) {
  for (const WideString& location : known.list) {
    if (IsWritableDirectory(Narrow(location))) return location;
  }
  return Concat({DefaultTemplateBase(), u"tmplts", u"/"});
}

namespace {

// Exclusive flocks on "<launcher file>.lock" beside launcher files, held for
// the life of the object. The files themselves are replaced by a rename on
// every write, so they cannot carry the lock.
class LauncherLocks {
 public:
  LauncherLocks() = default;
  LauncherLocks(const LauncherLocks&) = delete;
  LauncherLocks& operator=(const LauncherLocks&) = delete;
  ~LauncherLocks() = default;
  // Locks beside `file`, making its directory first when `make` is set.
  // Where no lock file can be made the file cannot be written either: the
  // write then fails on its own.
  void Lock(const WideString& file, bool make) {
    std::string path = Narrow(file);
    if (make && path.find('/', 1) != std::string::npos) ShellMakeDirs(DirName(path));
    ScopedFd fd = OpenFile(path + ".lock", O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
    if (!fd.IsValid()) return;
    LockExclusive(fd.Get(), true);
    fds_.push_back(std::move(fd));
  }

 private:
  std::vector<ScopedFd> fds_;
};

}  // namespace

namespace {

// "<file>: <reason>" of a failed write, for the user.
std::string WriteProblem(const ConfigWriteError& e) {
  std::string reason = e.error() != 0 ? std::strerror(e.error()) : e.what();
  return e.path().empty() ? reason : e.path() + ": " + reason;
}

std::string ReadProblem(const WideString& file) { return Narrow(file) + ": cannot be read whole"; }

}  // namespace

ListChange RecordingChange(const WideString& target) {
  WideString head = target;
  if (EndsWithSeparator(head)) head.resize(head.size() - 1);
  ListChange change;
  const KnownLocations known = ReadKnownLocations();
  change.before = known.list;
  change.after = {head};
  change.after.insert(change.after.end(), known.list.begin(), known.list.end());
  RemoveDuplicateLocations(change.after);
  change.changes = change.after != change.before ||
                   (!known.fromAltFile && !PathExists(Narrow(UserLauncherFile())));
  return change;
}

bool RecordInstalledLocation(const WideString& target, std::string* problem) {
  std::string ignored;
  if (problem == nullptr) problem = &ignored;
  WideString head = target;
  if (EndsWithSeparator(head)) head.resize(head.size() - 1);
  try {
    // Always in this order, the normal file's lock first: two installers
    // never wait for each other the wrong way round.
    LauncherLocks locks;
    bool altExists = PathExists(Narrow(AltLauncherFile()));
    locks.Lock(UserLauncherFile(), !altExists);
    if (altExists) locks.Lock(AltLauncherFile(), false);
    // Under the locks the files are read again, each once (they may be
    // many megabytes): the one the list comes from, as ReadKnownLocations()
    // chooses it, is also the one that is written.
    LauncherSettings normal(false);
    LauncherSettings alt(true);
    bool normalLoaded = false;
    bool altLoaded = false;
    LocationList list{head};
    bool fromAltFile = false;
    if (PathExists(Narrow(UserLauncherFile()))) {
      normal.Load();
      normalLoaded = true;
      // A list that could not be read whole cannot be merged into.
      if (normal.UserUnreadable()) {
        *problem = ReadProblem(UserLauncherFile());
        return false;
      }
      LocationList found = LocationsOf(normal);
      list.insert(list.end(), found.begin(), found.end());
    } else if (altExists) {
      alt.Load();
      altLoaded = true;
      if (alt.UserUnreadable()) {
        *problem = ReadProblem(AltLauncherFile());
        return false;
      }
      LocationList found = LocationsOf(alt);
      list.insert(list.end(), found.begin(), found.end());
      fromAltFile = list.size() > 1;
    }
    if (!fromAltFile) {
      if (!normalLoaded) normal.Load();
      StoreLocations(normal, list);
    }
    if (altExists) {
      if (!altLoaded) alt.Load();
      StoreLocations(alt, list);
    }
    return true;
  } catch (const ConfigWriteError& e) {
    *problem = WriteProblem(e);
    return false;
  } catch (...) {
    return false;
  }
}

bool ForgetInstalledLocation(const WideString& target, std::string* problem) {
  std::string ignored;
  if (problem == nullptr) problem = &ignored;
  const std::u16string goneKey = AnySpellingKey(target);
  try {
    // The same locks, in the same order, as RecordInstalledLocation().
    LauncherLocks locks;
    bool altExists = PathExists(Narrow(AltLauncherFile()));
    bool normalExists = PathExists(Narrow(UserLauncherFile()));
    if (normalExists) locks.Lock(UserLauncherFile(), false);
    if (altExists) locks.Lock(AltLauncherFile(), false);
    bool ok = true;
    for (bool alternative : {false, true}) {
      if (!(alternative ? altExists : normalExists)) continue;
      LauncherSettings settings(alternative);
      settings.Load();
      if (settings.UserUnreadable()) {
        *problem = ReadProblem(alternative ? AltLauncherFile() : UserLauncherFile());
        ok = false;
        continue;
      }
      LocationList list = LocationsOf(settings);
      LocationList kept;
      for (const WideString& element : list) {
        if (AnySpellingKey(element) != goneKey) kept.push_back(element);
      }
      if (kept.size() != list.size()) StoreLocations(settings, kept);
    }
    return ok;
  } catch (const ConfigWriteError& e) {
    *problem = WriteProblem(e);
    return false;
  } catch (...) {
    return false;
  }
}

}  // namespace qorv
