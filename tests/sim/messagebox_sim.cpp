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
std::function<int(const HostMessageBox&)> responder;
}  // namespace

int OsMessageBox(WindowHandle owner, const char* text, const char* caption, u32 flags) {
  shown.push_back(HostMessageBox{text ? text : "", caption ? caption : "", owner, flags});
  if (answers.empty()) {
    const HostMessageBox box = shown.back();
    return responder ? responder(box) : kIdOk;
  }
  ScriptedAnswer next = std::move(answers.front());
  answers.pop_front();
  if (next.whileShown) next.whileShown();
  return next.answer;
}

const std::vector<HostMessageBox>& HostMessageBoxes() { return shown; }

void HostResetMessageBoxes() {
  shown.clear();
  answers.clear();
  responder = nullptr;
}

void HostSetMessageBoxResponder(std::function<int(const HostMessageBox& box)> respond) {
  responder = std::move(respond);
}

void HostQueueMessageBoxAnswer(int answer, std::function<void()> whileShown) {
  answers.push_back(ScriptedAnswer{answer, std::move(whileShown)});
}
