// The test helpers that differ between systems, on POSIX systems: temporary
// folders, the environment, child processes (through env(1) and posix_spawn).
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/test_support.h"

extern char** environ;

namespace vornisk::testing {

std::string makeTempDirectory() {
  const char* base = std::getenv("TMPDIR");
  std::string pattern =
      std::string(base != nullptr && *base != '\0' ? base : "/tmp") + "/vornisk-test-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "cannot make a temporary folder";
  return pattern;
}

void setEnvironment(const std::string& name, const std::optional<std::string>& value) {
  if (value) {
    setenv(name.c_str(), value->c_str(), 1);
  } else {
    unsetenv(name.c_str());
  }
}

Child::Child(const std::vector<std::string>& argv, const Environment& environment,
             const std::string& folder)
    : files(makeTempDirectory()) {
  std::vector<std::string> text = {"/usr/bin/env"};  // options (-u) first, then settings
  for (const auto& [name, value] : environment)
    text.insert(value ? text.end() : text.begin() + 1, value ? name + "=" + *value : "-u" + name);
  text.insert(text.end(), argv.begin(), argv.end());
  std::vector<char*> pointers;
  for (std::string& each : text)
    pointers.push_back(each.data());
  pointers.push_back(nullptr);
  // The outputs go to files rather than pipes: nothing to drain while waiting.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string paths[] = {"/dev/null", files + "/out", files + "/err"};
  for (int fd = 0; fd < 3; ++fd) {
    posix_spawn_file_actions_addopen(&actions, fd, paths[fd].c_str(),
                                     fd == 0 ? O_RDONLY : O_WRONLY | O_CREAT, 0600);
  }
  if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t child = -1;
  if (posix_spawn(&child, pointers[0], &actions, nullptr, pointers.data(), environ) == 0) {
    pid = child;
  }
  posix_spawn_file_actions_destroy(&actions);
}

Child::~Child() {
  if (pid > 0 && kill(pid, SIGTERM) == 0) waitpid(pid, nullptr, 0);
  std::filesystem::remove_all(files);
}

int Child::wait() {
  int status = 0;
  while (pid > 0 && waitpid(pid, &status, 0) < 0) {
  }
  pid = -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

std::string Child::out() const {
  return readText(files + "/out");
}

std::string Child::err() const {
  return readText(files + "/err");
}
}  // namespace vornisk::testing
