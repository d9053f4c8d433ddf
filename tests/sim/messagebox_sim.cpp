#include "platform/messagebox.h"
#include "sim/sim.h"

#include <deque>
#include <utility>

namespace {
struct ScriptedAnswer {
  int answer;
  std::function<void()> whileShown;
};
std::vector<HostMessageBox> shown;
std::deque<ScriptedAnswer> answers;
}  // namespace

int OsMessageBox(WindowHandle owner, const char* text, const char* caption, u32 flags) {
  shown.push_back(HostMessageBox{text ? text : "", caption ? caption : "", owner, flags});
  if (answers.empty()) return kIdOk;
  ScriptedAnswer next = std::move(answers.front());
  answers.pop_front();
  if (next.whileShown) next.whileShown();
  return next.answer;
}

const std::vector<HostMessageBox>& HostMessageBoxes() { return shown; }

void HostResetMessageBoxes() {
  shown.clear();
  answers.clear();
}

void HostQueueMessageBoxAnswer(int answer, std::function<void()> whileShown) {
  answers.push_back(ScriptedAnswer{answer, std::move(whileShown)});
}
