#include "term/plan_output.h"

#include "base/text_convert.h"

namespace qorv {

std::string PlanText(const RunPlan& plan) {
  std::string out;
  for (const PlanItem& item : plan.items) {
    std::string action = ActionName(item.action);
    action.resize(13, ' ');
    out += action + " " + EscapeControls(item.path) +
           (item.reason != nullptr ? std::string(" (") + item.reason + ")" : std::string()) + "\n";
  }
  if (!plan.record.empty()) out += "record        " + EscapeControls(plan.record) + "\n";
  return out + PlanTotalsText(plan) + "\n";
}

std::string PlanJson(const RunPlan& plan, const char* type) {
  std::string out;
  for (const PlanItem& item : plan.items) out += PlanItemJson(type, item) + "\n";
  if (!plan.record.empty()) {
    auto list = [](const std::vector<std::string>& places) {
      std::string json = "[";
      for (const std::string& place : places) {
        json += (json.size() > 1 ? "," : "") + JsonString(place);
      }
      return json + "]";
    };
    out += std::string("{\"type\":\"") + type +
           "\",\"action\":\"record\",\"path\":" + JsonString(plan.record) +
           ",\"before\":" + list(plan.listBefore) + ",\"after\":" + list(plan.listAfter) + "}\n";
  }
  return out + PlanTotalsJson(plan) + "\n";
}

namespace {

// The target as scripts compare it: without a final "/", whether it was
// given with -D or proposed.
std::string OneSpelling(std::string target) {
  while (target.size() > 1 && target.back() == '/') target.pop_back();
  return target;
}

}  // namespace

std::string ResultJson(const char* outcome, int status, const std::string& target,
                       const RunPlan& done, const ResultWords& words) {
  std::string out = std::string("{\"type\":\"result\",\"outcome\":\"") + outcome +
                    "\",\"status\":" + std::to_string(status) +
                    ",\"target\":" + JsonString(OneSpelling(target)) +
                    ",\"changed\":" + (done.Changes() ? "true" : "false");
  for (int i = 0; i < kPlanActionCount; ++i) {
    out += ",\"" + std::string(ActionName(static_cast<PlanAction>(i))) +
           "\":" + std::to_string(done.count[i]);
  }
  for (const auto& [name, value] :
       {std::pair<const char*, const std::string*>{"message", &words.message},
        {"cause", &words.cause},
        {"log", &words.log},
        {"description", &words.description}}) {
    if (!value->empty()) out += std::string(",\"") + name + "\":" + JsonString(*value);
  }
  return out + "}\n";
}

}  // namespace qorv
