// The screen's controls for the host, tools and tests.
#include "ControlChannel.h"
#include "InputQueue.h"
#include "Screen.h"
#include "WindowManager.h"
#include "handheld.h"

namespace handheld {

bool WriteScreenshot(const std::string& path) { return detail::Screen::Instance().WritePng(path); }

bool WaitScreenShown(DWORD timeoutMs) { return detail::Screen::Instance().WaitShown(timeoutMs); }

namespace {

void Push(detail::InputEvent event) {
  detail::WindowManager::Instance();  // listening before the first event
  detail::InputQueue::Push(event);
}

}  // namespace

void TapScreen(int x, int y) {
  using Kind = detail::InputEvent::Kind;
  Push(detail::InputEvent{Kind::kTapDown, x, y});
  Push(detail::InputEvent{Kind::kTapUp, x, y});
}

void PressKey(UINT virtualKey, WCHAR character, bool alt, bool shift, bool control) {
  using Kind = detail::InputEvent::Kind;
  Push(detail::InputEvent{Kind::kKeyDown, 0, 0, virtualKey, character, alt, shift, control});
  Push(detail::InputEvent{Kind::kKeyUp, 0, 0, virtualKey, 0, alt, shift, control});
}

void RequestClose() {
  Push(detail::InputEvent{detail::InputEvent::Kind::kClose});
}

}  // namespace handheld

namespace handheld {

std::string RemoteControl(const std::string& command, int pid) {
  std::string last = "error no program with windows runs on the handheld in " + DeviceFolder();
  for (const std::string& socket : detail::ControlChannel::Sockets()) {
    const std::string name = socket.substr(socket.rfind('/') + 1);
    if (pid != 0 && name != std::to_string(pid)) continue;
    std::string reply;
    if (detail::Status status = detail::ControlChannel::Exchange(
            socket, command, &reply, detail::ControlChannel::kProgramAnswerMs);
        !status.ok()) {
      if (status.code() == static_cast<DWORD>(ERROR_FILE_NOT_FOUND))
        detail::ControlChannel::Forget(socket);  // its program has ended
      else
        last = "error " + detail::ControlChannel::Failure(status, socket);
      continue;
    }
    if (reply == "ok" || reply.rfind("ok ", 0) == 0) return reply;
    last = reply;
  }
  return last;
}

}  // namespace handheld

namespace handheld {

bool ServeHostCommands(HostCommandHandler handler, std::string* reason) {
  const detail::Status status = detail::ControlChannel::StartHost(std::move(handler), reason);
  if (status.ok()) return true;
  if (status.code() == static_cast<DWORD>(ERROR_ALREADY_EXISTS))
    *reason = "a handheld host runs on " + DeviceFolder() + " already";
  return false;
}

void StopServingHostCommands() { detail::ControlChannel::StopHost(); }

HostExchange SendHostCommand(const std::string& line, std::string* answer) {
  using detail::ControlChannel;
  const std::string socket = ControlChannel::HostSocket();
  const detail::Status status =
      ControlChannel::Exchange(socket, line, answer, ControlChannel::kHostAnswerMs);
  if (status.ok()) return HostExchange::kAnswered;
  if (status.code() == static_cast<DWORD>(ERROR_FILE_NOT_FOUND)) return HostExchange::kNoHost;
  *answer = ControlChannel::Failure(status, socket);
  return HostExchange::kFailed;
}

}  // namespace handheld
