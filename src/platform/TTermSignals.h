#pragma once
// Turns the end-of-session signals (SIGTERM, SIGINT, SIGHUP) into a Qt signal on the
// thread that owns this object, so the orderly shutdown runs from the event loop
// instead of inside a signal handler.
#include <QObject>

class QSocketNotifier;

class TTermSignals : public QObject {
  Q_OBJECT
public:
  explicit TTermSignals(QObject* parent = nullptr);
  ~TTermSignals() override;
  TTermSignals(const TTermSignals&) = delete;
  TTermSignals& operator=(const TTermSignals&) = delete;

  // Installs the handlers; only one instance may be installed per process.
  bool Install();

signals:
  void EndSessionRequested(int signalNumber);

private:
  void ReadPending();
  QSocketNotifier* FNotifier = nullptr;
  bool FInstalled = false;
};
