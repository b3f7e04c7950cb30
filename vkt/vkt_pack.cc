// vkt pack: a kit from a tree of files, and what its author should hear
// about before shipping it.
#include <fnmatch.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "base/text_convert.h"
#include "fs/file_util.h"
#include "kit/kit_names.h"
#include "kit/kit_writer.h"
#include "res/string_table.h"
#include "vkt/descriptions_file.h"
#include "vkt/kit_report.h"
#include "vkt/vkt_command.h"

namespace qorv::vkt {

const char kPackHelp[] =
    "usage: vkt pack [-d LANG:PRODUCT:PROVIDER:DESCPATH]... [--descriptions FILE]\n"
    "                [--exclude PATTERN]... [--exclude-vcs] [--exclude-from FILE]...\n"
    "                [--follow-links] [--no-trailer] [--no-entry-digests] [--level N]\n"
    "                [--mtime SECONDS] [--strict] [--quiet] [--allow-empty] -o FILE DIR\n"
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
    "  --descriptions FILE\n"
    "        the descriptions from FILE (UTF-8), one section per language, in\n"
    "        place of -d; the kit's bytes do not depend on their order:\n"
    "            [en]\n"
    "            product = Acme templates\n"
    "            provider = Acme Ltd: templates\n"
    "            document = Trade/doc/description_en.html\n"
    "        Lines starting with '#' or ';' are comments. A mistake is named\n"
    "        with its line number.\n"
    "  --exclude PATTERN\n"
    "        leave out files and folders whose path under DIR, or a tail of it\n"
    "        after a '/', matches the shell pattern PATTERN (as tar does).\n"
    "  --exclude-vcs\n"
    "        leave out version control folders and files (.git, .svn, .hg,\n"
    "        .bzr, CVS, _darcs, .gitignore, .gitattributes, .gitmodules, ...).\n"
    "  --exclude-from FILE\n"
    "        the patterns of FILE, one per line, as --exclude.\n"
    "  --follow-links\n"
    "        pack what symbolic links point to; without it a link is refused.\n"
    "  --no-trailer\n"
    "        write the bare compressed stream, without the trailer that lets the\n"
    "        installer and 'vkt verify' detect damage and check signatures.\n"
    "  --no-entry-digests\n"
    "        leave out the table of each file's SHA-256 before the trailer,\n"
    "        which lets installers deliver a file whose bytes changed but not\n"
    "        its time ('vkt verify' before 1.6 refuses kits with the table;\n"
    "        installers of every version install them).\n"
    "  --level N\n"
    "        deflate level, 0 (stored) to 9 (smallest); 6 without it.\n"
    "  --mtime SECONDS\n"
    "        no entry time later than SECONDS since 1970 (UTC): later ones are\n"
    "        clamped to it, so packs of one tree made at different times give\n"
    "        the same bytes. Without it, SOURCE_DATE_EPOCH, when set, does this.\n"
    "  --strict\n"
    "        refuse to pack when there is a warning: no description at all, a\n"
    "        description document that is not in the kit, a language given\n"
    "        twice, a language the installer has no texts for, languages without\n"
    "        a description, version control or editor files in the kit.\n"
    "  --quiet\n"
    "        no warnings.\n"
    "  --allow-empty\n"
    "        pack a kit of no files; without it a DIR without files is refused.\n"
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

// What --exclude-vcs leaves out, as tar's list.
const char* const kVersionControl[] = {
    ".git",       ".gitignore", ".gitattributes", ".gitmodules", ".svn",      ".hg",
    ".hgignore",  ".hgtags",    ".bzr",           ".bzrignore",  ".bzrtags",  "CVS",
    ".cvsignore", "RCS",        "SCCS",           "_darcs",      ".arch-ids", "{arch}"};

// Whether `relative` (a path under the tree) matches one of `patterns` as
// tar's --exclude does: the whole path, or a tail of it after a '/'.
bool IsExcluded(const std::string& relative, const std::vector<std::string>& patterns) {
  for (const std::string& pattern : patterns) {
    for (size_t at = 0; at != std::string::npos;) {
      if (fnmatch(pattern.c_str(), relative.c_str() + at, 0) == 0) return true;
      at = relative.find('/', at);
      if (at != std::string::npos) ++at;
    }
  }
  return false;
}

// What the author probably did not mean to ship: the kinds of files found,
// each with how many were packed.
std::vector<std::string> StrayFileWarnings(const std::vector<KitSourceFile>& files) {
  struct Kind {
    const char* what;
    const char* hint;
    size_t count = 0;
    std::string example;
  };
  Kind vcs{"version control", "--exclude-vcs leaves them out", 0, {}};
  Kind backup{"editor backup", "--exclude='*~' --exclude='.*.swp' leave them out", 0, {}};
  Kind finder{".DS_Store", "--exclude=.DS_Store leaves them out", 0, {}};
  for (const KitSourceFile& file : files) {
    const std::string name = TreeName(file.name);
    Kind* kind = nullptr;
    std::vector<std::string> parts;
    for (size_t at = 0; at <= name.size();) {
      size_t end = name.find('/', at);
      if (end == std::string::npos) end = name.size();
      parts.push_back(name.substr(at, end - at));
      at = end + 1;
    }
    const std::string& base = parts.back();
    for (const std::string& part : parts) {
      for (const char* vcsName : kVersionControl) {
        if (part == vcsName) kind = &vcs;
      }
    }
    if (kind == nullptr && (base.back() == '~' || fnmatch(".*.sw?", base.c_str(), 0) == 0)) {
      kind = &backup;
    }
    if (kind == nullptr && base == ".DS_Store") kind = &finder;
    if (kind == nullptr) continue;
    if (kind->count++ == 0) kind->example = name;
  }
  std::vector<std::string> warnings;
  for (const Kind* kind : {&vcs, &backup, &finder}) {
    if (kind->count == 0) continue;
    warnings.push_back(std::to_string(kind->count) + " " + kind->what +
                       (kind->count == 1 ? " file is" : " files are") + " packed (" +
                       kind->example + (kind->count > 1 ? ", ..." : "") + "): " + kind->hint);
  }
  return warnings;
}

// The regular files under `root`, sorted by name. `skip`, when given, is
// the kit being written (its device and inode): as tar leaves out its own
// archive, it is not packed into itself, and its path goes to `*skipped`.
bool CollectFiles(const std::string& root, bool followLinks, const struct stat* skip,
                  const std::vector<std::string>& excluded, std::vector<KitSourceFile>* files,
                  std::string* skipped, std::string* error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  auto options =
      followLinks ? fs::directory_options::follow_directory_symlink : fs::directory_options::none;
  fs::recursive_directory_iterator it(root, options, ec), end;
  if (ec) {
    *error = ec.message();  // said of the directory
    return false;
  }
  for (; it != end; it.increment(ec)) {
    if (ec) {
      *error = ec.message();
      return false;
    }
    const std::string path = it->path().string();
    if (IsExcluded(fs::path(path).lexically_relative(root).string(), excluded)) {
      if (it->is_directory(ec)) it.disable_recursion_pending();
      continue;
    }
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
  // The installer has no fallback: in a language without a description the
  // welcome page shows its placeholders.
  if (!content.descriptions.empty()) {
    if (!content.languageTable) languages = {"en"};
    std::string missing;
    size_t count = 0;
    for (int number : LanguageNumbers()) {
      const std::string code = LanguageCode(number).c_str();
      if (languages.count(code) != 0) continue;
      missing += (missing.empty() ? "" : ", ") + code;
      ++count;
    }
    if (count != 0) {
      warnings.push_back("no description in " + std::to_string(count) +
                         (count == 1 ? " language" : " languages") + " (" + missing +
                         "): their welcome page shows \"<Product> (<Vendor>)\"");
    }
  }
  for (std::string& warning : StrayFileWarnings(content.files)) warnings.push_back(warning);
  return warnings;
}

}  // namespace

int Pack(const Arguments& args) {
  KitContent content;
  KitWriteOptions options;
  std::string output;
  bool followLinks = false;
  bool strict = false;
  bool quiet = false;
  bool allowEmpty = false;
  std::vector<std::string> excluded;
  std::vector<KitDescription> fromFile;
  std::string descriptionsFile;
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
    } else if (option == "--no-entry-digests") {
      options.entryDigests = false;
    } else if (option == "--quiet") {
      quiet = true;
    } else if (option == "--allow-empty") {
      allowEmpty = true;
    } else if (option == "--exclude") {
      excluded.push_back(value);
    } else if (option == "--exclude-vcs") {
      excluded.insert(excluded.end(), std::begin(kVersionControl), std::end(kVersionControl));
    } else if (option == "--exclude-from") {
      std::string text;
      if (!ReadFileToString(value, &text)) return Fail(value, std::strerror(errno));
      for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string pattern = text.substr(at, end - at);
        if (!pattern.empty() && pattern.back() == '\r') pattern.pop_back();
        if (!pattern.empty()) excluded.push_back(pattern);
        at = end + 1;
      }
    } else if (option == "--descriptions") {
      std::string text;
      if (!ReadFileToString(value, &text)) return Fail(value, std::strerror(errno));
      std::string problem;
      if (!ParseDescriptionsFile(text, &fromFile, &problem)) return Fail(value, problem);
      descriptionsFile = value;
    }
  }
  if (!descriptionsFile.empty()) {
    if (!content.descriptions.empty()) return Usage("give -d or --descriptions, not both");
    content.descriptions = fromFile;
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
      return Fail(output, "description path \"" + TreeName(d.descriptionPath) + "\" " +
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
  if (!CollectFiles(root, followLinks, kitThere ? &kitFile : nullptr, excluded, &content.files,
                    &skipped, &error)) {
    return Fail(root, error);
  }
  if (!skipped.empty() && !quiet) {
    Warn(skipped + " is the kit being written: it is not packed into itself");
  }
  if (content.files.empty() && !allowEmpty) {
    return Fail(root, "no files to pack: not packed (--allow-empty packs a kit of no files)");
  }
  // As tar --clamp-mtime: nothing later than the given moment.
  if (clamp >= 0) {
    const FileTime latest = FileTimeFromUnix(clamp);
    for (KitSourceFile& file : content.files) {
      if (file.time.Ticks() > latest.Ticks()) file.time = latest;
    }
  }
  const std::vector<std::string> warnings = PackWarnings(content);
  if (!quiet) {
    for (const std::string& warning : warnings) Warn(warning);
  }
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
  std::fprintf(toStdout ? stderr : stdout, "%s: %zu %s, %llu bytes\n",
               toStdout ? "standard output" : output.c_str(), content.files.size(),
               content.files.size() == 1 ? "file" : "files",
               static_cast<unsigned long long>(total));
  return kOk;
}

}  // namespace qorv::vkt
