// vkt pack: a kit from a tree of files, and what its author should hear
// about before shipping it.
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "base/text_convert.h"
#include "kit/kit_names.h"
#include "kit/kit_writer.h"
#include "res/string_table.h"
#include "vkt/kit_report.h"
#include "vkt/vkt_command.h"

namespace qorv::vkt {

const char kPackHelp[] =
    "usage: vkt pack [-d LANG:PRODUCT:PROVIDER:DESCPATH]... [--follow-links] [--no-trailer]\n"
    "                [--level N] [--mtime SECONDS] [--strict] -o FILE DIR\n"
    "\n"
    "Packs every regular file under DIR, named relative to DIR, with its\n"
    "modification time, in sorted order: the same tree and options give the\n"
    "same kit. Empty directories are not kept, nor the kit itself when it\n"
    "lies under DIR.\n"
    "\n"
    "  -d LANG:PRODUCT:PROVIDER:DESCPATH\n"
    "        one description for the language LANG (en, ru, de, ...): product and\n"
    "        provider names shown on the welcome page, and the path, relative to\n"
    "        the template directory, of a document the final page may open.\n"
    "        Repeat -d for every language. Without -d the kit has no language\n"
    "        table and empty texts; a single -d with an empty LANG\n"
    "        (-d :PRODUCT:PROVIDER:DESCPATH) gives that form with these texts.\n"
    "        PRODUCT and PROVIDER cannot hold ':'; DESCPATH is the rest.\n"
    "  --follow-links\n"
    "        pack what symbolic links point to; without it a link is refused.\n"
    "  --no-trailer\n"
    "        write the bare compressed stream, without the trailer that lets the\n"
    "        installer and 'vkt verify' detect damage and check signatures.\n"
    "  --level N\n"
    "        deflate level, 0 (stored) to 9 (smallest); 6 without it.\n"
    "  --mtime SECONDS\n"
    "        no entry time later than SECONDS since 1970 (UTC): later ones are\n"
    "        clamped to it, so packs of one tree made at different times give\n"
    "        the same bytes. Without it, SOURCE_DATE_EPOCH, when set, does this.\n"
    "  --strict\n"
    "        refuse to pack when there is a warning: no description at all, a\n"
    "        description document that is not in the kit, a language given\n"
    "        twice, a language the installer has no texts for.\n"
    "  -o FILE\n"
    "        the kit to write (replaced only once it is complete); '-' writes\n"
    "        it to standard output.\n"
    "\n"
    "Refused with a message: names that would leave the template directory or\n"
    "hold control characters or backslashes, files of 4 GiB or more, and\n"
    "files that would start beyond 2 GiB in the unpacked kit.\n";

namespace {

bool ParseDescription(const std::string& text, KitDescription* out) {
  size_t a = text.find(':');
  size_t b = a == std::string::npos ? a : text.find(':', a + 1);
  size_t c = b == std::string::npos ? b : text.find(':', b + 1);
  if (c == std::string::npos) return false;
  out->language = Wide(text.substr(0, a));
  out->product = Wide(text.substr(a + 1, b - a - 1));
  out->provider = Wide(text.substr(b + 1, c - b - 1));
  out->descriptionPath = Wide(text.substr(c + 1));
  replaceAll(out->descriptionPath, WideString(u"/"), WideString(u"\\"));
  return true;
}

// The regular files under `root`, sorted by name. `skip`, when given, is
// the kit being written (its device and inode): as tar leaves out its own
// archive, it is not packed into itself, and its path goes to `*skipped`.
bool CollectFiles(const std::string& root, bool followLinks, const struct stat* skip,
                  std::vector<KitSourceFile>* files, std::string* skipped, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  auto options =
      followLinks ? fs::directory_options::follow_directory_symlink : fs::directory_options::none;
  fs::recursive_directory_iterator it(root, options, ec), end;
  if (ec) {
    *error = root + ": " + ec.message();
    return false;
  }
  for (; it != end; it.increment(ec)) {
    if (ec) {
      *error = ec.message();
      return false;
    }
    const std::string path = it->path().string();
    struct stat st;
    if (::lstat(path.c_str(), &st) != 0) {
      *error = path + ": " + std::strerror(errno);
      return false;
    }
    if (S_ISLNK(st.st_mode)) {
      if (!followLinks) {
        *error = path + " is a symbolic link (use --follow-links to pack what it points to)";
        return false;
      }
      if (::stat(path.c_str(), &st) != 0) {
        *error = path + " is a broken symbolic link";
        return false;
      }
    }
    if (S_ISDIR(st.st_mode)) continue;
    if (skip != nullptr && st.st_dev == skip->st_dev && st.st_ino == skip->st_ino) {
      *skipped = path;
      continue;
    }
    if (!S_ISREG(st.st_mode)) {
      *error = path + " is neither a regular file nor a directory";
      return false;
    }
    std::string relative = fs::path(path).lexically_relative(root).string();
    if (relative.find('\\') != std::string::npos) {
      *error = path + " holds a backslash, which kits use as their separator";
      return false;
    }
    KitSourceFile file;
    file.name = Wide(relative);
    if (!(toNarrow(file.name) == NarrowString(relative.c_str()))) {
      *error = path + " is not valid UTF-8";
      return false;
    }
    replaceAll(file.name, WideString(u"/"), WideString(u"\\"));
    file.diskPath = path;
    file.size = static_cast<uint64_t>(st.st_size);
    file.time = FileTime::FromTicks(FileTimeFromUnix(st.st_mtim.tv_sec).Ticks() +
                                    static_cast<uint64_t>(st.st_mtim.tv_nsec / 100));
    files->push_back(std::move(file));
  }
  std::sort(files->begin(), files->end(),
            [](const KitSourceFile& a, const KitSourceFile& b) { return a.name < b.name; });
  return true;
}

// What a kit author should hear about before shipping the kit.
std::vector<std::string> PackWarnings(const KitContent& content) {
  std::vector<std::string> warnings;
  if (content.descriptions.empty()) {
    warnings.push_back(
        "the kit has no description: the welcome page shows no product or provider "
        "(give -d LANG:PRODUCT:PROVIDER:DESCPATH)");
  }
  std::set<std::string> languages;
  std::set<WideString> names;
  for (const KitSourceFile& file : content.files) names.insert(file.name);
  for (const KitDescription& d : content.descriptions) {
    std::string language = Narrow(d.language);
    for (char& c : language) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (!language.empty() && !languages.insert(language).second) {
      warnings.push_back("the language " + language +
                         " is given twice: the installer uses the first");
    }
    if (!language.empty() && LanguageNumberOf(NarrowString(language.c_str())) == 0) {
      warnings.push_back("the installer has no texts in the language \"" + language + "\"");
    }
    if (!d.descriptionPath.empty() && names.count(d.descriptionPath) == 0) {
      warnings.push_back("the description document " + TreeName(d.descriptionPath) +
                         " is not in the kit");
    }
  }
  return warnings;
}

}  // namespace

int Pack(const Arguments& args) {
  KitContent content;
  KitWriteOptions options;
  std::string output;
  bool followLinks = false;
  bool strict = false;
  long long clamp = -1;
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != '\0') {
    if (!ParseNumber(epoch, 0, kLatestEntrySeconds, &clamp)) {
      return Usage(std::string("SOURCE_DATE_EPOCH=") + epoch + ": expected seconds since 1970");
    }
  }
  for (const auto& [option, value] : args.options) {
    if (option == "-o") {
      output = value;
    } else if (option == "-d") {
      KitDescription description;
      if (!ParseDescription(value, &description)) {
        return Usage("-d " + value + ": expected LANG:PRODUCT:PROVIDER:DESCPATH");
      }
      content.descriptions.push_back(description);
    } else if (option == "--level") {
      long long level = 0;
      if (!ParseNumber(value, 0, 9, &level)) return Usage("--level takes a number from 0 to 9");
      options.level = static_cast<int>(level);
    } else if (option == "--mtime") {
      if (!ParseNumber(value, 0, kLatestEntrySeconds, &clamp)) {
        return Usage("--mtime takes seconds since 1970");
      }
    } else if (option == "--strict") {
      strict = true;
    } else if (option == "--follow-links") {
      followLinks = true;
    } else if (option == "--no-trailer") {
      options.trailer = false;
    }
  }
  if (args.operands.size() > 1) return Usage("pack takes one directory");
  const std::string root = args.operands.empty() ? std::string() : args.operands[0];
  if (output.empty()) return Usage("pack needs -o FILE");
  if (root.empty()) return Usage("pack needs a directory");
  bool singleWithoutLanguage =
      content.descriptions.size() == 1 && content.descriptions[0].language.empty();
  content.languageTable = !content.descriptions.empty() && !singleWithoutLanguage;
  for (const KitDescription& d : content.descriptions) {
    if (content.languageTable && d.language.empty()) {
      return Usage("with several -d, every one needs a language");
    }
    if (!d.descriptionPath.empty() && !IsSafeEntryName(d.descriptionPath)) {
      return Fail(output, "description path \"" + Narrow(d.descriptionPath) + "\" " +
                              UnsafeNameReason(d.descriptionPath));
    }
  }
  std::string error;
  // The kit may already be there, inside the tree: an earlier pack, or
  // standard output sent to a file in it.
  struct stat kitFile;
  const bool kitThere = output == "-"
                            ? ::fstat(1, &kitFile) == 0 && S_ISREG(kitFile.st_mode)
                            : ::stat(output.c_str(), &kitFile) == 0 && S_ISREG(kitFile.st_mode);
  std::string skipped;
  if (!CollectFiles(root, followLinks, kitThere ? &kitFile : nullptr, &content.files, &skipped,
                    &error)) {
    return Fail(root, error);
  }
  if (!skipped.empty()) Warn(skipped + " is the kit being written: it is not packed into itself");
  // As tar --clamp-mtime: nothing later than the given moment.
  if (clamp >= 0) {
    const FileTime latest = FileTimeFromUnix(clamp);
    for (KitSourceFile& file : content.files) {
      if (file.time.Ticks() > latest.Ticks()) file.time = latest;
    }
  }
  const std::vector<std::string> warnings = PackWarnings(content);
  for (const std::string& warning : warnings) Warn(warning);
  if (strict && !warnings.empty()) return Fail(output, "not packed: --strict and warnings");
  Progress progress("packing");
  options.progress = [&progress](uint64_t done, uint64_t total) { progress.Update(done, total); };
  const bool toStdout = output == "-";
  if (toStdout ? !WriteKitTo(content, 1, &error, options)
               : !WriteKit(content, output, &error, options)) {
    progress.Finish();
    return Fail(toStdout ? "standard output" : output, error);
  }
  progress.Finish();
  uint64_t total = 0;
  for (const KitSourceFile& f : content.files) total += f.size;
  // The kit itself may be what standard output carries.
  std::fprintf(toStdout ? stderr : stdout, "%s: %zu files, %llu bytes\n",
               toStdout ? "standard output" : output.c_str(), content.files.size(),
               static_cast<unsigned long long>(total));
  return kOk;
}

}  // namespace qorv::vkt
