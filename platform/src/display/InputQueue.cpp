#include "InputQueue.h"

#include <deque>
#include <mutex>
#include <utility>

#include "ProcessLifetime.h"

namespace handheld::detail {
namespace {

struct Queue {
  std::mutex mutex;
  std::deque<InputEvent> events;
  std::function<void()> listener;
};

Queue& TheQueue() { return ProcessLifetime<Queue>::Get(); }  // pushed to until exit

}  // namespace

void InputQueue::Push(const InputEvent& event) {
  Queue& queue = TheQueue();
  std::function<void()> listener;
  {
    std::lock_guard<std::mutex> lock(queue.mutex);
    if (queue.events.size() >= kCapacity) queue.events.pop_front();
    queue.events.push_back(event);
    listener = queue.listener;
  }
  if (listener) listener();
}

bool InputQueue::Take(InputEvent* event) {
  Queue& queue = TheQueue();
  std::lock_guard<std::mutex> lock(queue.mutex);
  if (queue.events.empty()) return false;
  *event = queue.events.front();
  queue.events.pop_front();
  return true;
}

void InputQueue::SetListener(std::function<void()> listener) {
  Queue& queue = TheQueue();
  std::lock_guard<std::mutex> lock(queue.mutex);
  queue.listener = std::move(listener);
}

}  // namespace handheld::detail
