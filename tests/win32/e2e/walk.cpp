// --walk-example: plays the user through an updater that is already set up
// (package embedded, registry key, installation and CD-ROM drive in place),
// printing every page and box and the outcome.
//
// The user accepts everything: OK in every box, "同意する", Next, and at
// the end "完了". Asked for a disk, the user inserts it (--disk= and
// --drive=: the disk's files are copied into the drive's folder) and
// answers OK; asked again for it, Cancel.
//
// With --shots=DIR it asks for a screenshot of each page and box: it writes
// DIR\shot.request holding one line, "NAME WxH+X+Y LAYER...", and waits
// until the caller (tools/run-example.sh, which owns the X display) has
// taken it and deleted the file. NAME is the picture's name, WxH+X+Y the
// part of the screen that the updater's windows cover, and each LAYER,
// "XID+X+Y", one of those windows, lowest first: its X window (Wine keeps
// the id in the window property "__wine_x11_whole_window") and where it
// lies. A picture of the whole screen misses a message box that the
// wizard's thread opens (the X server has it black there), so the caller
// lays the windows' own pictures over it. The names tell the pages apart:
// opening, opening-agreed, ready, running (the page while the update runs,
// with the box it shows on top), finished; other boxes are "box".
#include "e2e/walk.h"

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <cstring>
#include <initializer_list>

#include "e2e/harness.h"

namespace e2e {
namespace {

constexpr const char* kInsertDiskLead = "ＣＤ－ＲＯＭドライブに";

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

// Copies the folder tree `from` into `to` (made when missing), attributes
// (read-only, as on a disc) included.
bool CopyTree(const std::string& from, const std::string& to) {
  CreateDirectoryA(to.c_str(), nullptr);
  bool ok = true;
  for (const std::string& name : FolderEntries(from)) {
    std::string source = from + "\\" + name;
    std::string target = to + "\\" + name;
    DWORD attributes = GetFileAttributesA(source.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
      ok = CopyTree(source, target) && ok;
    } else {
      ok = CopyFileA(source.c_str(), target.c_str(), FALSE) && ok;
    }
  }
  return ok;
}

bool Busy(const Wizard& wizard) {
  return !wizard.Enabled(Wizard::kNext) && !wizard.Enabled(Wizard::kBack) &&
         !wizard.Enabled(Wizard::kCancel);
}

class Walker {
 public:
  explicit Walker(const std::string& shots) : shots_(shots) {}

  // A picture of the windows in `windows` (with a margin), named NN-name.
  void Screenshot(const std::string& name, std::initializer_list<HWND> windows) {
    if (shots_.empty()) return;
    RECT area = {0, 0, 0, 0};
    std::string layers;
    for (HWND window : windows) {
      RECT rect;
      if (!window || !GetWindowRect(window, &rect)) continue;
      if (area.right == area.left) {
        area = rect;
      } else {
        UnionRect(&area, &area, &rect);
      }
      HANDLE xid = GetPropA(window, "__wine_x11_whole_window");
      if (xid) {
        char layer[64];
        std::snprintf(layer, sizeof layer, " 0x%lx+%ld+%ld", (unsigned long)(uintptr_t)xid,
                      (long)rect.left, (long)rect.top);
        layers += layer;
      }
    }
    const int margin = 8;
    int left = std::max(0, (int)area.left - margin), top = std::max(0, (int)area.top - margin);
    int right = std::min(GetSystemMetrics(SM_CXSCREEN), (int)area.right + margin);
    int bottom = std::min(GetSystemMetrics(SM_CYSCREEN), (int)area.bottom + margin);
    if (right <= left || bottom <= top) return;
    // Wine hands its drawing to the X server a moment after the program
    // has painted; this is a picture for people, not a test.
    Sleep(400);
    char head[96];
    std::snprintf(head, sizeof head, "%02d-%s %dx%d+%d+%d", ++taken_, name.c_str(), right - left,
                  bottom - top, left, top);
    std::string line = head + layers + "\n";
    // Written aside and renamed, so that the caller never reads half of it.
    std::string request = shots_ + "\\shot.request";
    std::string draft = request + ".part";
    if (!WriteBytes(draft, line) ||
        !MoveFileExA(draft.c_str(), request.c_str(), MOVEFILE_REPLACE_EXISTING)) {
      std::printf("  (cannot ask for a screenshot in %s)\n", shots_.c_str());
      return;
    }
    if (Eventually([&] { return !PathExists(request); }, 15000)) {
      std::printf("  screenshot %s\n", head);
    } else {
      std::printf("  (no screenshot taken: nobody answered %s)\n", request.c_str());
      DeleteFileA(request.c_str());
    }
    std::fflush(stdout);
  }

 private:
  std::string shots_;
  int taken_ = 0;
};

std::string WizardState(const Wizard& wizard) {
  return wizard.Caption() + "|" + wizard.Info() + "|" + wizard.Text(Wizard::kNext) + "|" +
         (wizard.Enabled(Wizard::kNext) ? "1" : "0") + (wizard.Enabled(Wizard::kBack) ? "1" : "0") +
         (wizard.Enabled(Wizard::kCancel) ? "1" : "0") + (wizard.Checked(Wizard::kAgree) ? "1" : "0");
}

// The page's name, from what it shows and how often Next has been pressed.
std::string PageName(const Wizard& wizard, int nextPresses) {
  if (wizard.Text(Wizard::kNext) == "完了") return "finished";
  if (nextPresses == 0) return wizard.Checked(Wizard::kAgree) ? "opening-agreed" : "opening";
  if (nextPresses == 1) return "ready";
  if (Busy(wizard)) return "running";
  return "page";
}

void PrintWizard(const Wizard& wizard, int page, const std::string& name) {
  std::printf("page %d (%s), wizard \"%s\"\n", page, name.c_str(), Utf8(wizard.Caption()).c_str());
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

int WalkExample(const WalkOptions& options) {
  Walker walker(options.shots);
  MakeFolders(options.work);
  std::string temp = options.work + "\\temp";
  RemoveTree(temp);
  Process process(options.updater, options.work, temp);
  std::printf("started %s\n", options.updater.c_str());
  std::fflush(stdout);

  std::string lastState, pressedState;
  int page = 0, nextPresses = 0;
  bool diskInserted = false;
  DWORD progress = GetTickCount();
  const DWORD patience = 60000;  // a stuck walk ends; an update step may take a while
  while (process.Running()) {
    Found found = Look(process.pid());
    if (found.box && Settle(found.box)) {
      // The page under the box first: while the update runs, a box is the
      // only time the page can be seen.
      bool overBusyWizard = false;
      if (found.wizard) {
        Wizard wizard(found.wizard);
        overBusyWizard = Busy(wizard);
        std::string state = WizardState(wizard);
        if (state != lastState) {
          lastState = state;
          PrintWizard(wizard, ++page, PageName(wizard, nextPresses));
        }
      }
      MsgBox box(found.box);
      std::printf("message box \"%s\": %s\n", Utf8(box.Caption()).c_str(), Utf8(box.Text()).c_str());
      std::fflush(stdout);
      walker.Screenshot(overBusyWizard ? "running" : "box", {found.wizard, found.box});
      int answer = box.HasButton(IDOK) ? IDOK : IDCANCEL;
      if (box.Text().rfind(kInsertDiskLead, 0) == 0) {
        if (!diskInserted && !options.disk.empty() && !options.drive.empty()) {
          std::printf("  inserting the disk: %s into the drive's folder %s\n", options.disk.c_str(),
                      options.drive.c_str());
          if (!CopyTree(options.disk, options.drive)) std::printf("  (the copy failed)\n");
          diskInserted = true;
        } else {
          answer = IDCANCEL;  // no disk (left) to insert
        }
      }
      std::printf("  answered %s\n", answer == IDOK ? "OK" : "Cancel");
      std::fflush(stdout);
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
        std::string name = PageName(wizard, nextPresses);
        PrintWizard(wizard, ++page, name);
        // A busy page is seen here only in passing (its box, if any, is
        // about to appear and gets the picture).
        if (!Busy(wizard)) walker.Screenshot(name, {found.wizard});
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
          ++nextPresses;
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
