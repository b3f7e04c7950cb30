#include "vkt/kit_report.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <map>
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

// The digests of the entries of `reader` marked in `wanted`, read in one
// pass in entry order.
uint32_t DigestsOf(KitReader& reader, const std::vector<bool>& wanted,
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

}  // namespace

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
  return signatures.empty() ? line + ", not signed" : line;
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
  out += ",\"signed_by\":[";
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
  for (const KitEntry& e : reader.entries()) {
    out += std::string(first ? "" : ",") + "{\"name\":" + JsonString(TreeName(e.name)) +
           ",\"size\":" + std::to_string(e.size) + ",\"time\":" + JsonString(IsoTime(e.time)) + "}";
    total += e.size;
    first = false;
  }
  out += "],\"files\":" + std::to_string(reader.EntryCount()) +
         ",\"bytes\":" + std::to_string(total) + "}\n";
  return out;
}

uint32_t DiffKits(KitReader& a, KitReader& b, std::string* out, std::string* problem) {
  std::map<std::string, size_t> inA;
  std::map<std::string, size_t> inB;
  for (size_t i = 0; i < a.EntryCount(); ++i) inA[TreeName(a.Entry(i).name)] = i;
  for (size_t i = 0; i < b.EntryCount(); ++i) inB[TreeName(b.Entry(i).name)] = i;
  // The bytes are compared only where the times say nothing.
  std::vector<bool> wantA(a.EntryCount(), false);
  std::vector<bool> wantB(b.EntryCount(), false);
  for (const auto& [name, i] : inA) {
    auto j = inB.find(name);
    if (j == inB.end()) continue;
    if (a.Entry(i).time == b.Entry(j->second).time && a.Entry(i).size == b.Entry(j->second).size) {
      wantA[i] = true;
      wantB[j->second] = true;
    }
  }
  std::vector<Digest> digestsA;
  std::vector<Digest> digestsB;
  uint32_t code = DigestsOf(a, wantA, &digestsA);
  if (code != 0) {
    *problem = "the first kit: " + a.Problem();
    return code;
  }
  if ((code = DigestsOf(b, wantB, &digestsB)) != 0) {
    *problem = "the second kit: " + b.Problem();
    return code;
  }
  std::map<std::string, std::string> lines;  // by name, so the output is sorted
  for (const auto& [name, i] : inA) {
    auto j = inB.find(name);
    if (j == inB.end()) {
      lines[name] = "removed  " + name + "\n";
      continue;
    }
    const KitEntry& x = a.Entry(i);
    const KitEntry& y = b.Entry(j->second);
    const std::string times = "  (" + ReadableTime(x.time) + " -> " + ReadableTime(y.time) + ")";
    if (y.time.Ticks() > x.time.Ticks()) {
      lines[name] = "newer    " + name + times + "\n";
    } else if (y.time.Ticks() < x.time.Ticks()) {
      lines[name] = "older    " + name + times + "\n";
    } else if (x.size != y.size || digestsA[i] != digestsB[j->second]) {
      lines[name] = "changed  " + name + "  (the same time, other bytes)\n";
    }
  }
  for (const auto& [name, j] : inB) {
    if (inA.count(name) == 0) {
      lines[name] = "added    " + name + "  " + ReadableSize(b.Entry(j).size) + "\n";
    }
  }
  for (const auto& [name, line] : lines) *out += line;

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
  for (const auto& [language, d] : descA) {
    auto other = descB.find(language);
    if (other == descB.end()) {
      *out += "description " + language + " removed\n";
    } else if (said(*d) != said(*other->second)) {
      *out += "description " + language + ": " + said(*d) + " -> " + said(*other->second) + "\n";
    }
  }
  for (const auto& [language, d] : descB) {
    if (descA.count(language) == 0)
      *out += "description " + language + " added: " + said(*d) + "\n";
  }
  return kErrorNone;
}

}  // namespace qorv
