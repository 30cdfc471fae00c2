#include "ui/TComputerListThread.h"

#include "platform/NetComputers.h"

TComputerListThread::TLister TComputerListThread::ListNetworkComputersLister(std::function<void(const std::string&)>) {
  return [](std::vector<std::string>& names, const std::atomic<bool>& stop) { ListNetworkComputers(names, stop); };
}

TComputerListThread::TComputerListThread(TLister lister, QObject* parent) : QThread(parent), FLister(std::move(lister)) {}

TComputerListThread::~TComputerListThread() { Stop(); }

void TComputerListThread::Begin() { start(QThread::LowestPriority); }

void TComputerListThread::Stop() {
  FStop = true;
  wait();
}

QStringList TComputerListThread::CleanNames(const std::vector<std::string>&) { return {}; }

void TComputerListThread::run() {}
