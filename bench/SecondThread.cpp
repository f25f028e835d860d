#include "SecondThread.h"

SecondThread::SecondThread()
    : thread([this] {
        std::unique_lock<std::mutex> hold(mutex);
        stop.wait(hold, [this] { return stopping; });
      }) {}

SecondThread::~SecondThread() {
  {
    std::lock_guard<std::mutex> hold(mutex);
    stopping = true;
  }
  stop.notify_all();
  thread.join();
}
