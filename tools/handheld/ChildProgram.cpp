#include "ChildProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "ProgramLine.h"

namespace {

std::string How(int raw, int* code) {
  if (WIFEXITED(raw)) {
    *code = WEXITSTATUS(raw);
    return "exit code " + std::to_string(*code);
  }
  *code = 128 + WTERMSIG(raw);
  return "killed by signal " + std::to_string(WTERMSIG(raw)) + " (" + strsignal(WTERMSIG(raw)) + ")";
}

}  // namespace

ChildProgram::~ChildProgram() {
  if (pid_ > 0) Stop(SIGKILL, 2000);
  if (output_ >= 0) close(output_);
}

bool ChildProgram::Start(const std::string& program, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment, bool pipeOutput,
                         std::string* reason) {
  testsupport::ProgramLine line(program, arguments, environment);
  int pipeFds[2] = {-1, -1};
  if (pipeOutput && pipe2(pipeFds, O_CLOEXEC) != 0) {
    *reason = std::string("cannot make a pipe: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  if (pipeOutput) posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setpgroup(&attributes, 0);
  // The host blocks or catches signals that its children must take as usual.
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &all);
  posix_spawnattr_setflags(&attributes,
                           POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  const int error =
      posix_spawn(&pid_, program.c_str(), &actions, &attributes, line.argv(), line.envp());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (pipeOutput) close(pipeFds[1]);
  if (error != 0) {
    pid_ = -1;
    if (pipeOutput) close(pipeFds[0]);
    *reason = "cannot start " + program + ": " + std::strerror(error);
    return false;
  }
  if (pipeOutput) output_ = pipeFds[0];
  return true;
}

std::string ChildProgram::FirstLine(int timeoutMs) {
  std::string line;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (output_ >= 0) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                          deadline - std::chrono::steady_clock::now())
                          .count();
    if (left <= 0) return "";
    pollfd p{output_, POLLIN, 0};
    const int ready = poll(&p, 1, static_cast<int>(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) return "";
    char c;
    const ssize_t n = read(output_, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return "";
    if (c == '\n') return line;
    line.push_back(c);
  }
  return "";
}

bool ChildProgram::Ended(int* code, std::string* how) {
  if (pid_ <= 0) return false;
  int raw = 0;
  if (waitpid(pid_, &raw, WNOHANG) != pid_) return false;
  pid_ = -1;
  *how = How(raw, code);
  return true;
}

std::string ChildProgram::Stop(int signal, int waitMs) {
  if (pid_ <= 0) return "not running";
  kill(pid_, signal);
  int code = 0;
  std::string how;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  while (std::chrono::steady_clock::now() < deadline) {
    if (Ended(&code, &how)) return how;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  kill(pid_, SIGKILL);
  int raw = 0;
  waitpid(pid_, &raw, 0);
  pid_ = -1;
  return How(raw, &code) + " (did not end by itself)";
}
