#include "ControlChannel.h"

#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "DeviceFolder.h"
#include "ExitHooks.h"
#include "ProcessLifetime.h"
#include "Trace.h"
#include "handheld.h"

namespace handheld::detail {
namespace {

using Clock = std::chrono::steady_clock;
using Executor = ControlChannel::Executor;

std::string Folder() { return DeviceFolder() + "/control"; }

bool MakeAddress(const std::string& path, sockaddr_un* address) {
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

// One served socket: what runs its commands, the lock that runs them one at
// a time (held from a command's execution until its answer is out), and the
// count of connections being served.
struct Channel {
  Executor execute;
  std::mutex* exchange = nullptr;
  std::mutex mutex;
  std::condition_variable freed;
  int clients = 0;
};

struct Listener {
  std::mutex mutex;
  bool started = false;
  std::string path;
  bool hostStarted = false;
  std::string hostPath;
  // Held while the host's handler runs and its answer goes out, so that
  // StopHost waits for both.
  std::mutex hostMutex;
  std::function<std::string(const std::string&)> hostHandler;
  bool exitHooked = false;
};

Listener& TheListener() { return ProcessLifetime<Listener>::Get(); }

void RemoveSocketAtExit() { ControlChannel::RemoveSocket(); }

// The sockets go when the process ends, by exit or by ExitProcess. Under
// the listener's mutex.
void RemoveSocketsAtExit(Listener& listener) {
  if (listener.exitHooked) return;
  listener.exitHooked = true;
  std::atexit(RemoveSocketAtExit);
  ExitHooks::Add(RemoveSocketAtExit);
}

int MillisecondsLeft(Clock::time_point deadline) {
  const auto left =
      std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left <= 0 ? 0 : static_cast<int>(std::min<long long>(left, 60000));
}

// Waits until `fd` is ready for `events` or the deadline passes.
bool WaitReady(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const int left = MillisecondsLeft(deadline);
    if (left == 0) return false;
    pollfd p{fd, events, 0};
    const int ready = poll(&p, 1, left);
    if (ready < 0 && errno == EINTR) continue;
    if (ready < 0) return false;
    if (ready > 0) return true;
  }
}

enum class LineRead { kLine, kNone, kTooLong };

// Reads one line (without its end) of at most kMaxLine bytes before the
// deadline; the far end closing after some text ends the line too.
LineRead ReadLine(int fd, Clock::time_point deadline, std::string* line) {
  line->clear();
  char buffer[4096];
  for (;;) {
    if (!WaitReady(fd, POLLIN, deadline)) return LineRead::kNone;
    const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return line->empty() ? LineRead::kNone : LineRead::kLine;
    const char* end = static_cast<const char*>(std::memchr(buffer, '\n', static_cast<size_t>(n)));
    line->append(buffer, end ? static_cast<size_t>(end - buffer) : static_cast<size_t>(n));
    if (line->size() > ControlChannel::kMaxLine) return LineRead::kTooLong;
    if (end) return LineRead::kLine;
  }
}

// Sends all of `text`; false when the far end has gone or takes nothing
// for `idleMs`.
bool WriteAll(int fd, const std::string& text, int idleMs) {
  size_t done = 0;
  while (done < text.size()) {
    if (!WaitReady(fd, POLLOUT, Clock::now() + std::chrono::milliseconds(idleMs))) return false;
    // Never SIGPIPE: the far end may have gone.
    const ssize_t n =
        send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Everything until the far end closes, up to kMaxAnswer bytes, without the
// last line's end.
Status ReadAnswer(int fd, Clock::time_point deadline, std::string* answer) {
  answer->clear();
  char buffer[16384];
  for (;;) {
    if (!WaitReady(fd, POLLIN, deadline)) return ERROR_TIMEOUT;
    const ssize_t n = recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n < 0) return ERROR_BROKEN_PIPE;
    if (n == 0) break;
    answer->append(buffer, static_cast<size_t>(n));
    if (answer->size() > ControlChannel::kMaxAnswer) return ERROR_MORE_DATA;
  }
  if (!answer->empty() && answer->back() == '\n') answer->pop_back();
  return answer->empty() ? Status(ERROR_BROKEN_PIPE) : Status::Ok();
}

// Answers a line that is too long, then takes (and drops) what the client
// still sends for a moment: closing on unread bytes would reset the
// connection and lose the answer.
void RefuseLongLine(int client) {
  WriteAll(client,
           "error the command is longer than " + std::to_string(ControlChannel::kMaxLine) +
               " bytes\n",
           ControlChannel::kAnswerTimeoutMs);
  shutdown(client, SHUT_WR);
  const Clock::time_point deadline = Clock::now() + std::chrono::seconds(1);
  char buffer[4096];
  for (size_t dropped = 0; dropped < ControlChannel::kMaxAnswer && WaitReady(client, POLLIN, deadline);) {
    const ssize_t n = recv(client, buffer, sizeof buffer, MSG_DONTWAIT);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) break;
    dropped += static_cast<size_t>(n);
  }
}

void ServeClient(Channel& channel, int client) {
  std::string line;
  const LineRead read =
      ReadLine(client, Clock::now() + std::chrono::milliseconds(ControlChannel::kCommandTimeoutMs), &line);
  std::function<void()> then;
  {
    std::unique_lock<std::mutex> held;
    if (channel.exchange) held = std::unique_lock<std::mutex>(*channel.exchange);
    if (read == LineRead::kLine)
      WriteAll(client, channel.execute(line, &then) + "\n", ControlChannel::kAnswerTimeoutMs);
    else if (read == LineRead::kTooLong)
      RefuseLongLine(client);
    close(client);
    // What may end the program comes after the reply is out.
    if (then) then();
  }
  std::lock_guard<std::mutex> lock(channel.mutex);
  --channel.clients;
  channel.freed.notify_one();
}

// Serves each client on a thread of its own, kMaxClients at most.
void Serve(int server, Channel* channel) {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(channel->mutex);
      channel->freed.wait(lock, [&] { return channel->clients < ControlChannel::kMaxClients; });
      ++channel->clients;
    }
    const int client = accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      {
        std::lock_guard<std::mutex> lock(channel->mutex);
        --channel->clients;
      }
      if (errno == EINTR || errno == ECONNABORTED) continue;
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        continue;
      }
      return;
    }
    std::thread([channel, client] { ServeClient(*channel, client); }).detach();
  }
}

void StartServing(int server, Executor execute, std::mutex* exchange) {
  auto* channel = new Channel;  // lives as long as the process, as its threads may
  channel->execute = std::move(execute);
  channel->exchange = exchange;
  std::thread([server, channel] { Serve(server, channel); }).detach();
}

// A listening socket at `path`, private to the user; -1 with the reason.
// It is bound under a hidden name beside `path` and moved there once it
// listens, so a socket found at `path` takes connections from the start,
// and a client refused there knows that its program has ended.
int Listen(const std::string& path, std::string* reason) {
  const size_t slash = path.rfind('/') + 1;
  const std::string hidden = path.substr(0, slash) + "." + path.substr(slash);
  sockaddr_un address;
  if (!MakeAddress(hidden, &address)) {
    *reason = "the control socket path " + path + " is too long";
    return -1;
  }
  const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (server < 0) {
    *reason = std::string("cannot make a socket: ") + std::strerror(errno);
    return -1;
  }
  unlink(hidden.c_str());  // left by an earlier process that ended half-way
  // The socket file takes its mode from the socket, less the umask; the
  // private folder around it keeps others out either way. The move
  // replaces a socket an earlier process left at `path`.
  fchmod(server, 0600);
  if (bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      chmod(hidden.c_str(), 0600) != 0 || listen(server, SOMAXCONN) != 0 ||
      rename(hidden.c_str(), path.c_str()) != 0) {
    *reason = "cannot listen on " + path + ": " + std::strerror(errno);
    unlink(hidden.c_str());
    close(server);
    return -1;
  }
  return server;
}

// The private folder of the sockets; false with the reason.
bool MakeSocketFolder(std::string* reason) {
  return MakePrivateFolder(DeviceFolder(), false, reason) &&
         MakePrivateFolder(Folder(), true, reason);
}

// Connects to `path` within `timeoutMs`; -1 with the status.
int Connect(const std::string& path, int timeoutMs, Status* status) {
  sockaddr_un address;
  if (!MakeAddress(path, &address)) {
    *status = ERROR_INVALID_NAME;
    return -1;
  }
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    *status = ERROR_NOT_ENOUGH_MEMORY;
    return -1;
  }
  // A connection waits while the listener's queue is full: not for ever.
  timeval limit{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) return fd;
  const int error = errno;
  close(fd);
  if (error == ENOENT || error == ECONNREFUSED || error == ENOTDIR) *status = ERROR_FILE_NOT_FOUND;
  else if (error == EACCES || error == EPERM) *status = ERROR_ACCESS_DENIED;
  else *status = ERROR_TIMEOUT;
  return -1;
}

bool Connects(const std::string& path) {
  Status status;
  const int fd = Connect(path, 2000, &status);
  if (fd < 0) return status != Status(ERROR_FILE_NOT_FOUND);  // there, but busy or not ours
  close(fd);
  return true;
}

}  // namespace

void ControlChannel::RemoveSocket() {
  Listener& listener = TheListener();
  std::lock_guard<std::mutex> lock(listener.mutex);
  if (!listener.path.empty()) unlink(listener.path.c_str());
  if (!listener.hostPath.empty()) unlink(listener.hostPath.c_str());
}

std::string ControlChannel::HostSocket() { return Folder() + "/host"; }

Status ControlChannel::StartHost(std::function<std::string(const std::string&)> handler,
                                 std::string* reason) {
  Listener& listener = TheListener();
  std::lock_guard<std::mutex> lock(listener.mutex);
  if (listener.hostStarted) return Status::Ok();
  const std::string path = HostSocket();
  if (!MakeSocketFolder(reason)) return ERROR_OPEN_FAILED;
  if (Connects(path)) return ERROR_ALREADY_EXISTS;
  const int server = Listen(path, reason);
  if (server < 0) return ERROR_OPEN_FAILED;
  listener.hostStarted = true;
  listener.hostPath = path;
  {
    std::lock_guard<std::mutex> handlerLock(listener.hostMutex);
    listener.hostHandler = std::move(handler);
  }
  RemoveSocketsAtExit(listener);
  // Under hostMutex, held until the answer is out: StopHost waits for it,
  // and the process may end once StopHost returns.
  Executor execute = [](const std::string& line, std::function<void()>*) -> std::string {
    Listener& host = TheListener();
    if (!host.hostHandler) return "error the handheld host is ending";
    return host.hostHandler(line);
  };
  StartServing(server, std::move(execute), &listener.hostMutex);
  return Status::Ok();
}

void ControlChannel::StopHost() {
  Listener& listener = TheListener();
  std::string path;
  {
    std::lock_guard<std::mutex> lock(listener.mutex);
    path = listener.hostPath;
  }
  if (!path.empty()) unlink(path.c_str());
  std::lock_guard<std::mutex> handlerLock(listener.hostMutex);
  listener.hostHandler = nullptr;
}

void ControlChannel::Start(Executor execute) {
  Listener& listener = TheListener();
  std::lock_guard<std::mutex> lock(listener.mutex);
  if (listener.started) return;
  listener.started = true;
  const std::string path = Folder() + "/" + std::to_string(getpid());
  std::string reason;
  const int server = MakeSocketFolder(&reason) ? Listen(path, &reason) : -1;
  if (server < 0) {
    std::fprintf(stderr, "handheld: %s; no remote control\n", reason.c_str());
    return;
  }
  listener.path = path;
  RemoveSocketsAtExit(listener);
  if (Trace::On(TraceChannel::kWindow))
    Trace::Write(TraceChannel::kWindow, "remote control on %s", path.c_str());
  // Commands one at a time, as they always came.
  StartServing(server, std::move(execute), new std::mutex);  // until the end
}

std::vector<std::string> ControlChannel::Sockets() {
  std::vector<std::pair<time_t, std::string>> found;
  const std::string folder = Folder();
  if (DIR* dir = opendir(folder.c_str())) {
    while (dirent* entry = readdir(dir)) {
      const std::string path = folder + "/" + entry->d_name;
      struct stat info;
      // Programs with windows listen under their process id; the host's
      // socket is not among them.
      const bool numbered = std::isdigit(static_cast<unsigned char>(entry->d_name[0])) != 0;
      if (numbered && stat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode))
        found.emplace_back(info.st_mtime, path);
    }
    closedir(dir);
  }
  std::sort(found.begin(), found.end(), [](const auto& x, const auto& y) { return x > y; });
  std::vector<std::string> paths;
  for (const auto& [time, path] : found) paths.push_back(path);
  return paths;
}

Status ControlChannel::Exchange(const std::string& socketPath, const std::string& line,
                                std::string* reply, int answerMs) {
  reply->clear();
  if (line.size() > kMaxLine) return ERROR_INVALID_PARAMETER;
  Status status;
  const int fd = Connect(socketPath, kCommandTimeoutMs, &status);
  if (fd < 0) return status;
  if (!WriteAll(fd, line + "\n", kCommandTimeoutMs)) status = ERROR_BROKEN_PIPE;
  else status = ReadAnswer(fd, Clock::now() + std::chrono::milliseconds(answerMs), reply);
  close(fd);
  return status;
}

std::string ControlChannel::Failure(Status status, const std::string& socket) {
  switch (status.code()) {
    case ERROR_SUCCESS:
      return "";
    case ERROR_FILE_NOT_FOUND:
      return "nothing listens on " + socket;
    case ERROR_INVALID_PARAMETER:
      return "the command is longer than " + std::to_string(kMaxLine) + " bytes";
    case ERROR_INVALID_NAME:
      return "the socket path " + socket + " is too long";
    case ERROR_ACCESS_DENIED:
      return "no permission to connect to " + socket;
    case ERROR_TIMEOUT:
      return "no answer on " + socket + " in time";
    case ERROR_MORE_DATA:
      return "the answer on " + socket + " is longer than " + std::to_string(kMaxAnswer) + " bytes";
    default:
      return "the connection on " + socket + " ended without an answer";
  }
}

void ControlChannel::Forget(const std::string& socket) { unlink(socket.c_str()); }

}  // namespace handheld::detail
