#include "platform/TTermSignals.h"

#include <QSocketNotifier>
#include <atomic>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {
// The self-pipe: the handler may only write(2); the notifier reads on the Qt side.
int GPipe[2] = {-1, -1};
std::atomic<bool> GInstalled{false};
const int GSignals[] = {SIGTERM, SIGINT, SIGHUP};

void OnSignal(int sig) {
  const int saved = errno;
  const unsigned char b = static_cast<unsigned char>(sig);
  [[maybe_unused]] ssize_t n = ::write(GPipe[1], &b, 1);
  errno = saved;
}
}  // namespace

TTermSignals::TTermSignals(QObject* parent) : QObject(parent) {}

TTermSignals::~TTermSignals() {
  if (!FInstalled) return;
  for (int sig : GSignals) std::signal(sig, SIG_DFL);
  delete FNotifier;
  ::close(GPipe[0]);
  ::close(GPipe[1]);
  GPipe[0] = GPipe[1] = -1;
  GInstalled = false;
}

bool TTermSignals::Install() {
  if (FInstalled) return true;
  bool expected = false;
  if (!GInstalled.compare_exchange_strong(expected, true)) return false;
  if (::pipe2(GPipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    GInstalled = false;
    return false;
  }
  FNotifier = new QSocketNotifier(GPipe[0], QSocketNotifier::Read, this);
  connect(FNotifier, &QSocketNotifier::activated, this, [this] { ReadPending(); });
  struct sigaction sa {};
  sa.sa_handler = OnSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = SA_RESTART;
  for (int sig : GSignals) sigaction(sig, &sa, nullptr);
  FInstalled = true;
  return true;
}

void TTermSignals::ReadPending() {
  unsigned char buf[16];
  ssize_t n;
  while ((n = ::read(GPipe[0], buf, sizeof buf)) > 0) {
    for (ssize_t i = 0; i < n; ++i) emit EndSessionRequested(buf[i]);
  }
}
