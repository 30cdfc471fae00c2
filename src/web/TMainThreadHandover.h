#pragma once
// Hands work from any thread to the thread that made the object and waits for it. The
// wait ends unanswered when Cancel() is called on that thread, so a thread that waits
// never blocks the one that stops it; work whose wait was cancelled never runs.
#include <QObject>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class TMainThreadHandover {
public:
  TMainThreadHandover();
  ~TMainThreadHandover();
  TMainThreadHandover(const TMainThreadHandover&) = delete;
  TMainThreadHandover& operator=(const TMainThreadHandover&) = delete;

  // Runs work on the owning thread (directly when called there); false when it did not
  // run because of Cancel().
  bool Run(const std::function<void()>& work);
  // Releases every waiter and refuses new work until Reopen().
  void Cancel();
  void Reopen();

private:
  struct TCall {
    bool Done = false;
    bool Cancelled = false;
  };
  struct TShared {
    std::mutex Mutex;
    std::condition_variable Changed;
    std::vector<std::shared_ptr<TCall>> Pending;
    bool Refusing = false;
  };
  QObject FContext;
  std::shared_ptr<TShared> FShared = std::make_shared<TShared>();
};
