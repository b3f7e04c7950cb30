#include "config/launcher_settings.h"

#include <wordexp.h>

#include <string>
#include <unordered_set>

#include "base/text_convert.h"
#include "fs/file_ops.h"
#include "fs/fs_queries.h"

namespace qorv {

namespace {

const char16_t kLocationKey[] = u"ConfigurationTemplatesLocation";

WideString Join(std::initializer_list<const WideString> parts) {
  WideString result;
  for (const WideString& part : parts) result.append(part);
  return result;
}

bool EndsWithSeparator(const WideString& text) {
  return !text.empty() && (text[text.size() - 1] == u'/' || text[text.size() - 1] == u'\\');
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

WideString PlatformUserDirectory() { return Join({HomeDirectory(), u"/", u".qorv", u"/"}); }

WideString UserLauncherFile() {
  return Join({HomeDirectory(), u"/", u".Vexa/vexalaunch", u"/", u"vexalaunch.cfg"});
}

WideString SecondaryLauncherFile() {
  return Join({PlatformUserDirectory(), u"/", u".Vexa/vexalaunch", u"/", u"vexalaunch.cfg"});
}

WideString AltLauncherFile() {
  return Join({HomeDirectory(), u"/", u".Vexa/vexalauncht", u"/", u"vexalaunch.cfg"});
}

WideString DefaultTemplateBase() {
  return Join({PlatformUserDirectory(), u"Vexa", u"/", u"vexa", fromInteger(8, 10), u"/"});
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
  if (userUnreadable_) throw ConfigWriteError(1);
  auto makeDirectory = [&file] {
    size_t cut = file.size();
    while (cut > 0 && file[cut - 1] != u'/' && file[cut - 1] != u'\\') --cut;
    ShellMakeDirs(cut == 0 ? file : WideString(file.c_str(), cut - 1));
  };
  if (!PathExists(file)) makeDirectory();
  try {
    user_.Write(file);
  } catch (const ConfigWriteError&) {
    // The directory may have vanished since: make it once more and retry.
    makeDirectory();
    user_.Write(file);
  }
}

void RemoveDuplicateLocations(LocationList& list) {
  std::unordered_set<std::u16string> seen;
  LocationList kept;
  for (const WideString& element : list) {
    WideString key = element;
    if (!element.empty() && !EndsWithSeparator(element)) key.push_back(u'\\');
    if (seen.insert(FoldCase(key)).second) kept.push_back(element);
  }
  list.swap(kept);
}

void ReadTemplateLocations(bool alternative, LocationList& out) {
  LauncherSettings settings(alternative);
  settings.Load();
  for (const WideString& value : settings.GetValues(WideString(kLocationKey))) {
    out.push_back(value);
  }
  for (WideString& element : out) replaceAll(element, WideString(u"\\"), WideString(u"/"));
  RemoveDuplicateLocations(out);
}

void WriteTemplateLocations(const LocationList& list, bool alternative) {
  LauncherSettings settings(alternative);
  settings.Load();
  LocationList copy = list;
  RemoveDuplicateLocations(copy);
  settings.userList().Set(WideString(kLocationKey), copy);
  settings.Save();
}

KnownLocations ReadKnownLocations() {
  KnownLocations known;
  known.altFileExists = PathExists(AltLauncherFile());
  if (PathExists(UserLauncherFile())) {
    ReadTemplateLocations(false, known.list);
  } else if (known.altFileExists) {
    ReadTemplateLocations(true, known.list);
    known.fromAltFile = !known.list.empty();
  }
  return known;
}

WideString ProposeTargetDirectory(const KnownLocations& known) {
  for (const WideString& location : known.list) {
    if (IsWritableDirectory(location)) return location;
  }
  return Join({DefaultTemplateBase(), u"tmplts", u"/"});
}

bool RecordInstalledLocation(const KnownLocations& known, const WideString& target) {
  WideString head = target;
  if (EndsWithSeparator(head)) head.resize(head.size() - 1);
  LocationList list;
  list.push_back(head);
  list.insert(list.end(), known.list.begin(), known.list.end());
  try {
    if (!known.fromAltFile) WriteTemplateLocations(list, false);
    if (known.altFileExists) WriteTemplateLocations(list, true);
    return true;
  } catch (...) {
    return false;
  }
}

}  // namespace qorv
