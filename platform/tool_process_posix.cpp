#include "platform/tool_process.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

bool FindProgram(const std::string& program, std::string* path) {
  if (program.find('/') != std::string::npos) {
    if (access(program.c_str(), X_OK) != 0) return false;
    *path = program;
    return true;
  }
  const char* search = std::getenv("PATH");
  std::string list = search ? search : "/usr/bin:/bin";
  for (size_t from = 0; from <= list.size();) {
    size_t to = list.find(':', from);
    if (to == std::string::npos) to = list.size();
    const std::string folder = to > from ? list.substr(from, to - from) : ".";
    const std::string candidate = folder + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) {
      *path = candidate;
      return true;
    }
    from = to + 1;
  }
  return false;
}

int RunProgram(const std::string& program, const std::vector<std::string>& args, bool* notFound,
               std::string* error) {
  *notFound = false;
  std::fflush(stdout);
  std::fflush(stderr);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, STDERR_FILENO, STDOUT_FILENO);
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (failed) {
    *notFound = failed == ENOENT;
    *error = *notFound ? program + " is not on PATH"
                       : "cannot start " + program + ": " + std::strerror(failed);
    return -1;
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      *error = "lost " + program + ": " + std::strerror(errno);
      return -1;
    }
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  *error = program + " ended by signal " + std::to_string(WTERMSIG(status));
  return -1;
}
