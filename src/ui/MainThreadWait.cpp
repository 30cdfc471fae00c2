#include "ui/MainThreadWait.h"

#include <QEventLoop>
#include <QThread>

#include <exception>
#include <memory>

void RunOffMainThread(const std::function<void()>& work) {
  std::exception_ptr failure;
  std::unique_ptr<QThread> thread(QThread::create([&work, &failure] {
    try {
      work();
    } catch (...) {
      failure = std::current_exception();
    }
  }));
  QEventLoop loop;
  // Queued: the quit waits in the loop's queue even when the work ends before exec.
  QObject::connect(thread.get(), &QThread::finished, &loop, &QEventLoop::quit, Qt::QueuedConnection);
  thread->start();
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  thread->wait();
  if (failure) std::rethrow_exception(failure);
}
