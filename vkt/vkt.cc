// vkt: makes, lists, verifies and unpacks installation kits, with the same
// kit code as the installer.
#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "base/text_convert.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/fs_queries.h"
#include "fs/path.h"
#include "kit/kit_bundle.h"
#include "kit/kit_crypto.h"
#include "kit/kit_names.h"
#include "kit/kit_reader.h"
#include "kit/kit_writer.h"
#include "res/string_table.h"
#include "vkt/kit_report.h"

namespace qorv {
namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr int kUsage = 2;

const char kUsageText[] =
    "usage: vkt COMMAND [OPTIONS] ...\n"
    "\n"
    "Makes and checks the kits that qorv-setup installs.\n"
    "\n"
    "commands:\n"
    "  pack [-d LANG:PRODUCT:PROVIDER:DESCPATH]... [--follow-links] [--no-trailer]\n"
    "       [--level N] [--mtime SECONDS] [--strict]\n"
    "       -o FILE DIR    pack the regular files under DIR into the kit FILE\n"
    "  list [--json] FILE  print the descriptions and the entries of a kit\n"
    "  diff A B            what changes from kit A to kit B\n"
    "  verify [--key NAME.pub]... FILE\n"
    "                      check a kit; exit 0 when sound, 1 naming the first problem\n"
    "  unpack [--force] FILE DIR\n"
    "                      write the entries of a kit with their times into DIR\n"
    "  keygen -o NAME      make a signing key: NAME (secret) and NAME.pub\n"
    "  sign --key NAME FILE\n"
    "                      add a signature by the secret key NAME to the kit FILE\n"
    "  bundle [--installer PATH] -o OUT FILE\n"
    "                      write OUT: the installer with the kit FILE inside\n"
    "\n"
    "A kit FILE of '-' is standard output for pack, standard input for list\n"
    "and verify. 'vkt COMMAND --help' describes one command. Exit status: 0\n"
    "success, 1 failure or damaged kit, 2 wrong usage.\n";

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

const char kListHelp[] =
    "usage: vkt list [--json] FILE\n"
    "\n"
    "Says whether the kit is verified (its trailer's digest matches, and by\n"
    "which keys it is signed), prints its descriptions, then one line per\n"
    "entry: size, last-write time (UTC) and name with '/' separators, and the\n"
    "totals. --json prints all of it as one JSON object, sizes in bytes and\n"
    "times in ISO 8601. FILE '-' reads the kit from standard input.\n";

const char kVerifyHelp[] =
    "usage: vkt verify [--key NAME.pub]... FILE\n"
    "\n"
    "Checks everything the installer checks and more: the kit has a trailer and\n"
    "its digest matches, every signature in it holds, the compressed stream is\n"
    "valid and complete, every record is within bounds and exactly as long as\n"
    "its fields, every entry lies in the data area, every name is safe. With\n"
    "--key, the kit must also carry a valid signature by one of the keys given.\n"
    "FILE '-' reads the kit from standard input.\n"
    "Exit 0 when sound; exit 1 with one line naming the first problem.\n";

const char kKeygenHelp[] =
    "usage: vkt keygen -o NAME\n"
    "\n"
    "Makes an Ed25519 signing key: the secret key in NAME (mode 0600; keep it\n"
    "safe) and the public key in NAME.pub, for 'vkt verify --key' and for\n"
    "installers built to trust it. Existing files are never overwritten.\n";

const char kSignHelp[] =
    "usage: vkt sign --key NAME FILE\n"
    "\n"
    "Adds a signature by the secret key NAME to the trailer of the kit FILE,\n"
    "replacing the kit in one step once the signed copy is complete. A kit\n"
    "whose digest does not match, or that has no trailer, is not signed.\n";

const char kBundleHelp[] =
    "usage: vkt bundle [--installer PATH] -o OUT FILE\n"
    "\n"
    "Writes OUT, one file to ship: a copy of the installer with the kit FILE\n"
    "inside, which it installs before any kit beside it. The kit is checked\n"
    "first as 'vkt verify' checks it and carried unchanged, signatures\n"
    "included; 'vkt list' and 'vkt verify' read the kit inside OUT. The\n"
    "installer is qorv-setup beside vkt unless --installer names another; a\n"
    "kit it carries already is left out. OUT is replaced only once it is\n"
    "complete. Do not strip OUT: that cuts the kit off.\n";

const char kUnpackHelp[] =
    "usage: vkt unpack [--force] FILE DIR\n"
    "\n"
    "Writes every entry of the kit FILE, with its time, below DIR (created when\n"
    "missing). Files that exist already are not overwritten unless --force is\n"
    "given: then nothing is written. No launcher file is read or written.\n";

const char kDiffHelp[] =
    "usage: vkt diff A B\n"
    "\n"
    "Says what changes from kit A to kit B, one line each, sorted by name:\n"
    "entries added, removed, newer, older, and changed (the same time, other\n"
    "bytes); then descriptions added, removed and changed. Exit 0 when the\n"
    "kits hold the same, 1 when they differ, 2 when one cannot be read or the\n"
    "usage is wrong.\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "vkt: %s\nTry 'vkt --help'.\n", problem.c_str());
  return kUsage;
}

void Warn(const std::string& warning) {
  std::fprintf(stderr, "vkt: warning: %s\n", warning.c_str());
}

// "packing 42% (112.0 MiB of 266.6 MiB)" on the terminal, for work that
// takes more than a moment; nothing when standard error is not a terminal.
class Progress {
 public:
  explicit Progress(const char* doing) : doing_(doing), shown_(::isatty(2) == 1) {}
  ~Progress() { Finish(); }
  // Clears the line, before what follows is printed.
  void Finish() {
    if (drawn_) std::fputs("\r\033[K", stderr);
    drawn_ = false;
  }
  void Update(uint64_t done, uint64_t total) {
    if (!shown_ || total == 0) return;
    const auto now = std::chrono::steady_clock::now();
    if (now - start_ < std::chrono::seconds(1) || now - last_ < std::chrono::milliseconds(100)) {
      return;
    }
    last_ = now;
    drawn_ = true;
    std::fprintf(stderr, "\r%s %3d%% (%s of %s)\033[K", doing_,
                 static_cast<int>(done * 100 / total), ReadableSize(done).c_str(),
                 ReadableSize(total).c_str());
  }

 private:
  const char* doing_;
  bool shown_;
  bool drawn_ = false;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_;
};

// The kit file to open for the argument `arg`: itself, or for "-" what
// standard input holds, copied into a file without a name that `*held`
// keeps open. Empty with `*problem` set when standard input cannot be read.
std::string KitFileOf(const std::string& arg, ScopedFd* held, std::string* problem) {
  if (arg != "-") return arg;
  *held = ScopedFd(OpenNamelessFile(TempDirectory().c_str()));
  if (!held->IsValid()) {
    *problem = "cannot make a temporary file in " + TempDirectory() + ": " + std::strerror(errno);
    return "";
  }
  std::unique_ptr<char[]> block(new char[1 << 20]);
  for (;;) {
    ssize_t n = ReadSome(0, block.get(), 1 << 20);
    if (n == 0) break;
    if (n < 0 || !WriteFully(held->Get(), std::string_view(block.get(), static_cast<size_t>(n)))) {
      *problem = std::string("cannot read the kit from standard input: ") + std::strerror(errno);
      return "";
    }
  }
  return "/proc/self/fd/" + std::to_string(held->Get());
}

// A value given as "--name=VALUE" or "--name VALUE"; false when it is
// missing.
bool OptionValue(const std::vector<std::string>& args, size_t* i, const std::string& name,
                 std::string* value) {
  const std::string& arg = args[*i];
  if (arg.compare(0, name.size() + 1, name + "=") == 0) {
    *value = arg.substr(name.size() + 1);
    return true;
  }
  if (*i + 1 == args.size()) return false;
  *value = args[++*i];
  return true;
}

// A whole number from `min` to `max`, all of `text`.
bool ParseNumber(const std::string& text, long long min, long long max, long long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  long long parsed = std::strtoll(text.c_str(), &end, 10);
  if (errno != 0 || *end != '\0' || parsed < min || parsed > max) return false;
  *value = parsed;
  return true;
}

int Fail(const std::string& file, const std::string& problem) {
  std::fprintf(stderr, "vkt: %s: %s\n", file.c_str(), problem.c_str());
  return kFailed;
}

bool WantsHelp(const std::vector<std::string>& args) {
  return std::find(args.begin(), args.end(), "--help") != args.end() ||
         std::find(args.begin(), args.end(), "-h") != args.end();
}

std::string OpenProblem(const std::string& file, const KitReader& reader, uint32_t code) {
  // An installer whose carried kit lost its end reads as no kit at all.
  const uint64_t stray = StrayBytesAfterProgram(file);
  if (stray > 0) {
    return "an installer with " + std::to_string(stray) +
           " bytes after the program, but no kit ends there: the file is cut short or damaged";
  }
  if (!reader.Problem().empty()) return reader.Problem();
  return "cannot be read (code " + std::to_string(code) + ")";
}

// Opens the kit argument `kit` ("-": standard input, which `*held` keeps)
// into `reader`: kOk, or the status of the failure once it is said.
int OpenKitArgument(const std::string& kit, KitReader::Strictness strictness, ScopedFd* held,
                    KitReader* reader) {
  std::string problem;
  const std::string file = KitFileOf(kit, held, &problem);
  if (file.empty()) return Fail(kit, problem);
  uint32_t code = reader->Open(file, strictness);
  if (code != 0) return Fail(kit, OpenProblem(file, *reader, code));
  return kOk;
}

// --- pack -------------------------------------------------------------------

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

int Pack(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kPackHelp, stdout);
    return kOk;
  }
  KitContent content;
  KitWriteOptions options;
  std::string output;
  std::string root;
  bool followLinks = false;
  bool strict = false;
  long long clamp = -1;
  if (const char* epoch = std::getenv("SOURCE_DATE_EPOCH"); epoch != nullptr && *epoch != '\0') {
    if (!ParseNumber(epoch, 0, INT64_MAX / 10000000 - 11644473600LL, &clamp)) {
      return Usage(std::string("SOURCE_DATE_EPOCH=") + epoch + ": expected seconds since 1970");
    }
  }
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string arg = args[i];
    std::string value;
    auto is = [&arg](const char* name) {
      return arg == name || arg.rfind(std::string(name) + "=", 0) == 0;
    };
    if (arg == "-d" || arg == "-o") {
      if (i + 1 == args.size()) return Usage(arg + " needs a value");
      value = args[++i];
      if (arg == "-o") {
        output = value;
        continue;
      }
      KitDescription description;
      if (!ParseDescription(value, &description)) {
        return Usage("-d " + value + ": expected LANG:PRODUCT:PROVIDER:DESCPATH");
      }
      content.descriptions.push_back(description);
    } else if (is("--level")) {
      long long level = 0;
      if (!OptionValue(args, &i, "--level", &value) || !ParseNumber(value, 0, 9, &level)) {
        return Usage("--level takes a number from 0 to 9");
      }
      options.level = static_cast<int>(level);
    } else if (is("--mtime")) {
      if (!OptionValue(args, &i, "--mtime", &value) ||
          !ParseNumber(value, 0, INT64_MAX / 10000000 - 11644473600LL, &clamp)) {
        return Usage("--mtime takes seconds since 1970");
      }
    } else if (arg == "--strict") {
      strict = true;
    } else if (arg == "--follow-links") {
      followLinks = true;
    } else if (arg == "--no-trailer") {
      options.trailer = false;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else if (root.empty()) {
      root = arg;
    } else {
      return Usage("pack takes one directory");
    }
  }
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

// --- list, verify, unpack ---------------------------------------------------

// Reads a `kind` key file of vkt keygen with `parse`; false with `*problem`
// set.
template <typename Key>
bool ReadKeyFile(const std::string& path, bool (*parse)(const std::string&, Key*), const char* kind,
                 Key* key, std::string* problem) {
  std::string text;
  if (!ReadFileToString(path, &text)) {
    *problem = std::string("cannot be read: ") + std::strerror(errno);
    return false;
  }
  if (parse(text, key)) return true;
  *problem = std::string("is not a ") + kind + " key of vkt keygen";
  return false;
}

int List(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kListHelp, stdout);
    return kOk;
  }
  bool json = false;
  std::string kit;
  for (const std::string& arg : args) {
    if (arg == "--json") {
      json = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else if (kit.empty()) {
      kit = arg;
    } else {
      return Usage("list takes one kit file");
    }
  }
  if (kit.empty()) return Usage("list takes one kit file");
  ScopedFd held;
  KitReader reader;
  const int opened = OpenKitArgument(kit, KitReader::Strictness::kInstaller, &held, &reader);
  if (opened != kOk) return opened;
  std::fputs((json ? ListJson(reader) : ListText(reader)).c_str(), stdout);
  return kOk;
}

int Diff(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kDiffHelp, stdout);
    return kOk;
  }
  if (args.size() != 2) return Usage("diff takes two kit files");
  KitReader a;
  KitReader b;
  uint32_t code = a.Open(args[0]);
  if (code != 0) {
    Fail(args[0], OpenProblem(args[0], a, code));
    return kUsage;
  }
  if ((code = b.Open(args[1])) != 0) {
    Fail(args[1], OpenProblem(args[1], b, code));
    return kUsage;
  }
  std::string out;
  std::string problem;
  if (DiffKits(a, b, &out, &problem) != 0) {
    Fail(args[0] + ", " + args[1], problem);
    return kUsage;
  }
  std::fputs(out.c_str(), stdout);
  return out.empty() ? kOk : kFailed;
}

int Verify(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kVerifyHelp, stdout);
    return kOk;
  }
  std::vector<PublicKey> keys;
  std::string kit;
  for (size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--key") {
      if (i + 1 == args.size()) return Usage("--key needs a public key file");
      PublicKey key;
      std::string problem;
      if (!ReadKeyFile(args[++i], ParsePublicKey, "public", &key, &problem))
        return Fail(args[i], problem);
      keys.push_back(key);
    } else if (kit.empty()) {
      kit = args[i];
    } else {
      return Usage("verify takes one kit file");
    }
  }
  if (kit.empty()) return Usage("verify takes one kit file");
  ScopedFd held;
  KitReader reader;
  const int opened = OpenKitArgument(kit, KitReader::Strictness::kVerify, &held, &reader);
  if (opened != kOk) return opened;
  if (!reader.HasTrailer()) return Fail(kit, "no trailer: the kit cannot be checked");
  if (!keys.empty()) {
    auto signedBy = [&](const PublicKey& key) {
      return ValidSignatureBy(reader.Trailer(), key) != nullptr;
    };
    if (std::none_of(keys.begin(), keys.end(), signedBy)) {
      std::string ids;
      for (const PublicKey& key : keys) ids += (ids.empty() ? "" : ", ") + Hex(key.Id());
      return Fail(kit, "no signature by key " + ids);
    }
  }
  uint64_t total = 0;
  for (const KitEntry& e : reader.entries()) total += e.size;
  std::printf("%s: sound, %zu entries, %llu bytes; %s\n", kit.c_str(), reader.EntryCount(),
              static_cast<unsigned long long>(total), TrailerSummary(reader).c_str());
  return kOk;
}

// --- keys and signatures ------------------------------------------------

// Writes `text` to a new file `path` with `mode`; never over an existing one.
bool WriteNewFile(const std::string& path, const std::string& text, mode_t mode,
                  std::string* error) {
  ScopedFd fd = OpenFile(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
  if (!fd.IsValid()) {
    *error = std::strerror(errno);
    return false;
  }
  if (WriteFully(fd.Get(), text) && FlushFile(fd.Get()) && fd.Close()) return true;
  *error = std::strerror(errno);
  RemoveFile(path);
  return false;
}

int Keygen(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kKeygenHelp, stdout);
    return kOk;
  }
  if (args.size() != 2 || args[0] != "-o") return Usage("keygen takes -o NAME");
  const std::string& name = args[1];
  SecretKey key;
  if (!GenerateKeyPair(&key)) return Fail(name, "no random source for a key");
  std::string error;
  if (!WriteNewFile(name, SecretKeyText(key), 0600, &error)) return Fail(name, error);
  if (!WriteNewFile(name + ".pub", PublicKeyText(key.publicKey), 0644, &error)) {
    RemoveFile(name);
    return Fail(name + ".pub", error);
  }
  std::printf("%s: secret key; %s.pub: public key %s\n", name.c_str(), name.c_str(),
              Hex(key.publicKey.Id()).c_str());
  return kOk;
}

int Sign(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kSignHelp, stdout);
    return kOk;
  }
  if (args.size() != 3 || args[0] != "--key") return Usage("sign takes --key NAME FILE");
  const std::string& name = args[1];
  const std::string& kit = args[2];
  SecretKey key;
  std::string error;
  if (!ReadKeyFile(name, ParseSecretKey, "secret", &key, &error)) return Fail(name, error);
  if (!SignKit(kit, key, &error)) return Fail(kit, error);
  std::printf("%s: signed by key %s\n", kit.c_str(), Hex(key.publicKey.Id()).c_str());
  return kOk;
}

// --- one file to ship ---------------------------------------------------

int Bundle(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kBundleHelp, stdout);
    return kOk;
  }
  std::string installer;
  std::string out;
  std::string kit;
  for (size_t i = 0; i < args.size(); ++i) {
    if ((args[i] == "--installer" || args[i] == "-o") && i + 1 == args.size()) {
      return Usage((args[i] + " needs a file name").c_str());
    }
    if (args[i] == "--installer") {
      installer = args[++i];
    } else if (args[i] == "-o") {
      out = args[++i];
    } else if (kit.empty()) {
      kit = args[i];
    } else {
      return Usage("bundle takes one kit file");
    }
  }
  if (kit.empty() || out.empty()) return Usage("bundle takes -o OUT and a kit file");
  if (installer.empty()) {
    std::string self;
    if (!ReadLink("/proc/self/exe", &self)) return Fail("vkt", "cannot find its own directory");
    installer = Join(DirName(self), "qorv-setup");
  }
  // What cannot be installed is not shipped.
  KitReader reader;
  uint32_t code = reader.Open(kit, KitReader::Strictness::kVerify);
  if (code != 0) return Fail(kit, OpenProblem(kit, reader, code));
  reader.Close();
  std::string error;
  if (!WriteBundle(installer, kit, out, &error)) {
    std::fprintf(stderr, "vkt: %s\n", error.c_str());
    return kFailed;
  }
  std::printf("%s: %s with the kit %s\n", out.c_str(), installer.c_str(), kit.c_str());
  return kOk;
}

int Unpack(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kUnpackHelp, stdout);
    return kOk;
  }
  bool force = false;
  std::vector<std::string> names;
  for (const std::string& arg : args) {
    if (arg == "--force") {
      force = true;
    } else if (arg.size() > 1 && arg[0] == '-') {
      return Usage("unknown option " + arg);
    } else {
      names.push_back(arg);
    }
  }
  if (names.size() != 2) return Usage("unpack takes a kit file and a directory");
  KitReader reader;
  uint32_t code = reader.Open(names[0]);
  if (code != 0) return Fail(names[0], OpenProblem(names[0], reader, code));
  std::string root = StripTrailingSlashes(names[1]);
  std::vector<std::string> paths;
  uint64_t total = 0;
  for (const KitEntry& entry : reader.entries()) {
    paths.push_back(Join(root, Narrow(EntryPathOf(entry.name))));
    total += entry.size;
    struct stat st;
    if (!force && ::lstat(paths.back().c_str(), &st) == 0) {
      return Fail(paths.back(), "exists already; nothing written (--force overwrites)");
    }
  }
  Progress progress("unpacking");
  uint64_t done = 0;
  for (size_t i = 0; i < reader.EntryCount(); ++i) {
    const std::string& path = paths[i];
    std::string parent = DirName(path);
    if (ShellMakeDirs(parent) != 0) return Fail(parent, "cannot create this directory");
    code = reader.ExtractEntry(i, path);
    if (code != 0) {
      progress.Finish();
      return Fail(path, "cannot be written (code " + std::to_string(code) + ")");
    }
    done += reader.Entry(i).size;
    progress.Update(done, total);
  }
  progress.Finish();
  std::printf("%s: %zu entries written to %s\n", names[0].c_str(), reader.EntryCount(),
              root.c_str());
  return kOk;
}

}  // namespace
}  // namespace qorv

int main(int argc, char** argv) {
  using namespace qorv;
  // Kit texts are UTF-16 and file names UTF-8: work in a UTF-8 locale even
  // when the environment names none.
  SelectEnvironmentLocale();
  if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_ALL, "C.UTF-8");

  if (argc < 2) return Usage("no command given");
  std::string command = argv[1];
  std::vector<std::string> args(argv + 2, argv + argc);
  if (command == "--version" || command == "-V") {
    std::puts("vkt " QORV_VERSION);
    return kOk;
  }
  if (command == "--help" || command == "-h" || command == "help") {
    std::fputs(kUsageText, stdout);
    return kOk;
  }
  if (command == "pack") return Pack(args);
  if (command == "list") return List(args);
  if (command == "diff") return Diff(args);
  if (command == "verify") return Verify(args);
  if (command == "unpack") return Unpack(args);
  if (command == "keygen") return Keygen(args);
  if (command == "sign") return Sign(args);
  if (command == "bundle") return Bundle(args);
  return Usage("unknown command " + command);
}
