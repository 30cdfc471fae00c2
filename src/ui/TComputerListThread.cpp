#include "ui/TComputerListThread.h"

#include <algorithm>
#include <exception>
#include <stdexcept>
#include <system_error>

#include "platform/NetComputers.h"

TComputerListThread::TLister TComputerListThread::ListNetworkComputersLister() {
  return [](std::vector<std::string>& names, const std::atomic<bool>& stop) {
    int error = 0;
    if (!ListNetworkComputers(names, stop, &error) && !stop)
      throw std::runtime_error("The computers of the network could not be listed: " +
                               std::generic_category().message(error));
  };
}

TComputerListThread::TComputerListThread(TLister lister, QObject* parent) : QThread(parent), FLister(std::move(lister)) {}

TComputerListThread::~TComputerListThread() { Stop(); }

void TComputerListThread::Stop() {
  FStop = true;
  wait();
}

QStringList TComputerListThread::CleanNames(const std::vector<std::string>& names) {
  QStringList cleaned;
  for (const std::string& name : names) {
    QString text = QString::fromLatin1(name).trimmed();
    while (text.startsWith(QLatin1Char('\\'))) text.remove(0, 1);
    if (!text.isEmpty() && !cleaned.contains(text, Qt::CaseInsensitive)) cleaned.append(text);
  }
  std::sort(cleaned.begin(), cleaned.end(),
            [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
  return cleaned;
}

void TComputerListThread::run() {
  // Whoever starts it, the search never competes with the tests or the window.
  setPriority(QThread::LowestPriority);
  std::vector<std::string> names;
  QString failure;
  try {
    if (FLister) FLister(names, FStop);
  } catch (const std::exception& e) {
    failure = QString::fromLatin1(e.what());
  } catch (...) {
    failure = QStringLiteral("The computers of the network could not be listed");
  }
  if (FStop) return;
  const QStringList found = CleanNames(names);
  // Queued to this object, which lives on the main thread: the stop flag is looked at
  // there again, so nothing arrives after Stop() even when it was already on its way.
  QMetaObject::invokeMethod(
      this,
      [this, found, failure] {
        if (FStop) return;
        if (!failure.isEmpty()) emit ListingFailed(failure);
        else emit NamesFound(found);
      },
      Qt::QueuedConnection);
}
