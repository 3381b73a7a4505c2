// Base of every class that owns an operating-system thread. Not
// reference-counted; the owner holds it uniquely.
//
// Start and Stop are called by the owning thread, never from inside the
// thread itself. A subclass whose Run loops until told to stop overrides Stop
// to raise its own stop indication and then calls Thread::Stop. A subclass
// must call Stop in its own destructor: by the time ~Thread runs the derived
// part (and its Run) is gone, so the base destructor's Stop is only a last
// safety net for classes whose Run does not touch derived members.
#pragma once

#include <mutex>
#include <thread>

namespace chat_base {

class Thread {
 public:
  Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Performs the base Stop.
  virtual ~Thread();

  // Waits, without a time limit, for the thread to end and forgets it; does
  // nothing when no thread is held. The thread stays held until the wait is
  // over, so a Start racing with Stop returns false, and a second Stop waits
  // too. A call from inside the thread itself returns at once without
  // waiting (it would wait for itself forever).
  virtual void Stop();

  // The body of the thread.
  virtual void Run() = 0;

  // Starts a thread that calls Run. False when a thread is already held (a
  // thread was started and Stop has not run since, even if Run has returned)
  // or when the system could not create one.
  bool Start();

  // True while a thread is held (started and not yet stopped).
  bool IsStarted() const;

 private:
  void StopThread();
  bool IsCurrent() const;  // true when called on the held thread

  std::mutex stop_mutex_;     // held for a whole Stop, so concurrent Stops wait in turn
  mutable std::mutex mutex_;  // guards thread_ and held_
  std::thread thread_;        // moved out by the Stop that waits for it
  bool held_ = false;         // started and not yet stopped
  std::thread::id id_;        // of the held thread, kept while a Stop waits
};

}  // namespace chat_base
