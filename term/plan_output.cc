#include "term/plan_output.h"

namespace qorv {

std::string PlanText(const RunPlan& plan) {
  std::string out;
  for (const PlanItem& item : plan.items) {
    std::string action = ActionName(item.action);
    action.resize(13, ' ');
    out += action + " " + item.path + "\n";
  }
  out += std::to_string(plan.Count(PlanAction::kWrite)) + " to write, " +
         std::to_string(plan.Count(PlanAction::kReplace)) + " to replace, " +
         std::to_string(plan.Count(PlanAction::kKeep)) + " to keep, " +
         std::to_string(plan.Count(PlanAction::kRemove)) + " to remove, " +
         std::to_string(plan.Count(PlanAction::kKeepChanged)) + " kept as changed; " +
         std::to_string(plan.bytesToWrite) + " bytes to write\n";
  return out;
}

std::string PlanJson(const RunPlan& plan, const char* type) {
  std::string out;
  for (const PlanItem& item : plan.items) out += PlanItemJson(type, item) + "\n";
  return out + PlanTotalsJson(plan) + "\n";
}

std::string ResultJson(const char* outcome, int status, const std::string& target,
                       const RunPlan& done, const ResultWords& words) {
  std::string out = std::string("{\"type\":\"result\",\"outcome\":\"") + outcome +
                    "\",\"status\":" + std::to_string(status) +
                    ",\"target\":" + JsonString(target) +
                    ",\"changed\":" + (done.Changes() ? "true" : "false");
  for (int i = 0; i < kPlanActionCount; ++i) {
    out += ",\"" + std::string(ActionName(static_cast<PlanAction>(i))) +
           "\":" + std::to_string(done.count[i]);
  }
  for (const auto& [name, value] :
       {std::pair<const char*, const std::string*>{"message", &words.message},
        {"cause", &words.cause},
        {"log", &words.log}}) {
    if (!value->empty()) out += std::string(",\"") + name + "\":" + JsonString(*value);
  }
  return out + "}\n";
}

}  // namespace qorv
