// --walk-example: plays the user through an updater that is already set up
// (package embedded, registry key and installation in place), printing every
// page and box and the outcome. With --shots=DIR it asks for a screenshot of
// each: it writes DIR\shot.request holding the picture's name and waits
// until the caller (tools/run-example.sh, which owns the X display) has
// taken it and deleted the file.
#include "e2e/walk.h"

#include <cstdio>
#include <cstring>

#include "e2e/harness.h"

namespace e2e {
namespace {

struct Found {
  HWND box = nullptr;
  HWND wizard = nullptr;
};

struct Search {
  DWORD pid;
  Found found;
};

BOOL CALLBACK Consider(HWND window, LPARAM param) {
  Search* search = (Search*)param;
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  char className[64] = "";
  GetClassNameA(window, className, sizeof className);
  if (pid != search->pid || std::strcmp(className, "#32770") != 0 || !IsWindowVisible(window)) {
    return TRUE;
  }
  if (GetDlgItem(window, 0xFFFF)) {
    search->found.box = window;
  } else if (GetDlgItem(window, Wizard::kInfo)) {
    search->found.wizard = window;
  }
  return TRUE;
}

Found Look(DWORD pid) {
  Search search{pid, Found()};
  EnumWindows(Consider, (LPARAM)&search);
  return search.found;
}

class Walker {
 public:
  Walker(const std::string& shots) : shots_(shots) {}

  void Screenshot(const std::string& name) {
    if (shots_.empty()) return;
    // Wine hands its drawing to the X server a moment after the program
    // has painted; this is a picture for people, not a test.
    Sleep(400);
    std::string request = shots_ + "\\shot.request";
    char numbered[16];
    std::snprintf(numbered, sizeof numbered, "%02d-", ++shots_taken_);
    if (!WriteBytes(request, numbered + name)) {
      std::printf("  (cannot ask for a screenshot in %s)\n", shots_.c_str());
      return;
    }
    if (!Eventually([&] { return !PathExists(request); }, 15000)) {
      std::printf("  (no screenshot taken: nobody answered %s)\n", request.c_str());
      DeleteFileA(request.c_str());
    }
  }

 private:
  std::string shots_;
  int shots_taken_ = 0;
};

std::string WizardState(const Wizard& wizard) {
  return wizard.Caption() + "|" + wizard.Info() + "|" + wizard.Text(Wizard::kNext) + "|" +
         (wizard.Enabled(Wizard::kNext) ? "1" : "0") + (wizard.Enabled(Wizard::kBack) ? "1" : "0") +
         (wizard.Enabled(Wizard::kCancel) ? "1" : "0") + (wizard.Checked(Wizard::kAgree) ? "1" : "0");
}

void PrintWizard(const Wizard& wizard, int page) {
  std::printf("page %d, wizard \"%s\"\n", page, Utf8(wizard.Caption()).c_str());
  std::printf("  info:    %s\n", Utf8(wizard.Info()).c_str());
  if (wizard.Visible(Wizard::kAgreement)) {
    std::string agreement = wizard.Text(Wizard::kAgreement);
    // The first line or so, cut between characters, not inside one.
    const char* end = agreement.c_str();
    while (*end && end - agreement.c_str() < 100) end = CharNextA(end);
    std::printf("  agreement (%u bytes): %s...\n", (unsigned)agreement.size(),
                Utf8(std::string(agreement.c_str(), end)).c_str());
  }
  auto button = [&](int id) {
    return "[" + Utf8(wizard.Text(id)) + (wizard.Enabled(id) ? "]" : "](disabled)");
  };
  std::printf("  buttons: %s %s %s\n", button(Wizard::kBack).c_str(), button(Wizard::kNext).c_str(),
              button(Wizard::kCancel).c_str());
  std::fflush(stdout);
}

}  // namespace

int WalkExample(const std::string& updater, const std::string& work, const std::string& shots) {
  Walker walker(shots);
  MakeFolders(work);
  std::string temp = work + "\\temp";
  RemoveTree(temp);
  Process process(updater, work, temp);
  std::printf("started %s\n", updater.c_str());
  std::fflush(stdout);

  std::string lastState, pressedState;
  int page = 0, boxes = 0;
  DWORD progress = GetTickCount();
  const DWORD patience = 60000;  // a stuck walk ends; an update step may take a while
  while (process.Running()) {
    Found found = Look(process.pid());
    if (found.box && Settle(found.box)) {
      MsgBox box(found.box);
      std::printf("message box \"%s\": %s\n", Utf8(box.Caption()).c_str(), Utf8(box.Text()).c_str());
      std::fflush(stdout);
      walker.Screenshot("box" + std::to_string(++boxes));
      int answer = box.HasButton(IDOK) ? IDOK : IDCANCEL;
      std::printf("  answered %s\n", answer == IDOK ? "OK" : "Cancel");
      box.Press(answer);
      Eventually([&] { return !IsWindow(found.box); });
      progress = GetTickCount();
      continue;
    }
    if (found.wizard && Settle(found.wizard)) {
      Wizard wizard(found.wizard);
      std::string state = WizardState(wizard);
      if (state != lastState) {
        lastState = state;
        PrintWizard(wizard, ++page);
        walker.Screenshot("page" + std::to_string(page));
        progress = GetTickCount();
      }
      if (state != pressedState) {
        if (wizard.Visible(Wizard::kAgree) && !wizard.Enabled(Wizard::kNext)) {
          std::printf("  choosing \"%s\"\n", Utf8(wizard.Text(Wizard::kAgree)).c_str());
          wizard.Press(Wizard::kAgree);
          continue;
        }
        if (wizard.Enabled(Wizard::kNext)) {
          std::printf("  pressing [%s]\n", Utf8(wizard.Text(Wizard::kNext)).c_str());
          std::fflush(stdout);
          pressedState = state;
          wizard.PressAsync(Wizard::kNext);
          continue;
        }
      }
    }
    if (GetTickCount() - progress > patience) {
      std::printf("nothing happened for %u s; windows:%s\n", (unsigned)(patience / 1000),
                  DescribeDialogs(process.pid()).c_str());
      process.Kill();
      return 2;
    }
    Sleep(30);
  }
  DWORD code = process.WaitExit();
  std::printf("the updater ended with exit code %lu (%s)\n", (unsigned long)code,
              code == 1 ? "finished" : "not finished");
  std::vector<std::string> left = FolderEntries(temp);
  std::printf("temporary folder after the run: %s\n",
              left.empty() ? "empty" : ("not empty: " + Utf8(left[0])).c_str());
  std::fflush(stdout);
  return left.empty() ? 0 : 3;
}

}  // namespace e2e
