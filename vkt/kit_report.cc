#include "vkt/kit_report.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <map>
#include <set>
#include <vector>

#include "base/text_convert.h"
#include "fs/error_codes.h"
#include "kit/kit_crypto.h"
#include "kit/kit_trailer.h"

namespace qorv {

namespace {

// A kit's own text in a line of output: never a control sequence.
std::string Quoted(const WideString& text) { return "\"" + EscapeControls(Narrow(text)) + "\""; }

std::string LowerAscii(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

std::string IsoTime(const FileTime& time) {
  std::string readable = ReadableTime(time);
  if (readable == "?") return readable;
  readable[10] = 'T';
  return readable + "Z";
}

}  // namespace

uint32_t ReadEntryDigests(KitReader& reader, const std::vector<bool>& wanted,
                          std::vector<Digest>* digests) {
  digests->assign(reader.EntryCount(), Digest{});
  if (reader.Streams()) {
    uint32_t code = reader.BeginStream(wanted);
    if (code != 0) return code;
  }
  for (size_t i = 0; i < wanted.size(); ++i) {
    if (!wanted[i]) continue;
    Sha256 hash;
    uint32_t code = reader.ReadEntryTo(
        i, [&hash](const unsigned char* data, size_t size) { hash.Update(data, size); });
    if (code != 0) return code;
    (*digests)[i] = hash.Final();
  }
  return reader.EndStream(true);
}

std::string ReadableSize(uint64_t bytes) {
  if (bytes < 1024) return std::to_string(bytes) + " B";
  const char* units[] = {"KiB", "MiB", "GiB", "TiB"};
  double value = static_cast<double>(bytes) / 1024;
  size_t unit = 0;
  while (value >= 1024 && unit + 1 < sizeof units / sizeof units[0]) {
    value /= 1024;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %s", value, units[unit]);
  return text;
}

std::string ReadableTime(const FileTime& time) {
  time_t seconds = static_cast<time_t>(UnixFromFileTime(time));
  struct tm utc;
  char text[32];
  if (::gmtime_r(&seconds, &utc) == nullptr ||
      std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &utc) == 0) {
    return "?";
  }
  return text;
}

std::string TreeName(const WideString& name) {
  std::string text = EscapeControls(Narrow(name));
  std::replace(text.begin(), text.end(), '\\', '/');
  return text;
}

std::string TrailerSummary(const KitReader& reader) {
  if (!reader.HasTrailer()) return "not verified: no trailer: the kit cannot be checked";
  std::string line = "verified: digest matches";
  const std::vector<KitSignature>& signatures = reader.Trailer().signatures;
  for (size_t i = 0; i < signatures.size(); ++i) {
    line += (i == 0 ? ", signed by key " : ", ") + Hex(signatures[i].keyId);
  }
  if (signatures.empty()) line += ", not signed";
  return reader.Trailer().HasEntryDigests() ? line + ", with entry digests" : line;
}

std::string ListText(const KitReader& reader) {
  std::string out = TrailerSummary(reader) + "\n";
  for (const KitDescription& d : reader.descriptions()) {
    out += "description " + EscapeControls(Narrow(d.language)) + ": product " + Quoted(d.product) +
           ", provider " + Quoted(d.provider) + ", document \"" + TreeName(d.descriptionPath) +
           "\"\n";
  }
  uint64_t total = 0;
  char line[64];
  for (const KitEntry& e : reader.entries()) {
    std::snprintf(line, sizeof line, "%10s  %s  ", ReadableSize(e.size).c_str(),
                  ReadableTime(e.time).c_str());
    out += line + TreeName(e.name) + "\n";
    total += e.size;
  }
  out += std::to_string(reader.EntryCount()) + (reader.EntryCount() == 1 ? " file, " : " files, ") +
         ReadableSize(total) + " (" + std::to_string(total) + " bytes)\n";
  return out;
}

std::string ListJson(const KitReader& reader) {
  std::string out = "{\"verified\":";
  out += reader.HasTrailer() ? "true" : "false";
  out += std::string(",\"entry_digests\":") +
         (reader.Trailer().HasEntryDigests() ? "true" : "false") + ",\"signed_by\":[";
  const std::vector<KitSignature>& signatures = reader.Trailer().signatures;
  for (size_t i = 0; i < signatures.size(); ++i) {
    out += (i == 0 ? "" : ",") + JsonString(Hex(signatures[i].keyId));
  }
  out += "],\"descriptions\":[";
  bool first = true;
  for (const KitDescription& d : reader.descriptions()) {
    out += std::string(first ? "" : ",") + "{\"language\":" + JsonString(Narrow(d.language)) +
           ",\"product\":" + JsonString(Narrow(d.product)) +
           ",\"provider\":" + JsonString(Narrow(d.provider)) +
           ",\"document\":" + JsonString(TreeName(d.descriptionPath)) + "}";
    first = false;
  }
  out += "],\"entries\":[";
  uint64_t total = 0;
  first = true;
  const std::vector<Digest>& digests = reader.Trailer().entryDigests;
  for (size_t i = 0; i < reader.EntryCount(); ++i) {
    const KitEntry& e = reader.Entry(i);
    out += std::string(first ? "" : ",") + "{\"name\":" + JsonString(TreeName(e.name)) +
           ",\"size\":" + std::to_string(e.size) + ",\"time\":" + JsonString(IsoTime(e.time)) +
           (i < digests.size() ? ",\"sha256\":\"" + Hex(digests[i]) + "\"" : std::string()) + "}";
    total += e.size;
    first = false;
  }
  out += "],\"files\":" + std::to_string(reader.EntryCount()) +
         ",\"bytes\":" + std::to_string(total) + "}\n";
  return out;
}

namespace {

// One difference between two kits: its line for people, its object for
// tools, and its plan line.
struct Difference {
  std::string text;
  std::string json;
};

std::string JsonField(const char* name, const std::string& value) {
  return std::string(",\"") + name + "\":" + JsonString(value);
}

// The keys that signed `reader`'s kit, as hex ids.
std::set<std::string> SignersOf(const KitReader& reader) {
  std::set<std::string> ids;
  for (const KitSignature& s : reader.Trailer().signatures) ids.insert(Hex(s.keyId));
  return ids;
}

// The entries' digests: from the kit's table, else read (those in `wanted`).
uint32_t EntryDigestsOf(KitReader& reader, const std::vector<bool>& wanted,
                        std::vector<Digest>* digests) {
  if (reader.Trailer().HasEntryDigests()) {
    *digests = reader.Trailer().entryDigests;
    return kErrorNone;
  }
  return ReadEntryDigests(reader, wanted, digests);
}

}  // namespace

uint32_t DiffKits(KitReader& a, KitReader& b, const DiffOptions& options, std::string* out,
                  DiffVerdict* verdict, std::string* problem) {
  *verdict = DiffVerdict{};
  std::map<std::string, size_t> inA;
  std::map<std::string, size_t> inB;
  for (size_t i = 0; i < a.EntryCount(); ++i) inA[TreeName(a.Entry(i).name)] = i;
  for (size_t i = 0; i < b.EntryCount(); ++i) inB[TreeName(b.Entry(i).name)] = i;
  // Every entry the two kits share is compared by content: a time-only
  // change and a change under the same time are both told apart.
  std::vector<bool> wantA(a.EntryCount(), false);
  std::vector<bool> wantB(b.EntryCount(), false);
  for (const auto& [name, i] : inA) {
    auto j = inB.find(name);
    if (j == inB.end()) continue;
    wantA[i] = true;
    wantB[j->second] = true;
  }
  std::vector<Digest> digestsA;
  std::vector<Digest> digestsB;
  uint32_t code = EntryDigestsOf(a, wantA, &digestsA);
  if (code != 0) {
    *problem = "the first kit: " + a.Problem();
    return code;
  }
  if ((code = EntryDigestsOf(b, wantB, &digestsB)) != 0) {
    *problem = "the second kit: " + b.Problem();
    return code;
  }
  const bool delivered = b.Trailer().HasEntryDigests();
  std::map<std::string, Difference> lines;  // by name, so the output is sorted
  std::map<std::string, std::string> plan;  // what an unchanged install of A gets from B
  auto entry = [](const char* change, const std::string& name, const std::string& more) {
    return "{\"type\":\"entry\",\"change\":\"" + std::string(change) + "\"" +
           JsonField("name", name) + more + "}";
  };
  auto planned = [&](const char* action, const std::string& name, uint64_t size,
                     const char* reason) {
    std::string word = action;
    word.resize(13, ' ');
    plan[name] = options.json
                     ? "{\"type\":\"plan\",\"action\":\"" + std::string(action) + "\"" +
                           JsonField("path", name) + ",\"size\":" + std::to_string(size) +
                           (reason != nullptr ? JsonField("reason", reason) : "") + "}\n"
                     : word + " " + name +
                           (reason != nullptr ? std::string(" (") + reason + ")" : "") + "\n";
  };
  for (const auto& [name, i] : inA) {
    auto j = inB.find(name);
    if (j == inB.end()) {
      lines[name] = {"removed  " + name, entry("removed", name, "")};
      planned("remove", name, a.Entry(i).size, nullptr);
      continue;
    }
    const KitEntry& x = a.Entry(i);
    const KitEntry& y = b.Entry(j->second);
    const bool sameBytes = x.size == y.size && digestsA[i] == digestsB[j->second];
    const std::string times = "  (" + ReadableTime(x.time) + " -> " + ReadableTime(y.time) + ")";
    const std::string jsonTimes = JsonField("old_time", IsoTime(x.time)) +
                                  JsonField("new_time", IsoTime(y.time)) +
                                  ",\"same_content\":" + (sameBytes ? "true" : "false");
    // The installer compares whole seconds.
    const int64_t older = UnixFromFileTime(x.time);
    const int64_t newer = UnixFromFileTime(y.time);
    if (newer > older) {
      lines[name] = {
          (sameBytes ? "newer    " + name + times + ", same content" : "newer    " + name + times),
          entry("newer", name, jsonTimes)};
      planned("replace", name, y.size, nullptr);
    } else if (newer < older) {
      lines[name] = {"older    " + name + times, entry("older", name, jsonTimes)};
      planned("keep", name, y.size,
              sameBytes ? nullptr : "not delivered: the installed copy is newer");
    } else if (!sameBytes) {
      ++verdict->sameTimeChanges;
      const char* mark = delivered ? "delivered only with entry digests" : "not delivered";
      lines[name] = {"changed  " + name + "  (same time: " + mark + ")",
                     entry("changed", name,
                           jsonTimes + ",\"delivered\":\"" +
                               (delivered ? "with entry digests" : "no") + "\"")};
      if (delivered) {
        planned("replace", name, y.size, "same time, other bytes");
      } else {
        planned("keep", name, y.size, "not delivered: same time, other bytes");
      }
    } else {
      planned("keep", name, y.size, nullptr);
    }
  }
  for (const auto& [name, j] : inB) {
    if (inA.count(name) == 0) {
      lines[name] = {"added    " + name + "  " + ReadableSize(b.Entry(j).size),
                     entry("added", name, ",\"size\":" + std::to_string(b.Entry(j).size))};
      planned("write", name, b.Entry(j).size, nullptr);
    }
  }
  std::vector<Difference> all;
  for (auto& [name, line] : lines) all.push_back(std::move(line));

  std::map<std::string, const KitDescription*> descA;
  std::map<std::string, const KitDescription*> descB;
  for (const KitDescription& d : a.descriptions())
    descA.emplace(LowerAscii(EscapeControls(Narrow(d.language))), &d);
  for (const KitDescription& d : b.descriptions())
    descB.emplace(LowerAscii(EscapeControls(Narrow(d.language))), &d);
  auto said = [](const KitDescription& d) {
    return "product " + Quoted(d.product) + ", provider " + Quoted(d.provider) + ", document \"" +
           TreeName(d.descriptionPath) + "\"";
  };
  auto described = [](const KitDescription& d) {
    return JsonField("product", Narrow(d.product)) + JsonField("provider", Narrow(d.provider)) +
           JsonField("document", TreeName(d.descriptionPath));
  };
  auto description = [](const char* change, const std::string& language, const std::string& more) {
    return "{\"type\":\"description\",\"change\":\"" + std::string(change) + "\"" +
           JsonField("language", language) + more + "}";
  };
  for (const auto& [language, d] : descA) {
    auto other = descB.find(language);
    if (other == descB.end()) {
      all.push_back({"description " + language + " removed", description("removed", language, "")});
    } else if (said(*d) != said(*other->second)) {
      all.push_back({"description " + language + ": " + said(*d) + " -> " + said(*other->second),
                     description("changed", language, described(*other->second))});
    }
  }
  for (const auto& [language, d] : descB) {
    if (descA.count(language) == 0) {
      all.push_back({"description " + language + " added: " + said(*d),
                     description("added", language, described(*d))});
    }
  }

  // The trailers: whether each kit can be checked, by whom it is signed,
  // and whether it carries entry digests.
  auto trailer = [](const char* change, const std::string& more) {
    return "{\"type\":\"trailer\",\"change\":\"" + std::string(change) + "\"" + more + "}";
  };
  if (a.HasTrailer() != b.HasTrailer()) {
    all.push_back(
        b.HasTrailer()
            ? Difference{"trailer added: the kit can be checked", trailer("added", "")}
            : Difference{"trailer removed: the kit cannot be checked", trailer("removed", "")});
  }
  const std::set<std::string> signersA = SignersOf(a);
  const std::set<std::string> signersB = SignersOf(b);
  for (const std::string& id : signersA) {
    if (signersB.count(id) == 0) {
      all.push_back(
          {"signature removed: key " + id, trailer("signature removed", JsonField("key", id))});
    }
  }
  for (const std::string& id : signersB) {
    if (signersA.count(id) == 0) {
      all.push_back(
          {"signature added: key " + id, trailer("signature added", JsonField("key", id))});
    }
  }
  if (a.Trailer().HasEntryDigests() != b.Trailer().HasEntryDigests()) {
    all.push_back(delivered
                      ? Difference{"entry digests added", trailer("entry digests added", "")}
                      : Difference{"entry digests removed", trailer("entry digests removed", "")});
  }

  verdict->differences = all.size();
  if (options.plan) {
    for (const auto& [name, line] : plan) *out += line;
    return kErrorNone;
  }
  for (const Difference& d : all) *out += (options.json ? d.json : d.text) + "\n";
  return kErrorNone;
}

}  // namespace qorv
