#pragma once
// The computer names of the network for the address drop-downs of the configuration
// dialog: looked for off the main thread at the lowest priority (browsing the network
// may take many seconds), and handed over on the main thread.
#include <QStringList>
#include <QThread>
#include <atomic>
#include <functional>
#include <string>
#include <vector>

class TComputerListThread : public QThread {
  Q_OBJECT
public:
  // Fills names; returns early when stop turns true. A failure is thrown (its what()
  // goes to ListingFailed).
  using TLister = std::function<void(std::vector<std::string>& names, const std::atomic<bool>& stop)>;
  // The network browse (ListNetworkComputers).
  static TLister ListNetworkComputersLister();

  explicit TComputerListThread(TLister lister = ListNetworkComputersLister(), QObject* parent = nullptr);
  // start() begins the search, which lowers its own priority to the lowest. The
  // destructor stops and waits.
  ~TComputerListThread() override;
  TComputerListThread(const TComputerListThread&) = delete;
  TComputerListThread& operator=(const TComputerListThread&) = delete;

  // Sets the stop flag and waits for the end; NamesFound is not emitted after it.
  void Stop();
  // The names the lister found, as NamesFound handed them over: sorted, "\\" removed.
  static QStringList CleanNames(const std::vector<std::string>& names);

signals:
  // Main thread; neither after Stop().
  void NamesFound(const QStringList& names);
  // The lister failed; a network without SMB browsing fails this way too, so the
  // receiver decides how loudly to tell it.
  void ListingFailed(const QString& error);

protected:
  void run() override;

private:
  TLister FLister;
  std::atomic<bool> FStop{false};
};
