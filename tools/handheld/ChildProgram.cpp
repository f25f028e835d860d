#include "ChildProgram.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <functional>
#include <mutex>
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

// Children are forked by one thread that lives as long as the host: their
// parent-death signal comes when the thread that forked them ends, and the
// host's commands run on threads that end after each command.
class Spawner {
 public:
  static void Run(const std::function<void()>& job) {
    static Spawner* const spawner = new Spawner;  // never destroyed: its thread runs to the end
    std::unique_lock<std::mutex> lock(spawner->mutex_);
    spawner->idle_.wait(lock, [&] { return spawner->job_ == nullptr; });
    bool done = false;
    spawner->job_ = &job;
    spawner->done_ = &done;
    spawner->wake_.notify_all();
    spawner->idle_.wait(lock, [&] { return done; });
  }

 private:
  Spawner() {
    std::thread([this] { Loop(); }).detach();
  }
  void Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      wake_.wait(lock, [&] { return job_ != nullptr; });
      (*job_)();
      *done_ = true;
      job_ = nullptr;
      idle_.notify_all();
    }
  }
  std::mutex mutex_;
  std::condition_variable wake_, idle_;
  const std::function<void()>* job_ = nullptr;
  bool* done_ = nullptr;
};

// In the forked child, before exec: only async-signal-safe calls. Writes
// errno to `report` when the program cannot be started.
[[noreturn]] void ExecChild(pid_t parent, const char* program, char** argv, char** envp,
                            int output, int report) {
  setpgid(0, 0);
  // Ends with its host, however the host ends; a host already gone before
  // the signal was armed is caught by the parent's id.
  prctl(PR_SET_PDEATHSIG, SIGTERM);
  if (getppid() != parent) _exit(127);
  // The host blocks or catches signals that its children must take as usual.
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigemptyset(&standard.sa_mask);
  for (int signal = 1; signal < NSIG; ++signal) sigaction(signal, &standard, nullptr);
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  const int input = open("/dev/null", O_RDONLY);
  if (input >= 0 && input != STDIN_FILENO) {
    dup2(input, STDIN_FILENO);
    close(input);
  }
  if (output >= 0) dup2(output, STDOUT_FILENO);
  execve(program, argv, envp);
  const int error = errno;
  if (write(report, &error, sizeof error) < 0) _exit(127);
  _exit(127);
}

}  // namespace

ChildProgram::~ChildProgram() {
  if (pid_ > 0) Stop(SIGKILL, 2000);
  if (output_ >= 0) close(output_);
}

bool ChildProgram::Start(const std::string& program, const std::vector<std::string>& arguments,
                         const std::vector<std::string>& environment, bool pipeOutput,
                         std::string* reason) {
  ProgramLine line(program, arguments, environment);
  int pipeFds[2] = {-1, -1}, report[2] = {-1, -1};
  if ((pipeOutput && pipe2(pipeFds, O_CLOEXEC) != 0) || pipe2(report, O_CLOEXEC) != 0) {
    *reason = std::string("cannot make a pipe: ") + std::strerror(errno);
    for (int fd : {pipeFds[0], pipeFds[1]})
      if (fd >= 0) close(fd);
    return false;
  }
  const pid_t parent = getpid();
  pid_t pid = -1;
  int error = 0;
  Spawner::Run([&] {
    pid = fork();
    if (pid == 0) ExecChild(parent, program.c_str(), line.argv(), line.envp(), pipeFds[1], report[1]);
    error = errno;
  });
  if (pipeOutput) close(pipeFds[1]);
  close(report[1]);
  if (pid > 0) {
    // The report pipe closes on a successful exec; an errno comes on a failed one.
    ssize_t n;
    do n = read(report[0], &error, sizeof error);
    while (n < 0 && errno == EINTR);
    if (n == static_cast<ssize_t>(sizeof error)) {
      int raw = 0;
      waitpid(pid, &raw, 0);
      pid = -1;
    }
  }
  close(report[0]);
  if (pid < 0) {
    if (pipeOutput) close(pipeFds[0]);
    *reason = "cannot start " + program + ": " + std::strerror(error);
    return false;
  }
  pid_ = pid;
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
