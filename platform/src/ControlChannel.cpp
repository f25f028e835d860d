#include "ControlChannel.h"

#include <dirent.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>

#include "DeviceFolder.h"
#include "ProcessLifetime.h"
#include "Trace.h"
#include "WindowManager.h"
#include "handheld.h"

namespace handheld::detail {
namespace {

constexpr size_t kMaxLine = 4096;
constexpr size_t kMaxAnswer = 64 * 1024;

std::string Folder() { return DeviceFolder() + "/control"; }

bool MakeAddress(const std::string& path, sockaddr_un* address) {
  *address = sockaddr_un{};
  address->sun_family = AF_UNIX;
  if (path.size() >= sizeof address->sun_path) return false;
  std::memcpy(address->sun_path, path.c_str(), path.size() + 1);
  return true;
}

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
};

Listener& TheListener() { return ProcessLifetime<Listener>::Get(); }

void RemoveSocketAtExit() { ControlChannel::RemoveSocket(); }

// Reads one line (without its end) of at most kMaxLine bytes.
bool ReadLine(int fd, std::string* line) {
  line->clear();
  char c;
  while (line->size() < kMaxLine) {
    const ssize_t n = read(fd, &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return !line->empty();
    if (c == '\n') return true;
    line->push_back(c);
  }
  return false;
}

bool WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    // Never SIGPIPE: the far end may have gone.
    const ssize_t n = send(fd, text.data() + done, text.size() - done, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Everything until the far end closes, up to kMaxAnswer bytes, without the
// last line's end.
bool ReadAnswer(int fd, std::string* answer) {
  answer->clear();
  char buffer[1024];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    answer->append(buffer, static_cast<size_t>(n));
    if (answer->size() > kMaxAnswer) return false;
  }
  if (!answer->empty() && answer->back() == '\n') answer->pop_back();
  return !answer->empty();
}

using Executor = std::function<std::string(const std::string&, std::function<void()>*)>;

// `exchange`, when given, is held from a command's execution until its answer
// is out.
void Serve(int server, const Executor& execute, std::mutex* exchange = nullptr) {
  for (;;) {
    const int client = accept4(server, nullptr, nullptr, SOCK_CLOEXEC);
    if (client < 0) {
      if (errno == EINTR || errno == ECONNABORTED) continue;
      return;
    }
    std::string line;
    std::function<void()> then;
    if (ReadLine(client, &line)) {
      std::unique_lock<std::mutex> held;
      if (exchange) held = std::unique_lock<std::mutex>(*exchange);
      WriteAll(client, execute(line, &then) + "\n");
    }
    close(client);
    // What may end the program comes after the reply is out.
    if (then) then();
  }
}

// A listening socket at `path`; -1 after saying why.
int Listen(const std::string& path) {
  sockaddr_un address;
  if (!MakeAddress(path, &address)) {
    std::fprintf(stderr, "handheld: the control socket path %s is too long; no remote control\n",
                 path.c_str());
    return -1;
  }
  const int server = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (server < 0) return -1;
  unlink(path.c_str());  // a socket left by an earlier process
  if (bind(server, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      listen(server, 8) != 0) {
    std::fprintf(stderr, "handheld: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
    close(server);
    return -1;
  }
  return server;
}

bool Connects(const std::string& path) {
  sockaddr_un address;
  if (!MakeAddress(path, &address)) return false;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

bool ParseLong(const std::string& text, long long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  *value = std::strtoll(text.c_str(), &end, 0);
  return errno == 0 && *end == '\0';
}

// The message box or dialog on top, if any.
HWND TopBox() {
  auto& manager = WindowManager::Instance();
  const std::vector<HWND> tops = manager.TopLevels();
  for (auto it = tops.rbegin(); it != tops.rend(); ++it) {
    auto w = manager.Find(*it);
    if (!w) continue;
    auto lock = manager.Guard();
    if (w->visible() && !w->destroyed &&
        (w->windowClass->name == u"#MessageBox" || w->windowClass->name == u"#32770"))
      return *it;
  }
  return nullptr;
}

}  // namespace

void ControlChannel::RemoveSocket() {
  Listener& listener = TheListener();
  std::lock_guard<std::mutex> lock(listener.mutex);
  if (!listener.path.empty()) unlink(listener.path.c_str());
  if (!listener.hostPath.empty()) unlink(listener.hostPath.c_str());
}

std::string ControlChannel::HostSocket() { return Folder() + "/host"; }

Status ControlChannel::StartHost(std::function<std::string(const std::string&)> handler) {
  Listener& listener = TheListener();
  std::lock_guard<std::mutex> lock(listener.mutex);
  if (listener.hostStarted) return Status::Ok();
  const std::string path = HostSocket();
  std::error_code ignored;
  std::filesystem::create_directories(Folder(), ignored);
  if (Connects(path)) return ERROR_ALREADY_EXISTS;
  const int server = Listen(path);
  if (server < 0) return ERROR_OPEN_FAILED;
  listener.hostStarted = true;
  listener.hostPath = path;
  {
    std::lock_guard<std::mutex> handlerLock(listener.hostMutex);
    listener.hostHandler = std::move(handler);
  }
  std::atexit(RemoveSocketAtExit);
  // Under hostMutex, held by Serve until the answer is out: StopHost waits
  // for it, and the process may end once StopHost returns.
  Executor execute = [](const std::string& line, std::function<void()>*) -> std::string {
    Listener& host = TheListener();
    if (!host.hostHandler) return "error the handheld host is ending";
    return host.hostHandler(line);
  };
  std::mutex* exchange = &listener.hostMutex;  // lives as long as the process
  std::thread([server, execute, exchange] { Serve(server, execute, exchange); }).detach();
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

void ControlChannel::Start() {
  Listener& listener = TheListener();
  std::lock_guard<std::mutex> lock(listener.mutex);
  if (listener.started) return;
  listener.started = true;
  const std::string folder = Folder();
  std::error_code ignored;
  std::filesystem::create_directories(folder, ignored);
  const std::string path = folder + "/" + std::to_string(getpid());
  const int server = Listen(path);
  if (server < 0) return;
  listener.path = path;
  std::atexit(RemoveSocketAtExit);
  if (Trace::On(TraceChannel::kWindow))
    Trace::Write(TraceChannel::kWindow, "remote control on %s", path.c_str());
  std::thread([server] { Serve(server, &ControlChannel::Execute); }).detach();  // until the end
}

std::string ControlChannel::Execute(const std::string& line, std::function<void()>* then) {
  std::istringstream in(line);
  std::string command;
  in >> command;
  std::vector<std::string> args;
  for (std::string arg; in >> arg;) args.push_back(arg);
  std::vector<long long> numbers;
  for (const std::string& arg : args) {
    long long value = 0;
    numbers.push_back(ParseLong(arg, &value) ? value : 0);
  }
  auto number = [&](size_t i, long long* value) { return i < args.size() && ParseLong(args[i], value); };
  long long a = 0, b = 0, c = 0;
  if (command == "post") {
    if (args.size() != 4 || !number(1, &a) || !number(2, &b) || !number(3, &c))
      return "error usage: post <class> <message> <wParam> <lParam>";
    HWND hwnd = WindowManager::Instance().FindTopLevel(FromUtf8(args[0]), nullptr);
    if (!hwnd) return "error no window of class " + args[0];
    *then = [hwnd, a, b, c] {
      PostMessageW(hwnd, static_cast<UINT>(a), static_cast<WPARAM>(b), static_cast<LPARAM>(c));
    };
    return "ok";
  }
  if (command == "title") {
    if (args.size() != 1) return "error usage: title <class>";
    HWND hwnd = WindowManager::Instance().FindTopLevel(FromUtf8(args[0]), nullptr);
    if (!hwnd) return "error no window of class " + args[0];
    // Read as for a window of another process: the text itself, no WM_GETTEXT.
    std::string title;
    if (auto window = WindowManager::Instance().Find(hwnd)) {
      auto lock = WindowManager::Instance().Guard();
      title = ToUtf8(window->text);
    }
    std::replace_if(title.begin(), title.end(), [](char c) { return c == '\n' || c == '\r'; }, ' ');
    return "ok " + title;  // the reply is one line
  }
  if (command == "tap") {
    if (args.size() != 2 || !number(0, &a) || !number(1, &b)) return "error usage: tap <x> <y>";
    if (a < 0 || b < 0 || a >= 240 || b >= 320) return "error the point lies off the screen";
    *then = [a, b] { TapScreen(static_cast<int>(a), static_cast<int>(b)); };
    return "ok";
  }
  if (command == "key") {
    if (args.size() != 5 || !number(0, &a) || !number(1, &b))
      return "error usage: key <virtual key> <character> <alt> <shift> <control>";
    const bool alt = numbers[2] != 0, shift = numbers[3] != 0, control = numbers[4] != 0;
    *then = [a, b, alt, shift, control] {
      PressKey(static_cast<UINT>(a), static_cast<WCHAR>(b), alt, shift, control);
    };
    return "ok";
  }
  if (command == "answer") {
    if (args.size() != 1 || !number(0, &a)) return "error usage: answer <id>";
    HWND box = TopBox();
    if (!box) return "error no message box or dialog on the screen";
    *then = [box, a] {
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(a), BN_CLICKED), 0);
    };
    return "ok";
  }
  if (command == "screenshot") {
    if (args.size() != 1) return "error usage: screenshot <path>";
    return WriteScreenshot(args[0]) ? "ok" : "error cannot write " + args[0];
  }
  if (command == "close") {
    *then = [] { RequestClose(); };
    return "ok";
  }
  if (command == "cursor") {
    if (args.empty()) return WindowManager::Instance().WaitCursorShown() ? "ok wait" : "ok arrow";
    if (args.size() != 1 || (args[0] != "wait" && args[0] != "arrow"))
      return "error usage: cursor [wait|arrow]";
    const bool wait = args[0] == "wait";
    *then = [wait] { SetCursor(LoadCursorW(nullptr, wait ? IDC_WAIT : IDC_ARROW)); };
    return "ok";
  }
  return "error unknown command " + command;
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
                                std::string* reply) {
  sockaddr_un address;
  if (!MakeAddress(socketPath, &address)) return ERROR_INVALID_NAME;
  const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return ERROR_NOT_ENOUGH_MEMORY;
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return ERROR_FILE_NOT_FOUND;  // nobody listens there any more
  }
  const bool sent = WriteAll(fd, line + "\n");
  const bool read = sent && ReadAnswer(fd, reply);
  close(fd);
  return read ? Status::Ok() : Status(ERROR_BROKEN_PIPE);
}

void ControlChannel::Forget(const std::string& socket) { unlink(socket.c_str()); }

}  // namespace handheld::detail
