#include "platform/tool_process.h"

#include <cstdio>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

bool FindProgram(const std::string& program, std::string* path) {
  char found[MAX_PATH * 2];
  const DWORD n = SearchPathA(nullptr, program.c_str(), ".exe", sizeof found, found, nullptr);
  if (n == 0 || n >= sizeof found) return false;
  *path = found;
  return true;
}

int RunProgram(const std::string& program, const std::vector<std::string>& args, bool* notFound,
               std::string* error) {
  *notFound = false;
  std::string found;
  if (!FindProgram(program, &found)) {
    *notFound = true;
    *error = program + ".exe is not on PATH";
    return -1;
  }
  std::fflush(stdout);
  std::fflush(stderr);
  std::string commandLine = QuoteWindowsArgument(found);
  for (const std::string& arg : args) commandLine += " " + QuoteWindowsArgument(arg);
  STARTUPINFOA startup;
  ZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = GetStdHandle(STD_ERROR_HANDLE);
  startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
  PROCESS_INFORMATION info;
  if (!CreateProcessA(found.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &info)) {
    *error = "cannot start " + found + " (error " + std::to_string(GetLastError()) + ")";
    return -1;
  }
  CloseHandle(info.hThread);
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  return (int)code;
}
