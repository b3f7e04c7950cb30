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
#include "copy/copy_job.h"
#include "copy/file_writers.h"
#include "copy/manifest.h"
#include "fs/error_codes.h"
#include "fs/file_ops.h"
#include "fs/file_util.h"
#include "fs/fs_queries.h"
#include "fs/path.h"
#include "kit/kit_bundle.h"
#include "kit/kit_crypto.h"
#include "kit/kit_names.h"
#include "kit/kit_reader.h"
#include "kit/kit_writer.h"
#include "kit/program_seal.h"
#include "res/string_table.h"
#include "vkt/kit_report.h"
#include "vkt/vkt_command.h"

namespace qorv::vkt {

namespace {

const char kUsageText[] =
    "usage: vkt COMMAND [OPTIONS] ...\n"
    "\n"
    "Makes and checks the kits that qorv-setup installs.\n"
    "\n"
    "commands:\n"
    "  pack [-d LANG:PRODUCT:PROVIDER:DESCPATH]... [--descriptions FILE]\n"
    "       [--exclude PATTERN]... [--exclude-vcs] [--follow-links] [--no-trailer]\n"
    "       [--level N] [--mtime SECONDS] [--strict] [--quiet] [--allow-empty]\n"
    "       -o FILE DIR    pack the regular files under DIR into the kit FILE\n"
    "  list [--json] FILE  print the descriptions and the entries of a kit\n"
    "  diff [--json] [--plan] [--strict] OLD NEW\n"
    "                      what changes from kit OLD to kit NEW\n"
    "  verify [--key NAME.pub]... FILE | verify --tree DIR FILE\n"
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
    "and verify. 'vkt COMMAND --help' describes one command; 'vkt --version'\n"
    "(-V) prints the version. Exit status: 0 success, 1 failure or damaged kit,\n"
    "2 wrong usage.\n";

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
    "       vkt verify --tree DIR FILE\n"
    "\n"
    "Checks everything the installer checks and more: the kit has a trailer and\n"
    "its digest matches, every signature in it holds, the compressed stream is\n"
    "valid and complete, every record is within bounds and exactly as long as\n"
    "its fields, every entry lies in the data area, every name is safe. With\n"
    "--key, the kit must also carry a valid signature by one of the keys given.\n"
    "In an installer with its kit inside, the program must also match the\n"
    "digest it was bundled with, and with --key carry a signature by one of\n"
    "the keys over program and kit ('vkt sign' on the bundle).\n"
    "FILE '-' reads the kit from standard input.\n"
    "Exit 0 when sound; exit 1 with one line naming the first problem.\n"
    "\n"
    "With --tree DIR, checks instead that DIR (a template directory) holds\n"
    "every file of the kit with the kit's bytes, from the kit's entry digests\n"
    "without inflating it: one line per file that is missing, changed or\n"
    "unreadable, then a summary. Exit 0 when all are there, else 1.\n";

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
    "whose digest does not match, or that has no trailer, is not signed. FILE\n"
    "may be an installer with its kit inside: then the kit and the program\n"
    "are signed together, so that nobody can put the signed kit around\n"
    "another program.\n";

const char kBundleHelp[] =
    "usage: vkt bundle [--installer PATH] -o OUT FILE\n"
    "\n"
    "Writes OUT, one file to ship: a copy of the installer with the kit FILE\n"
    "inside, which it installs before any kit beside it. The kit is checked\n"
    "first as 'vkt verify' checks it and carried unchanged, signatures\n"
    "included; 'vkt list' and 'vkt verify' read the kit inside OUT. The\n"
    "installer is qorv-setup beside vkt unless --installer names another; a\n"
    "kit it carries already is left out. OUT is replaced only once it is\n"
    "complete. Do not strip OUT: that cuts the kit off. Sign OUT ('vkt sign')\n"
    "to vouch for the program as well as the kit.\n";

const char kUnpackHelp[] =
    "usage: vkt unpack [--force] FILE DIR\n"
    "\n"
    "Writes every entry of the kit FILE, with its time, below DIR (created when\n"
    "missing). Files that exist already are not overwritten unless --force is\n"
    "given: then nothing is written. No launcher file is read or written.\n";

const char kDiffHelp[] =
    "usage: vkt diff [--json] [--plan] [--strict] OLD NEW\n"
    "\n"
    "Says what changes from kit OLD to kit NEW, one line each, sorted by name:\n"
    "entries added, removed, newer (', same content' when only the time\n"
    "changed: the installer still writes it), older, and changed under the\n"
    "same time; then descriptions added, removed and changed; then the\n"
    "trailers: checkable or not, signatures added and removed, entry digests\n"
    "added or removed.\n"
    "\n"
    "An entry whose bytes changed but not its time (a fixed --mtime or\n"
    "SOURCE_DATE_EPOCH across releases) reaches the users who have OLD\n"
    "installed only through NEW's entry digests: it is marked 'delivered only\n"
    "with entry digests', or 'not delivered' when NEW has none.\n"
    "\n"
    "  --json    one JSON object per difference\n"
    "  --plan    instead: what an install of OLD, unchanged since, gets from\n"
    "            NEW, in the installer's words (write, replace, keep, remove),\n"
    "            one line per file; with --json as the installer's plan lines\n"
    "  --strict  a release check: exit 1 when an entry changed under the same\n"
    "            time, else 0\n"
    "\n"
    "Exit 0 when the kits hold the same, 1 when they differ, 2 when one cannot\n"
    "be read or the usage is wrong.\n";

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

int List(const Arguments& args) {
  if (args.operands.size() != 1) return Usage("list takes one kit file");
  const std::string& kit = args.operands[0];
  const bool json = args.Has("--json");
  ScopedFd held;
  KitReader reader;
  const int opened = OpenKitArgument(kit, KitReader::Strictness::kInstaller, &held, &reader);
  if (opened != kOk) return opened;
  std::fputs((json ? ListJson(reader) : ListText(reader)).c_str(), stdout);
  return kOk;
}

int Diff(const Arguments& arguments) {
  const std::vector<std::string>& args = arguments.operands;
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
  DiffOptions options;
  options.json = arguments.Has("--json");
  options.plan = arguments.Has("--plan");
  std::string out;
  std::string problem;
  DiffVerdict verdict;
  if (DiffKits(a, b, options, &out, &verdict, &problem) != 0) {
    Fail(args[0] + ", " + args[1], problem);
    return kUsage;
  }
  std::fputs(out.c_str(), stdout);
  if (arguments.Has("--strict")) {
    if (verdict.sameTimeChanges == 0) return kOk;
    const size_t n = verdict.sameTimeChanges;
    Warn(std::to_string(n) + (n == 1 ? " entry changed" : " entries changed") +
         " under the same time: " +
         (b.Trailer().HasEntryDigests()
              ? "delivered only by installers that read entry digests"
              : "not delivered to installs of the old kit (give the changed files a new time, or "
                "pack with entry digests)"));
    return kFailed;
  }
  return verdict.differences == 0 ? kOk : kFailed;
}

// The program part of an installer that carries its kit: it must match
// its digest, and with `keys` carry a signature by one of them over program
// and kit, or the kit could be anybody's program around the vendor's kit.
// `*said` receives what to add to the verdict ("" for a kit alone).
int CheckProgram(const std::string& path, const Digest& kitDigest,
                 const std::vector<PublicKey>& keys, std::string* said) {
  KitExtent extent;
  if (path == "-" || !KitExtentOfPath(path, &extent) || !extent.bundled) return kOk;
  ScopedFd fd = OpenFile(path, O_RDONLY | O_CLOEXEC);
  ProgramSeal seal;
  std::string problem;
  switch (fd.IsValid() ? ReadProgramSeal(fd.Get(), extent, &seal, &problem)
                       : TrailerState::kAbsent) {
    case TrailerState::kDamaged:
      return Fail(path, problem);
    case TrailerState::kAbsent:
      if (!keys.empty()) {
        return Fail(path, "the program is not signed (bundled before programs were sealed)");
      }
      *said = "; program not sealed (bundled by an older vkt)";
      return kOk;
    case TrailerState::kPresent:
      break;
  }
  Digest digest{};
  if (!DigestOfRange(fd.Get(), seal.offset, &digest)) return Fail(path, std::strerror(errno));
  if (digest != seal.programDigest) {
    return Fail(path, "the program does not match its digest: it was changed after it was bundled");
  }
  std::string ids;
  for (const KitSignature& s : seal.signatures) {
    if (s.keyId != s.publicKey.Id() ||
        !VerifyDigest(s.publicKey, BundleDigest(seal.programDigest, kitDigest), s.signature)) {
      return Fail(path, "a signature of the program (key " + Hex(s.keyId) + ") does not verify");
    }
    ids += (ids.empty() ? ", signed by key " : ", ") + Hex(s.keyId);
  }
  if (!keys.empty() && std::none_of(keys.begin(), keys.end(), [&](const PublicKey& key) {
        return ValidProgramSignatureBy(seal, kitDigest, key) != nullptr;
      })) {
    return Fail(path, "the program is not signed by key " + Hex(keys[0].Id()) +
                          (keys.size() > 1 ? " or the others given" : ""));
  }
  *said = "; program: digest matches" + (ids.empty() ? std::string(", not signed") : ids);
  return kOk;
}

// vkt verify --tree DIR KIT: each of the kit's files in DIR, by content,
// from the kit's entry digests (the kit is not inflated) or, for a kit
// without them, from its entries.
int VerifyTree(const std::string& root, const std::string& kit) {
  ScopedFd held;
  KitReader reader;
  const int opened = OpenKitArgument(kit, KitReader::Strictness::kInstaller, &held, &reader);
  if (opened != kOk) return opened;
  if (!reader.HasTrailer()) return Fail(kit, "no trailer: the kit cannot be checked");
  struct stat st;
  if (::stat(root.c_str(), &st) != 0) return Fail(root, std::strerror(errno));
  if (!S_ISDIR(st.st_mode)) return Fail(root, std::strerror(ENOTDIR));
  std::vector<Digest> digests = reader.Trailer().entryDigests;
  if (digests.size() != reader.EntryCount() &&
      ReadEntryDigests(reader, std::vector<bool>(reader.EntryCount(), true), &digests) != 0) {
    return Fail(kit, reader.Problem());
  }
  size_t differing = 0;
  for (size_t i = 0; i < reader.EntryCount(); ++i) {
    const std::string name = TreeName(reader.Entry(i).name);
    const std::string path = WithTrailingSlash(root) + name;
    Digest digest;
    struct stat file;
    if (::lstat(path.c_str(), &file) != 0) {
      std::printf("missing  %s\n", name.c_str());
    } else if (!S_ISREG(file.st_mode) || !DigestOfFile(path, &digest)) {
      std::printf("unreadable  %s  (%s)\n", name.c_str(),
                  S_ISREG(file.st_mode) ? std::strerror(errno) : "not a regular file");
    } else if (digest != digests[i]) {
      std::printf("changed  %s\n", name.c_str());
    } else {
      continue;
    }
    ++differing;
  }
  const size_t n = reader.EntryCount();
  if (differing == 0) {
    std::printf("%s: the %zu %s of %s are there as the kit has %s\n", root.c_str(), n,
                n == 1 ? "file" : "files", kit.c_str(), n == 1 ? "it" : "them");
    return kOk;
  }
  std::printf("%s: %zu of the %zu %s of %s %s not as the kit has %s\n", root.c_str(), differing, n,
              n == 1 ? "file" : "files", kit.c_str(), differing == 1 ? "is" : "are",
              n == 1 ? "it" : "them");
  return kFailed;
}

int Verify(const Arguments& args) {
  if (args.Has("--tree")) {
    if (args.operands.size() != 1) return Usage("verify --tree DIR takes one kit file");
    return VerifyTree(args.Values("--tree").back(), args.operands[0]);
  }
  if (args.operands.size() != 1) return Usage("verify takes one kit file");
  const std::string& kit = args.operands[0];
  std::vector<PublicKey> keys;
  for (const std::string& file : args.Values("--key")) {
    PublicKey key;
    std::string problem;
    if (!ReadKeyFile(file, ParsePublicKey, "public", &key, &problem)) return Fail(file, problem);
    keys.push_back(key);
  }
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
  std::string program;
  if (const int sealed = CheckProgram(kit, reader.Trailer().digest, keys, &program);
      sealed != kOk) {
    return sealed;
  }
  // Each entry against its digest in the table: the installer trusts the
  // table to tell a changed file from one with only a new time.
  const std::vector<Digest>& table = reader.Trailer().entryDigests;
  std::vector<Digest> digests;
  if (!table.empty() &&
      ReadEntryDigests(reader, std::vector<bool>(reader.EntryCount(), true), &digests) != 0) {
    return Fail(kit, reader.Problem());
  }
  for (size_t i = 0; i < table.size(); ++i) {
    if (digests[i] != table[i]) {
      return Fail(kit, "entry " + std::to_string(i + 1) + " (" + TreeName(reader.Entry(i).name) +
                           "): its bytes do not match its digest in the table");
    }
  }
  uint64_t total = 0;
  for (const KitEntry& e : reader.entries()) total += e.size;
  std::printf("%s: sound, %zu %s, %llu bytes; %s%s\n", kit.c_str(), reader.EntryCount(),
              reader.EntryCount() == 1 ? "entry" : "entries",
              static_cast<unsigned long long>(total), TrailerSummary(reader).c_str(),
              program.c_str());
  return kOk;
}

// --- keys and signatures ------------------------------------------------

// Writes a key to a new file `path` with `mode`; never over an existing one.
bool CreateKeyFile(const std::string& path, const std::string& text, mode_t mode,
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

int Keygen(const Arguments& args) {
  const std::vector<std::string> names = args.Values("-o");
  if (names.size() != 1 || !args.operands.empty()) return Usage("keygen takes -o NAME");
  const std::string& name = names[0];
  SecretKey key;
  if (!GenerateKeyPair(&key)) return Fail(name, "no random source for a key");
  std::string error;
  if (!CreateKeyFile(name, SecretKeyText(key), 0600, &error)) return Fail(name, error);
  if (!CreateKeyFile(name + ".pub", PublicKeyText(key.publicKey), 0644, &error)) {
    RemoveFile(name);
    return Fail(name + ".pub", error);
  }
  std::printf("%s: secret key; %s.pub: public key %s\n", name.c_str(), name.c_str(),
              Hex(key.publicKey.Id()).c_str());
  return kOk;
}

int Sign(const Arguments& args) {
  const std::vector<std::string> names = args.Values("--key");
  if (names.size() != 1 || args.operands.size() != 1) return Usage("sign takes --key NAME FILE");
  const std::string& name = names[0];
  const std::string& kit = args.operands[0];
  SecretKey key;
  std::string error;
  if (!ReadKeyFile(name, ParseSecretKey, "secret", &key, &error)) return Fail(name, error);
  if (!SignKit(kit, key, &error)) return Fail(kit, error);
  std::printf("%s: signed by key %s\n", kit.c_str(), Hex(key.publicKey.Id()).c_str());
  return kOk;
}

// --- one file to ship ---------------------------------------------------

int Bundle(const Arguments& args) {
  std::string installer;
  std::string out;
  for (const auto& [option, value] : args.options) {
    (option == "-o" ? out : installer) = value;
  }
  if (args.operands.size() > 1) return Usage("bundle takes one kit file");
  if (args.operands.empty() || out.empty()) return Usage("bundle takes -o OUT and a kit file");
  const std::string& kit = args.operands[0];
  if (installer.empty()) {
    std::string self;
    if (!ReadLink("/proc/self/exe", &self)) return Fail("vkt", "cannot find its own directory");
    installer = Join(DirName(self), "qorv-setup");
    struct stat st;
    if (::stat(installer.c_str(), &st) != 0) {
      return Fail(installer, std::string(std::strerror(errno)) +
                                 "; no installer beside vkt: name one with --installer PATH");
    }
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

int Unpack(const Arguments& args) {
  const bool force = args.Has("--force");
  const std::vector<std::string>& names = args.operands;
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
  // As the installer writes: small files go to helper threads with their
  // bytes while this thread inflates the next ones; large ones are written
  // here, straight from the stream.
  reader.SetStreamThreaded(false);
  constexpr uint64_t kSmallFile = 256 << 10;
  FileWriters writers(CopyJob::DefaultWriterThreads(), false);
  std::set<std::string> made;  // directories made already
  // A name the kit holds twice is written here, in order: the last one wins.
  std::set<WideString> seen;
  std::set<WideString> repeated;
  for (const KitEntry& entry : reader.entries()) {
    if (!seen.insert(entry.name).second) repeated.insert(entry.name);
  }
  Progress progress("unpacking");
  uint64_t done = 0;
  auto failed = [&](const std::string& path, int error) {
    progress.Finish();
    return Fail(path, std::string("cannot be written: ") + std::strerror(error));
  };
  for (size_t i = 0; i < reader.EntryCount() && !writers.Failed(); ++i) {
    const std::string& path = paths[i];
    const KitEntry& entry = reader.Entry(i);
    std::string parent = DirName(path);
    if (made.insert(parent).second && ShellMakeDirs(parent) != 0) {
      return Fail(parent, "cannot create this directory");
    }
    if (entry.size <= kSmallFile && repeated.count(entry.name) == 0) {
      std::string bytes;
      code = reader.ReadEntry(i, &bytes);
      if (code == 0) writers.Write(i, path, std::move(bytes), entry.time);
    } else {
      code = reader.ExtractEntry(i, path);
    }
    if (code != 0) {
      const int error = errno;
      std::vector<FileWriters::Written> written;
      std::string ignored;
      int ignoredError = 0;
      writers.Wait(&written, &ignored, &ignoredError);
      if (code == kErrorInvalidData) return Fail(names[0], reader.Problem());
      return failed(path, error);
    }
    done += entry.size;
    progress.Update(done, total);
  }
  std::vector<FileWriters::Written> written;
  std::string failedPath;
  int error = 0;
  if (writers.Wait(&written, &failedPath, &error) != 0) return failed(failedPath, error);
  if ((code = reader.EndStream(true)) != 0) return Fail(names[0], reader.Problem());
  progress.Finish();
  std::printf("%s: %zu %s written to %s\n", names[0].c_str(), reader.EntryCount(),
              reader.EntryCount() == 1 ? "entry" : "entries", root.c_str());
  return kOk;
}

// The commands: a name, what --help prints, the options, what runs.
struct Command {
  const char* name;
  const char* help;
  std::vector<KnownOption> options;
  int (*run)(const Arguments& args);
};

const Command kCommands[] = {
    {"pack",
     kPackHelp,
     {{"-d", true},
      {"-o", true},
      {"--descriptions", true},
      {"--exclude", true},
      {"--exclude-vcs", false},
      {"--exclude-from", true},
      {"--no-entry-digests", false},
      {"--quiet", false},
      {"--allow-empty", false},
      {"--level", true},
      {"--mtime", true},
      {"--strict", false},
      {"--follow-links", false},
      {"--no-trailer", false}},
     Pack},
    {"list", kListHelp, {{"--json", false}}, List},
    {"diff", kDiffHelp, {{"--json", false}, {"--plan", false}, {"--strict", false}}, Diff},
    {"verify", kVerifyHelp, {{"--key", true}, {"--tree", true}}, Verify},
    {"unpack", kUnpackHelp, {{"--force", false}}, Unpack},
    {"keygen", kKeygenHelp, {{"-o", true}}, Keygen},
    {"sign", kSignHelp, {{"--key", true}}, Sign},
    {"bundle", kBundleHelp, {{"--installer", true}, {"-o", true}}, Bundle},
};

}  // namespace
}  // namespace qorv::vkt

int main(int argc, char** argv) {
  using namespace qorv;
  // Kit texts are UTF-16 and file names UTF-8: work in a UTF-8 locale even
  // when the environment names none.
  SelectEnvironmentLocale();
  if (std::strcmp(nl_langinfo(CODESET), "UTF-8") != 0) std::setlocale(LC_ALL, "C.UTF-8");

  if (argc < 2) return vkt::Usage("no command given");
  const std::string name = argv[1];
  const std::vector<std::string> args(argv + 2, argv + argc);
  if (name == "--version" || name == "-V") {
    std::puts("vkt " QORV_VERSION);
    return vkt::kOk;
  }
  if (name == "--help" || name == "-h" || name == "help") {
    std::fputs(vkt::kUsageText, stdout);
    return vkt::kOk;
  }
  for (const vkt::Command& command : vkt::kCommands) {
    if (name != command.name) continue;
    if (vkt::WantsHelp(args)) {
      std::fputs(command.help, stdout);
      return vkt::kOk;
    }
    vkt::SetCommandOfUsage(command.name);
    vkt::Arguments scanned;
    const std::string problem = vkt::ScanArguments(args, command.options, &scanned);
    if (!problem.empty()) return vkt::Usage(problem);
    return command.run(scanned);
  }
  return vkt::Usage("unknown command " + name);
}
