// vkt: makes, lists, verifies and unpacks installation kits, with the same
// kit code as the installer.
#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "base/text_convert.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/path.h"
#include "kit/kit_bundle.h"
#include "kit/kit_crypto.h"
#include "kit/kit_names.h"
#include "kit/kit_reader.h"
#include "kit/kit_writer.h"

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
    "       -o FILE DIR    pack the regular files under DIR into the kit FILE\n"
    "  list FILE           print the descriptions and the entries of a kit\n"
    "  verify [--key NAME.pub]... FILE\n"
    "                      check a kit; exit 0 when sound, 1 naming the first problem\n"
    "  unpack FILE DIR     write the entries of a kit with their times into DIR\n"
    "  keygen -o NAME      make a signing key: NAME (secret) and NAME.pub\n"
    "  sign --key NAME FILE\n"
    "                      add a signature by the secret key NAME to the kit FILE\n"
    "  bundle [--installer PATH] -o OUT FILE\n"
    "                      write OUT: the installer with the kit FILE inside\n"
    "\n"
    "'vkt COMMAND --help' describes one command. Exit status: 0 success,\n"
    "1 failure or damaged kit, 2 wrong usage.\n";

const char kPackHelp[] =
    "usage: vkt pack [-d LANG:PRODUCT:PROVIDER:DESCPATH]... [--follow-links] [--no-trailer]\n"
    "                -o FILE DIR\n"
    "\n"
    "Packs every regular file under DIR, named relative to DIR, with its\n"
    "modification time, in sorted order: the same tree and options give the\n"
    "same kit. Empty directories are not kept.\n"
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
    "  -o FILE\n"
    "        the kit to write (replaced only once it is complete).\n"
    "\n"
    "Refused with a message: names that would leave the template directory or\n"
    "hold control characters or backslashes, files of 4 GiB or more, and\n"
    "files that would start beyond 2 GiB in the unpacked kit.\n";

const char kListHelp[] =
    "usage: vkt list FILE\n"
    "\n"
    "Says whether the kit is verified (its trailer's digest matches, and by\n"
    "which keys it is signed), prints its descriptions, then one line per\n"
    "entry: size in bytes, last-write time (ISO 8601, UTC) and name.\n";

const char kVerifyHelp[] =
    "usage: vkt verify [--key NAME.pub]... FILE\n"
    "\n"
    "Checks everything the installer checks and more: the kit has a trailer and\n"
    "its digest matches, every signature in it holds, the compressed stream is\n"
    "valid and complete, every record is within bounds and exactly as long as\n"
    "its fields, every entry lies in the data area, every name is safe. With\n"
    "--key, the kit must also carry a valid signature by one of the keys given.\n"
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
    "usage: vkt unpack FILE DIR\n"
    "\n"
    "Writes every entry of the kit FILE, with its time, below DIR (created when\n"
    "missing). No launcher file is read or written.\n";

int Usage(const char* problem) {
  std::fprintf(stderr, "vkt: %s\n\n%s", problem, kUsageText);
  return kUsage;
}

int Fail(const std::string& file, const std::string& problem) {
  std::fprintf(stderr, "vkt: %s: %s\n", file.c_str(), problem.c_str());
  return kFailed;
}

bool WantsHelp(const std::vector<std::string>& args) {
  return std::find(args.begin(), args.end(), "--help") != args.end() ||
         std::find(args.begin(), args.end(), "-h") != args.end();
}

std::string OpenProblem(const KitReader& reader, uint32_t code) {
  if (!reader.Problem().empty()) return reader.Problem();
  return "cannot be read (code " + std::to_string(code) + ")";
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

bool CollectFiles(const std::string& root, bool followLinks, std::vector<KitSourceFile>* files,
                  std::string* error) {
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

int Pack(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kPackHelp, stdout);
    return kOk;
  }
  KitContent content;
  std::string output;
  std::string root;
  bool followLinks = false;
  bool trailer = true;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-d" || arg == "-o") {
      if (i + 1 == args.size()) return Usage((arg + " needs a value").c_str());
      const std::string& value = args[++i];
      if (arg == "-o") {
        output = value;
        continue;
      }
      KitDescription description;
      if (!ParseDescription(value, &description)) {
        return Usage(("-d " + value + ": expected LANG:PRODUCT:PROVIDER:DESCPATH").c_str());
      }
      content.descriptions.push_back(description);
    } else if (arg == "--follow-links") {
      followLinks = true;
    } else if (arg == "--no-trailer") {
      trailer = false;
    } else if (!arg.empty() && arg[0] == '-') {
      return Usage(("unknown option " + arg).c_str());
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
  if (!CollectFiles(root, followLinks, &content.files, &error)) return Fail(root, error);
  if (!WriteKit(content, output, &error, trailer)) return Fail(output, error);
  uint64_t total = 0;
  for (const KitSourceFile& f : content.files) total += f.size;
  std::printf("%s: %zu files, %llu bytes\n", output.c_str(), content.files.size(),
              static_cast<unsigned long long>(total));
  return kOk;
}

// --- list, verify, unpack ---------------------------------------------------

std::string IsoTime(const FileTime& time) {
  time_t seconds = static_cast<time_t>(UnixFromFileTime(time));
  struct tm utc;
  char text[32];
  if (::gmtime_r(&seconds, &utc) == nullptr ||
      std::strftime(text, sizeof(text), "%Y-%m-%dT%H:%M:%SZ", &utc) == 0) {
    return "?";
  }
  return text;
}

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

// What Open() found out about the kit's integrity, in one line.
std::string TrailerSummary(const KitReader& reader) {
  if (!reader.HasTrailer()) return "not verified: no trailer: the kit cannot be checked";
  std::string line = "verified: digest matches";
  const std::vector<KitSignature>& signatures = reader.Trailer().signatures;
  for (size_t i = 0; i < signatures.size(); ++i) {
    line += (i == 0 ? ", signed by key " : ", ") + Hex(signatures[i].keyId);
  }
  return signatures.empty() ? line + ", not signed" : line;
}

int List(const std::vector<std::string>& args) {
  if (WantsHelp(args)) {
    std::fputs(kListHelp, stdout);
    return kOk;
  }
  if (args.size() != 1) return Usage("list takes one kit file");
  KitReader reader;
  uint32_t code = reader.Open(args[0]);
  if (code != 0) return Fail(args[0], OpenProblem(reader, code));
  std::printf("%s\n", TrailerSummary(reader).c_str());
  for (const KitDescription& d : reader.descriptions()) {
    std::printf("description %s: product \"%s\", provider \"%s\", document \"%s\"\n",
                Narrow(d.language).c_str(), Narrow(d.product).c_str(), Narrow(d.provider).c_str(),
                Narrow(d.descriptionPath).c_str());
  }
  for (const KitEntry& e : reader.entries()) {
    std::printf("%10u  %s  %s\n", e.size, IsoTime(e.time).c_str(), Narrow(e.name).c_str());
  }
  return kOk;
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
  KitReader reader;
  uint32_t code = reader.Open(kit, KitReader::Strictness::kVerify);
  if (code != 0) return Fail(kit, OpenProblem(reader, code));
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
  if (code != 0) return Fail(kit, OpenProblem(reader, code));
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
  if (args.size() != 2) return Usage("unpack takes a kit file and a directory");
  KitReader reader;
  uint32_t code = reader.Open(args[0]);
  if (code != 0) return Fail(args[0], OpenProblem(reader, code));
  std::string root = StripTrailingSlashes(args[1]);
  for (size_t i = 0; i < reader.EntryCount(); ++i) {
    std::string path = Join(root, Narrow(EntryPathOf(reader.Entry(i).name)));
    std::string parent = DirName(path);
    if (ShellMakeDirs(parent) != 0) return Fail(parent, "cannot create this directory");
    code = reader.ExtractEntry(i, path);
    if (code != 0) return Fail(path, "cannot be written (code " + std::to_string(code) + ")");
  }
  std::printf("%s: %zu entries written to %s\n", args[0].c_str(), reader.EntryCount(),
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
  if (command == "verify") return Verify(args);
  if (command == "unpack") return Unpack(args);
  if (command == "keygen") return Keygen(args);
  if (command == "sign") return Sign(args);
  if (command == "bundle") return Bundle(args);
  return Usage(("unknown command " + command).c_str());
}
