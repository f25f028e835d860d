// A thread that only waits, so that the process measured has two threads
// as the viewer has (its UI and reader threads). In a process of one thread
// glibc's mutexes leave out their atomic instructions, which would make
// the plain-mutex figures look cheaper than they are in the viewer.
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

class SecondThread {
 public:
  SecondThread();
  ~SecondThread();
  SecondThread(const SecondThread&) = delete;
  SecondThread& operator=(const SecondThread&) = delete;

 private:
  std::mutex mutex;
  std::condition_variable stop;
  bool stopping = false;
  std::thread thread;
};
