// The remote control of a process: a Unix socket in the device folder
// ("control/<pid>") that a process opens when it makes its first top-level
// window. A client sends one line and reads one line back; what the lines
// mean is the business of whoever starts the channel (RemoteCommands for a
// program's windows). Numbers are decimal.
//
// The handheld host, which has no windows, serves its own commands the same
// way on "control/host"; its answers may run over several lines (the client
// reads until the host closes the connection).
//
// No client can stall a channel: each connection is served on a thread of
// its own (at most kMaxClients at once; the next waits for a free one), a
// client has kCommandTimeoutMs to send its line and must take the answer
// without pausing for longer than kAnswerTimeoutMs. Commands run one at a
// time. Lines up to kMaxLine bytes and answers up to kMaxAnswer bytes pass;
// a longer line is answered with an error, a longer answer is refused by
// the client. The folder "control/" is private to the user (0700) and so
// are its sockets (0600), whatever the umask.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "Status.h"

namespace handheld::detail {

class ControlChannel {
 public:
  static constexpr size_t kMaxLine = 64 * 1024;
  static constexpr size_t kMaxAnswer = 16 * 1024 * 1024;
  static constexpr int kCommandTimeoutMs = 5000;
  static constexpr int kAnswerTimeoutMs = 5000;
  static constexpr int kMaxClients = 32;
  // How long a client waits for the answer of a window program and of the
  // host (whose commands may install a package or hunt a receiver's rate).
  static constexpr int kProgramAnswerMs = 10000;
  static constexpr int kHostAnswerMs = 300000;

  // Checks one command line and gives the reply line; what it asks for is
  // done by `*then`, after the reply has gone out (a command may end the
  // program).
  using Executor = std::function<std::string(const std::string& line, std::function<void()>* then)>;

  // Opens this process's socket and serves it with `execute` on a thread of
  // its own, once.
  static void Start(Executor execute);
  // Removes this process's sockets (done at exit too).
  static void RemoveSocket();

  // Serves the host's socket with `handler` (one command line in, the
  // answer out), once per process. ERROR_ALREADY_EXISTS when another host
  // answers on it, else ERROR_OPEN_FAILED with the reason in *reason.
  static Status StartHost(std::function<std::string(const std::string&)> handler,
                          std::string* reason);
  static std::string HostSocket();
  // Removes the host's socket and, once a command in progress has been
  // answered and its answer sent, drops the handler: it is never called
  // again.
  static void StopHost();

  // Client side: the sockets of the programs with windows listening in the
  // device folder, newest first; and one exchange with one of them (or the
  // host), its answer read to the end within `answerMs`. ERROR_FILE_NOT_FOUND
  // only when nothing listens there (no socket, or the connection refused);
  // ERROR_TIMEOUT, ERROR_MORE_DATA (answer too long), ERROR_BROKEN_PIPE (no
  // answer), ERROR_ACCESS_DENIED otherwise. Failure() words them.
  static std::vector<std::string> Sockets();
  static Status Exchange(const std::string& socket, const std::string& line, std::string* reply,
                         int answerMs);
  static std::string Failure(Status status, const std::string& socket);
  // Removes the socket of a process that ended without removing it.
  static void Forget(const std::string& socket);
};

}  // namespace handheld::detail
