#include "copy/run_plan.h"

#include <sys/stat.h>

#include <cstdio>

#include "base/text_convert.h"
#include "fs/file_util.h"
#include "kit/kit_names.h"
#include "kit/kit_reader.h"

namespace qorv {

const char* ActionName(PlanAction action) {
  switch (action) {
    case PlanAction::kWrite:
      return "write";
    case PlanAction::kReplace:
      return "replace";
    case PlanAction::kKeep:
      return "keep";
    case PlanAction::kRemove:
      return "remove";
    case PlanAction::kKeepChanged:
      return "keep-changed";
  }
  return "";
}

void RunPlan::Add(PlanAction action, const std::string& path, uint64_t size) {
  items.push_back({action, path, size});
  ++count[static_cast<int>(action)];
  if (action == PlanAction::kWrite || action == PlanAction::kReplace) bytesToWrite += size;
}

bool RunPlan::Changes() const {
  return Count(PlanAction::kWrite) + Count(PlanAction::kReplace) + Count(PlanAction::kRemove) != 0;
}

Destination InspectDestination(const std::string& path, const FileTime& entryTime) {
  Destination d;
  struct stat st;
  if (!Lstat(path, &st)) return d;
  d.exists = true;
  if (S_ISLNK(st.st_mode) && !Stat(path, &st)) return d;
  d.permissions = static_cast<int>(st.st_mode & 0777);
  d.size = static_cast<uint64_t>(st.st_size);
  // Compared at the precision a copy sets, whole seconds: a file installed
  // from this very entry is equal to it, not older, whatever fraction of a
  // second the kit's time carries.
  d.older = st.st_mtime < UnixFromFileTime(entryTime);
  return d;
}

void PlanObsolete(const std::set<std::string>& shipped, const std::string& targetRoot,
                  const Manifest& previous, RunPlan* plan) {
  for (const ManifestFile& file : previous.files) {
    if (shipped.count(file.path) != 0) continue;
    struct stat st;
    if (!Lstat(targetRoot + file.path, &st)) continue;  // gone already
    plan->Add(UnchangedSince(targetRoot, file) ? PlanAction::kRemove : PlanAction::kKeepChanged,
              file.path, file.size);
  }
}

RunPlan PlanInstall(const KitReader& reader, const std::string& targetRoot,
                    const Manifest& previous) {
  RunPlan plan;
  std::set<std::string> shipped;
  for (const KitEntry& entry : reader.entries()) {
    std::string relative = Narrow(EntryPathOf(entry.name));
    shipped.insert(relative);
    Destination d = InspectDestination(targetRoot + relative, entry.time);
    PlanAction action = !d.older   ? PlanAction::kKeep
                        : d.exists ? PlanAction::kReplace
                                   : PlanAction::kWrite;
    plan.Add(action, relative, entry.size);
  }
  PlanObsolete(shipped, targetRoot, previous, &plan);
  return plan;
}

RunPlan PlanUninstall(const std::string& targetRoot, const Manifest& manifest) {
  RunPlan plan;
  PlanObsolete({}, targetRoot, manifest, &plan);
  return plan;
}

namespace {

// The length of the valid UTF-8 sequence at `s`, 0 when there is none.
size_t Utf8Length(const unsigned char* s, size_t left) {
  size_t n = s[0] < 0x80         ? 1
             : (s[0] >> 5) == 6  ? 2
             : (s[0] >> 4) == 14 ? 3
             : (s[0] >> 3) == 30 ? 4
                                 : 0;
  if (n == 0 || n > left || (n == 2 && s[0] < 0xC2)) return 0;
  for (size_t i = 1; i < n; ++i) {
    if ((s[i] & 0xC0) != 0x80) return 0;
  }
  if (n == 3 && ((s[0] == 0xE0 && s[1] < 0xA0) || (s[0] == 0xED && s[1] >= 0xA0))) return 0;
  if (n == 4 && ((s[0] == 0xF0 && s[1] < 0x90) || s[0] > 0xF4 || (s[0] == 0xF4 && s[1] >= 0x90))) {
    return 0;
  }
  return n;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  for (size_t i = 0; i < text.size();) {
    unsigned char c = bytes[i];
    size_t n = Utf8Length(bytes + i, text.size() - i);
    char escaped[8];
    if (n == 0) {
      // A name that is not UTF-8 keeps its bytes the way Python's
      // "surrogateescape" does: U+DC80..U+DCFF, one per byte.
      std::snprintf(escaped, sizeof escaped, "\\u%04x", 0xDC00 + c);
      out += escaped;
      n = 1;
    } else if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out + "\"";
}

std::string PlanItemJson(const char* type, const PlanItem& item) {
  return std::string("{\"type\":\"") + type + "\",\"action\":\"" + ActionName(item.action) +
         "\",\"path\":" + JsonString(item.path) + ",\"size\":" + std::to_string(item.size) + "}";
}

std::string PlanTotalsJson(const RunPlan& plan) {
  std::string out = "{\"type\":\"totals\"";
  for (int i = 0; i < kPlanActionCount; ++i) {
    out += ",\"" + std::string(ActionName(static_cast<PlanAction>(i))) +
           "\":" + std::to_string(plan.count[i]);
  }
  out += ",\"bytes_to_write\":" + std::to_string(plan.bytesToWrite);
  out += std::string(",\"changes\":") + (plan.Changes() ? "true" : "false") + "}";
  return out;
}

}  // namespace qorv
