#include "install/preparation.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <string_view>

#include "base/text_convert.h"
#include "copy/run_log.h"
#include "fs/error_codes.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/fs_queries.h"
#include "fs/path.h"
#include "kit/kit_bundle.h"
#include "res/string_table.h"

namespace qorv {

namespace {

std::u16string_view View(const WideString& text) { return {text.c_str(), text.size()}; }

}  // namespace

bool CarriesItsKit() {
  std::string self;
  KitExtent extent;
  return ReadLink("/proc/self/exe", &self) && !self.empty() && KitExtentOfPath(self, &extent) &&
         extent.bundled;
}

WideString LocateKit(bool usecwd) {
  std::string self;
  const bool knowSelf = ReadLink("/proc/self/exe", &self) && !self.empty();
  // A kit the installer carries (vkt bundle) comes before any beside it.
  KitExtent extent;
  if (knowSelf && KitExtentOfPath(self, &extent) && extent.bundled) return Wide(self);
  std::string directory;
  if (usecwd) {
    directory = CurrentDirectory();
    if (directory.empty()) return WideString();
  } else {
    if (!knowSelf) return WideString();
    size_t slash = self.rfind('/');
    directory = slash == std::string::npos ? self : self.substr(0, slash);
  }
  return Wide(directory + "/qorv.vkt");
}

WideString CleanTarget(const WideString& target) {
  WideString result = target;
  for (const char16_t* scheme : {u"http://", u"https://", u"ftp://"}) {
    if (View(result).find(scheme) != std::u16string_view::npos) result = WideString();
  }
  size_t file = View(result).find(u"file://");
  if (file != std::u16string_view::npos) result.erase(file, 7);
  replaceAll(result, WideString(u"\n"), WideString());
  replaceAll(result, WideString(u"\r"), WideString());
  return result;
}

WideString PathUnderTarget(const WideString& target, const WideString& relative) {
  WideString full = target;
  while (EndsWithSeparator(full)) full.resize(full.size() - 1);
  full.push_back(u'/');
  full.append(relative);
  replaceAll(full, WideString(u"\\"), WideString(u"/"));
  return full;
}

WideString InstalledDescription(const KitReader& reader, const WideString& language,
                                const WideString& target) {
  WideString description = reader.GetDescriptionPath(language);
  if (description.empty()) return WideString();
  WideString full = PathUnderTarget(target, description);
  return PathExists(Narrow(full)) ? full : WideString();
}

WideString ResolveTypedDirectory(const WideString& typed) {
  WideString path = typed;
  replaceAll(path, WideString(u"\\"), WideString(u"/"));
  if (path.empty()) return path;
  if (path[0] == u'~' && (path.size() == 1 || path[1] == u'/')) {
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0') {
      WideString resolved = Wide(home);
      resolved.append(WideString(path.c_str() + 1, path.size() - 1));
      return resolved;
    }
  }
  if (path[0] == u'/') return path;
  std::string cwd = CurrentDirectory();
  if (cwd.empty()) return path;
  WideString resolved = Wide(cwd);
  if (resolved.empty() || resolved[resolved.size() - 1] != u'/') resolved.push_back(u'/');
  resolved.append(path);
  return resolved;
}

WideString WelcomeText(const KitReader& reader, const WideString& language) {
  WideString product;
  WideString provider;
  reader.GetProductAndProvider(language, &product, &provider);
  if (product.empty()) product = LookupText("IDS_DEFPRODUCT");
  if (provider.empty()) provider = LookupText("IDS_DEFPROVIDER");
  WideString message = LookupText("IDS_WELCOME_TITLE");
  message.append(WideString(u" "));
  message.append(product);
  message.append(WideString(u" ("));
  message.append(provider);
  message.append(WideString(u")."));
  return message;
}

const char* MessageKeyOf(PrepareFailure failure) {
  switch (failure) {
    case PrepareFailure::kNoSource:
      return "IDS_ERROR_NOSOURCE";
    case PrepareFailure::kNoSpace:
      return "IDS_ERROR_NOSPACE";
    case PrepareFailure::kDamagedSource:
      return "IDS_ERROR_DAMAGEDSOURCE";
    case PrepareFailure::kUntrusted:
      return "IDS_ERROR_UNTRUSTED";
    case PrepareFailure::kNone:
      break;
  }
  return "";
}

PrepareFailure Prepare(bool usecwd, const WideString& kitPath, KitReader& reader, Preparation* out,
                       const std::vector<PublicKey>& trusted, bool headOnly) {
  out->kitPath = kitPath.empty() ? LocateKit(usecwd) : kitPath;
  if (out->kitPath.empty() || !PathExists(Narrow(out->kitPath))) {
    std::string self;
    const bool knowSelf = kitPath.empty() && ReadLink("/proc/self/exe", &self);
    // An installer that carried its kit and lost the end of it (a download
    // cut short) is damaged, not one without a kit.
    const uint64_t stray = knowSelf ? StrayBytesAfterProgram(self) : 0;
    if (stray > 0) {
      out->kitPath = Wide(self);
      out->problem = self + ": " + std::to_string(stray) +
                     " bytes follow the program, but no kit ends there: the file is cut short or "
                     "damaged";
      LogLine("the kit inside the installer is refused: " + out->problem);
      return PrepareFailure::kDamagedSource;
    }
    // Every place looked in: the installer itself (a kit inside it), then
    // the kit file.
    std::string places;
    if (knowSelf) places = self + ", ";
    places += out->kitPath.empty() ? std::string("qorv.vkt") : Narrow(out->kitPath);
    out->problem = Narrow(LookupText("IDS_CAUSE_NO_KIT")) + ": " + places;
    LogLine("no kit: looked for " + places);
    return PrepareFailure::kNoSource;
  }

  out->locations = ReadKnownLocations();
  out->target = CleanTarget(ProposeTargetDirectory(out->locations));

  const std::string kit = Narrow(out->kitPath);
  // A pipe or a device in the kit's place would have the installer wait for
  // a writer, or read forever, where a signal cannot end it at once.
  struct stat kitStat;
  if (Stat(kit, &kitStat) && !S_ISREG(kitStat.st_mode)) {
    out->problem = kit + ": not a regular file";
    LogLine("the kit is refused: " + out->problem);
    return PrepareFailure::kDamagedSource;
  }
  KitTrailer trailer;
  std::string ignored;
  KitExtent extent;
  if (ReadTrailerOf(kit, &trailer, &ignored) == TrailerState::kPresent) {
    // Read in place, or, when it cannot be, unpacked after the reader has
    // checked that the temporary directory holds it: the run checks the
    // room for the backups.
  } else if (!headOnly && KitExtentOfPath(kit, &extent)) {
    // Without a trailer, three times the kit: the unpacked kit and the
    // backups of what it replaces both live in the temporary directory.
    const uint64_t size = extent.size;
    if (size > UINT64_MAX / 3 || size * 3 > FreeSpaceInTemp()) return PrepareFailure::kNoSpace;
  }
  uint64_t kitSize = 0;
  FileSize(kit, &kitSize);
  LogLine("kit: " + kit + ", " + std::to_string(kitSize) + " bytes");
  uint32_t code = headOnly ? reader.OpenHeadOnly(kit) : reader.Open(kit);
  if (code != 0) {
    out->problem = reader.Problem();
    LogLine("the kit is refused (code " + std::to_string(code) + "): " + out->problem);
    return code == kErrorDiskFull ? PrepareFailure::kNoSpace : PrepareFailure::kDamagedSource;
  }
  out->checked = reader.HasTrailer();
  LogLine(std::string("kit opened: ") + std::to_string(reader.EntryCount()) + " entries, " +
          (reader.HasTrailer() ? "digest " + Hex(reader.Trailer().digest) + " matches"
                               : "no trailer, so no digest to check") +
          "; proposed directory " + Narrow(out->target));
  for (const KitSignature& s : reader.Trailer().signatures) out->signedBy.push_back(Hex(s.keyId));
  if (!trusted.empty()) {
    auto signedBy = [&reader](const PublicKey& key) {
      return reader.HasTrailer() && ValidSignatureBy(reader.Trailer(), key) != nullptr;
    };
    if (std::none_of(trusted.begin(), trusted.end(), signedBy)) {
      out->problem = reader.HasTrailer() ? "no signature by a trusted key"
                                         : "no trailer: the kit cannot be checked";
      reader.Close();
      return PrepareFailure::kUntrusted;
    }
  }
  return PrepareFailure::kNone;
}

}  // namespace qorv
