#include "platform/TWindowChannel.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>

#include "platform/TMessageQueue.h"

// What the owner thread and the socket thread both read.
struct TWindowShared {
  std::mutex Lock;
  std::string Caption;
  TFaultHook FaultHook;
  std::atomic<std::uintptr_t> Handle{0};

  void Report(const std::string& where, const std::string& what) {
    TFaultHook hook;
    {
      std::lock_guard<std::mutex> lock(Lock);
      hook = FaultHook;
    }
    ReportFault(hook, where, what);
  }
};

namespace {

using namespace winwire;

// Lets answers computed on the owner thread find the socket thread while it runs.
struct TPumpLink {
  std::mutex Lock;
  TWindowPump* Pump = nullptr;
};

constexpr std::size_t MaxConnections = 64;
constexpr qint64 IdleLimitMs = 30000;
constexpr int SweepEveryMs = 5000;

std::uintptr_t NewHandle() {
  // The process id keeps handles apart between processes, the counter within one.
  static std::atomic<std::uint32_t> counter{0};
  std::uint32_t low = 0;
  while (low == 0) low = ++counter & 0xFFFFF;
  return (static_cast<std::uintptr_t>(::getpid()) << 20) | low;
}

}  // namespace

// Serves the window's socket on its own thread: answers caption requests itself, hands
// sent and posted messages to the owner thread's queue and writes the owner's answers.
class TWindowPump : public QObject {
public:
  TWindowPump(std::shared_ptr<TWindowShared> shared, std::shared_ptr<TMessageQueue> queue)
      : FShared(std::move(shared)), FQueue(std::move(queue)), FLink(std::make_shared<TPumpLink>()) {}

  bool Listen(const QString& path, std::string& error) {
    FServer = new QLocalServer(this);
    QLocalServer::removeServer(path);
    if (!FServer->listen(path)) {
      error = FServer->errorString().toStdString();
      return false;
    }
    connect(FServer, &QLocalServer::newConnection, this, [this] { Accept(); });
    FSweep = new QTimer(this);
    connect(FSweep, &QTimer::timeout, this, [this] { Sweep(); });
    FSweep->start(SweepEveryMs);
    std::lock_guard<std::mutex> lock(FLink->Lock);
    FLink->Pump = this;
    return true;
  }

  void Stop() {
    {
      std::lock_guard<std::mutex> lock(FLink->Lock);
      FLink->Pump = nullptr;
    }
    while (!FConnections.empty()) Drop(FConnections.begin()->first);
    // Deleted here, on their own thread, together with the sockets they own.
    delete FSweep;
    delete FServer;
    FSweep = nullptr;
    FServer = nullptr;
    FQueue.reset();
  }

private:
  struct TConnection {
    QLocalSocket* Socket = nullptr;
    QByteArray Buffer;
    bool Waiting = false;  // a sent message is with the owner; later frames wait for its answer
    QElapsedTimer Idle;
  };

  void Accept() {
    while (QLocalSocket* socket = FServer->nextPendingConnection()) {
      if (FConnections.size() >= MaxConnections && !DropIdlest()) {
        socket->abort();
        socket->deleteLater();
        continue;
      }
      const quint64 id = FNextId++;
      TConnection& conn = FConnections[id];
      conn.Socket = socket;
      conn.Idle.start();
      connect(socket, &QLocalSocket::readyRead, this, [this, id] { Read(id); });
      connect(socket, &QLocalSocket::disconnected, this, [this, id] {
        Read(id);  // a post may arrive together with the close
        Drop(id);
      });
      Read(id);
    }
  }

  void Read(quint64 id) {
    const auto it = FConnections.find(id);
    if (it == FConnections.end()) return;
    TConnection& conn = it->second;
    // A local socket reads through a TCP socket of its own, which may have closed already
    // when the close is reported; reading it then only warns on standard error.
    if (!conn.Socket->isOpen() || conn.Socket->bytesAvailable() <= 0) return;
    const QByteArray data = conn.Socket->readAll();
    if (data.isEmpty()) return;
    conn.Buffer += data;
    FHeld += static_cast<std::size_t>(data.size());
    conn.Idle.restart();
    // More than one whole frame ahead of the answers is no well-behaved client.
    if (static_cast<std::size_t>(conn.Buffer.size()) > 2 * HeaderSize + winmsg::MaxCopyDataSize) {
      DropFor(id, "it sent more than one whole frame ahead of the answers");
      return;
    }
    // Whole frames leave the buffer here, so only what stays unfinished counts against
    // the budget of all connections.
    Parse(id);
    // Over it, the connection holding the most goes: refusing the newcomer instead
    // would let a few large unfinished frames shut every later message out.
    while (FHeld > TWindowChannel::MaxHeldBytes && !FConnections.empty()) {
      auto largest = FConnections.begin();
      for (auto other = FConnections.begin(); other != FConnections.end(); ++other)
        if (other->second.Buffer.size() > largest->second.Buffer.size()) largest = other;
      DropFor(largest->first, "the unfinished frames of all connections would hold more than " +
                                  std::to_string(TWindowChannel::MaxHeldBytes) + " bytes");
    }
  }

  // Frames are taken from the front of the buffer by an offset and the buffer is cut
  // once, so many small frames in one read cost no more than their bytes.
  void Parse(quint64 id) {
    const auto it = FConnections.find(id);
    if (it == FConnections.end()) return;
    TConnection& conn = it->second;
    std::size_t start = 0;
    while (!conn.Waiting) {
      TFrame frame;
      std::size_t used = 0;
      const std::size_t size = static_cast<std::size_t>(conn.Buffer.size()) - start;
      const TDecode result = DecodeFrame(conn.Buffer.constData() + start, size, frame, used);
      if (result == TDecode::NeedMore) break;
      if (result == TDecode::Malformed || frame.Kind == TFrameKind::Reply) {
        Drop(id);
        return;
      }
      start += used;
      if (frame.Kind == TFrameKind::GetText) {
        TFrame reply;
        reply.Kind = TFrameKind::Reply;
        {
          std::lock_guard<std::mutex> lock(FShared->Lock);
          reply.Payload = FShared->Caption;
        }
        Write(conn, reply);
        continue;
      }
      TQueuedMessage message;
      message.Target = FShared->Handle.load();
      message.Sent = frame.Kind == TFrameKind::Send;
      message.Msg = frame.Msg;
      message.WParam = static_cast<std::uintptr_t>(frame.WParam);
      message.LParam = static_cast<std::intptr_t>(frame.LParam);
      message.Sender = static_cast<std::uintptr_t>(frame.Sender);
      message.Payload = std::move(frame.Payload);
      if (message.Sent) {
        conn.Waiting = true;
        message.Reply = [link = FLink, id](bool handled, std::intptr_t result) {
          std::lock_guard<std::mutex> lock(link->Lock);
          if (TWindowPump* pump = link->Pump)
            QMetaObject::invokeMethod(pump, [pump, id, handled, result] { pump->Answer(id, handled, result); },
                                      Qt::QueuedConnection);
        };
      }
      // A post over the queue's limit is lost, as the system loses it.
      if (FQueue) FQueue->Enqueue(std::move(message));
    }
    conn.Buffer.remove(0, static_cast<qsizetype>(start));
    FHeld -= start;
  }

  void Answer(quint64 id, bool handled, std::intptr_t result) {
    const auto it = FConnections.find(id);
    if (it == FConnections.end()) return;
    if (!handled) {
      Drop(id);  // the sender learns that the window is gone
      return;
    }
    TFrame reply;
    reply.Kind = TFrameKind::Reply;
    reply.LParam = result;
    it->second.Waiting = false;
    it->second.Idle.restart();
    Write(it->second, reply);
    Parse(id);
  }

  static void Write(TConnection& conn, const TFrame& frame) {
    const std::string bytes = EncodeFrame(frame);
    conn.Socket->write(bytes.data(), static_cast<qint64>(bytes.size()));
  }

  void DropFor(quint64 id, const std::string& reason) {
    FShared->Report("window socket", "A connection to the window was dropped: " + reason + ".");
    Drop(id);
  }

  void Drop(quint64 id) {
    const auto it = FConnections.find(id);
    if (it == FConnections.end()) return;
    QLocalSocket* socket = it->second.Socket;
    FHeld -= static_cast<std::size_t>(it->second.Buffer.size());
    FConnections.erase(it);
    disconnect(socket, nullptr, this, nullptr);
    socket->abort();
    socket->deleteLater();
  }

  // Makes room for a new connection by closing the one silent the longest, unless every
  // connection waits for its answer.
  bool DropIdlest() {
    auto idlest = FConnections.end();
    for (auto it = FConnections.begin(); it != FConnections.end(); ++it) {
      if (it->second.Waiting) continue;
      if (idlest == FConnections.end() || it->second.Idle.elapsed() > idlest->second.Idle.elapsed()) idlest = it;
    }
    if (idlest == FConnections.end()) return false;
    Drop(idlest->first);
    return true;
  }

  void Sweep() {
    std::vector<quint64> stale;
    for (const auto& [id, conn] : FConnections)
      if (!conn.Waiting && conn.Idle.elapsed() > IdleLimitMs) stale.push_back(id);
    for (quint64 id : stale) Drop(id);
  }

  std::shared_ptr<TWindowShared> FShared;
  std::shared_ptr<TMessageQueue> FQueue;
  std::shared_ptr<TPumpLink> FLink;
  QLocalServer* FServer = nullptr;
  QTimer* FSweep = nullptr;
  std::map<quint64, TConnection> FConnections;
  std::size_t FHeld = 0;  // bytes in the buffers of all connections
  quint64 FNextId = 1;
};

TWindowChannel::TWindowChannel(TMessageHandler onMessage, TCopyDataHandler onCopyData)
    : FOnMessage(std::move(onMessage)), FOnCopyData(std::move(onCopyData)),
      FShared(std::make_shared<TWindowShared>()) {}

TWindowChannel::~TWindowChannel() { Unregister(); }

void TWindowChannel::SetFaultHook(TFaultHook hook) {
  std::lock_guard<std::mutex> lock(FShared->Lock);
  FShared->FaultHook = std::move(hook);
}

std::string TWindowChannel::Caption() const {
  std::lock_guard<std::mutex> lock(FShared->Lock);
  return FShared->Caption;
}

void TWindowChannel::SetCaption(const std::string& caption) {
  std::lock_guard<std::mutex> lock(FShared->Lock);
  FShared->Caption = caption;
}

bool TWindowChannel::Register(const std::string& className, const std::string& caption) {
  FError.clear();
  if (IsRegistered()) {
    FError = "The window is already registered as " + FClassName + ".";
    return false;
  }
  if (className.empty()) {
    FError = "A window needs a class name.";
    return false;
  }
  const std::string folder = WindowFolder();
  if (folder.empty()) {
    FError = "The window folder cannot be created or is not private to this user.";
    return false;
  }
  SetCaption(caption);
  FQueue = TMessageQueue::ForCurrentThread();
  // Listen under a private name and publish the socket only once it accepts connections,
  // so that a client never mistakes a window that is still starting for a dead one.
  const std::string temp = folder + "/.new-" + std::to_string(::getpid()) + "-" + std::to_string(NewHandle());
  if (!StartPump(temp)) {
    FQueue.reset();
    return false;
  }
  // File times are kept to the clock tick only; the registration moment to the
  // nanosecond lets the newest of several windows of a class be found first.
  struct timespec now[2];
  ::clock_gettime(CLOCK_REALTIME, &now[0]);
  now[1] = now[0];
  ::utimensat(AT_FDCWD, temp.c_str(), now, AT_SYMLINK_NOFOLLOW);
  std::uintptr_t handle = 0;
  std::string path;
  for (int attempt = 0; attempt < 100 && handle == 0; ++attempt) {
    const std::uintptr_t candidate = NewHandle();
    path = folder + "/" + SocketName(className, candidate);
    if (path.size() >= sizeof(sockaddr_un::sun_path)) {
      FError = "The window class name is too long: " + className;
      break;
    }
    FShared->Handle = candidate;
    if (::link(temp.c_str(), path.c_str()) == 0) {
      handle = candidate;
      continue;
    }
    int err = errno;
    struct stat st {};
    if (err != EEXIST && ::lstat(path.c_str(), &st) != 0) {
      // A file system without hard links.
      if (::rename(temp.c_str(), path.c_str()) == 0) {
        handle = candidate;
        continue;
      }
      err = errno;
    }
    if (err != EEXIST) {
      FError = "Cannot publish the window socket " + path + ": " + std::strerror(err);
      break;
    }
  }
  ::unlink(temp.c_str());
  if (handle == 0) {
    if (FError.empty()) FError = "No free window handle.";
    FShared->Handle = 0;
    StopPump();
    FQueue.reset();
    return false;
  }
  FHandle = handle;
  FClassName = className;
  FPath = path;
  FQueue->AddWindow(this);
  return true;
}

void TWindowChannel::Unregister() {
  if (!IsRegistered()) return;
  FQueue->RemoveWindow(this);
  ::unlink(FPath.c_str());
  StopPump();
  FShared->Handle = 0;
  FHandle = 0;
  FPath.clear();
  FClassName.clear();
  FQueue.reset();
}

bool TWindowChannel::StartPump(const std::string& tempPath) {
  FThread = std::make_unique<QThread>();
  FThread->setObjectName(QStringLiteral("window socket"));
  FPump = new TWindowPump(FShared, FQueue);
  FPump->moveToThread(FThread.get());
  FThread->start();
  bool listening = false;
  std::string error;
  QMetaObject::invokeMethod(
      FPump, [&] { listening = FPump->Listen(QString::fromLocal8Bit(tempPath.c_str()), error); },
      Qt::BlockingQueuedConnection);
  if (!listening) {
    FError = "Cannot listen on " + tempPath + ": " + error;
    StopPump();
  }
  return listening;
}

void TWindowChannel::StopPump() {
  if (!FThread) return;
  QMetaObject::invokeMethod(FPump, [this] { FPump->Stop(); }, Qt::BlockingQueuedConnection);
  FThread->quit();
  FThread->wait();
  delete FPump;
  FPump = nullptr;
  FThread.reset();
}

std::intptr_t TWindowChannel::Deliver(std::uint32_t msg, std::uintptr_t wParam, std::intptr_t lParam,
                                      std::uintptr_t sender, const std::string& payload) {
  // Copies: a handler may destroy this window, and the running handler must outlive that.
  const std::shared_ptr<TWindowShared> shared = FShared;
  try {
    if (msg == winmsg::WM_COPYDATA) {
      const TCopyDataHandler handler = FOnCopyData;
      return handler ? handler(sender, static_cast<std::uintptr_t>(lParam), payload) : 0;
    }
    const TMessageHandler handler = FOnMessage;
    return handler ? handler(msg, wParam, lParam) : 0;
  } catch (...) {
    shared->Report("window message handler", CurrentExceptionText());
    return 0;
  }
}
