// How the terminal shows a run's plan and its outcome: plain lines for
// people, or one JSON object per line for deployment tools.
//
//   {"type":"plan","action":"write","path":"a/b.cf","size":120}
//   {"type":"file","action":"replace",...}      what a run did
//   {"type":"totals","write":1,...,"bytes_to_write":120,"changes":true}
//   {"type":"result","outcome":"installed","status":0,"changed":true,...}
#ifndef QORV_TERM_PLAN_OUTPUT_H_
#define QORV_TERM_PLAN_OUTPUT_H_

#include <string>

#include "copy/run_plan.h"

namespace qorv {

// One line per file ("write         a/b.cf"), then the totals.
std::string PlanText(const RunPlan& plan);
// The same as JSON lines, the items with `type` ("plan" or "file").
std::string PlanJson(const RunPlan& plan, const char* type);

// The result line: `outcome` is installed, unchanged, removed, failed,
// cancelled or nothing (nothing to uninstall). A failure adds what the
// terminal said (`message`, and the `cause` line when there is one) and the
// run's `log`; empty ones are left out.
struct ResultWords {
  std::string message;
  std::string cause;
  std::string log;
  // The installed description document, when the kit names one.
  std::string description;
};
std::string ResultJson(const char* outcome, int status, const std::string& target,
                       const RunPlan& done, const ResultWords& words = {});

}  // namespace qorv

#endif  // QORV_TERM_PLAN_OUTPUT_H_
