#include "platform/TSystemdServiceControl.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusVariant>

#include <algorithm>
#include <cctype>

#include "platform/SysErrors.h"

namespace {

const QString Systemd = QStringLiteral("org.freedesktop.systemd1");
const QString ManagerPath = QStringLiteral("/org/freedesktop/systemd1");
const QString ManagerInterface = QStringLiteral("org.freedesktop.systemd1.Manager");
const QString UnitInterface = QStringLiteral("org.freedesktop.systemd1.Unit");

QDBusMessage Call(const QString& path, const QString& interface, const QString& method, const QVariantList& args) {
  QDBusMessage message = QDBusMessage::createMethodCall(Systemd, path, interface, method);
  message.setArguments(args);
  return QDBusConnection::systemBus().call(message, QDBus::Block, TSystemdServiceControl::CallTimeoutMs);
}

int ErrorOf(const QDBusMessage& reply) {
  if (reply.type() == QDBusMessage::ReplyMessage) return 0;
  return TSystemdServiceControl::ErrorOfDBusError(reply.errorName().toStdString());
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

}  // namespace

int TSystemdServiceControl::StateOfActiveState(const std::string& activeState) {
  if (activeState == "active" || activeState == "reloading" || activeState == "refreshing") return svcstate::Running;
  if (activeState == "activating") return svcstate::StartPending;
  if (activeState == "deactivating") return svcstate::StopPending;
  if (activeState == "inactive" || activeState == "failed" || activeState == "maintenance") return svcstate::Stopped;
  return 0;
}

int TSystemdServiceControl::ErrorOfDBusError(const std::string& errorName) {
  if (errorName == "org.freedesktop.systemd1.NoSuchUnit" || errorName == "org.freedesktop.systemd1.LoadFailed")
    return svcerr::ERROR_SERVICE_DOES_NOT_EXIST;
  if (errorName == "org.freedesktop.systemd1.UnitMasked") return svcerr::ERROR_SERVICE_DISABLED;
  if (errorName == "org.freedesktop.DBus.Error.AccessDenied" ||
      errorName == "org.freedesktop.DBus.Error.InteractiveAuthorizationRequired")
    return syserr::ERROR_ACCESS_DENIED;
  if (errorName == "org.freedesktop.DBus.Error.NoReply" || errorName == "org.freedesktop.DBus.Error.Timeout")
    return svcerr::ERROR_TIMEOUT;
  if (errorName == "org.freedesktop.DBus.Error.ServiceUnknown" || errorName == "org.freedesktop.DBus.Error.Disconnected" ||
      errorName == "org.freedesktop.DBus.Error.NoServer")
    return svcerr::RPC_S_SERVER_UNAVAILABLE;
  if (errorName == "org.freedesktop.DBus.Error.InvalidArgs") return svcerr::ERROR_INVALID_NAME;
  return syserr::ERROR_GEN_FAILURE;
}

std::string TSystemdServiceControl::UnitName(const std::string& service) {
  return service.find('.') == std::string::npos ? service + ".service" : service;
}

int TSystemdServiceControl::Connect(const std::string&) {
  return QDBusConnection::systemBus().isConnected() ? 0 : svcerr::RPC_S_SERVER_UNAVAILABLE;
}

int TSystemdServiceControl::UnitPath(const std::string& service, std::string& unit, std::string& path) {
  if (service.empty() || service.size() > 256 || service.find_first_of("/\\\r\n") != std::string::npos)
    return svcerr::ERROR_INVALID_NAME;
  int code = svcerr::ERROR_SERVICE_DOES_NOT_EXIST;
  for (const std::string& name : {UnitName(service), Lower(UnitName(service))}) {
    // LoadUnit also finds a unit that is installed but not loaded now.
    const QDBusMessage reply = Call(ManagerPath, ManagerInterface, "LoadUnit", {QString::fromStdString(name)});
    code = ErrorOf(reply);
    if (code != 0) {
      if (code == svcerr::ERROR_SERVICE_DOES_NOT_EXIST) continue;
      return code;
    }
    path = reply.arguments().value(0).value<QDBusObjectPath>().path().toStdString();
    std::string load;
    code = UnitProperty(path, "LoadState", load);
    if (code != 0) return code;
    if (load == "not-found") {
      code = svcerr::ERROR_SERVICE_DOES_NOT_EXIST;
      continue;
    }
    unit = name;
    return 0;
  }
  return code;
}

int TSystemdServiceControl::UnitProperty(const std::string& path, const char* name, std::string& value) {
  const QDBusMessage reply = Call(QString::fromStdString(path), "org.freedesktop.DBus.Properties", "Get",
                                  {UnitInterface, QString::fromLatin1(name)});
  if (const int code = ErrorOf(reply)) return code;
  value = reply.arguments().value(0).value<QDBusVariant>().variant().toString().toStdString();
  return 0;
}

int TSystemdServiceControl::UnitListProperty(const std::string& path, const char* name,
                                             std::vector<std::string>& values) {
  const QDBusMessage reply = Call(QString::fromStdString(path), "org.freedesktop.DBus.Properties", "Get",
                                  {UnitInterface, QString::fromLatin1(name)});
  if (const int code = ErrorOf(reply)) return code;
  for (const QString& v : reply.arguments().value(0).value<QDBusVariant>().variant().toStringList())
    values.push_back(v.toStdString());
  return 0;
}

int TSystemdServiceControl::QueryState(const std::string&, const std::string& service, int& state) {
  std::string unit, path, active;
  int code = UnitPath(service, unit, path);
  if (code == 0) code = UnitProperty(path, "ActiveState", active);
  if (code != 0) return code;
  state = StateOfActiveState(active);
  return state != 0 ? 0 : syserr::ERROR_GEN_FAILURE;
}

int TSystemdServiceControl::SendControl(const std::string& machine, const std::string& service,
                                        TServiceControlCode code, int& state) {
  if (code != TServiceControlCode::Stop) return svcerr::ERROR_INVALID_SERVICE_CONTROL;
  std::string unit, path;
  int error = UnitPath(service, unit, path);
  if (error == 0) error = ErrorOf(Call(ManagerPath, ManagerInterface, "StopUnit", {QString::fromStdString(unit), "replace"}));
  if (error != 0) return error;
  return QueryState(machine, service, state);
}

int TSystemdServiceControl::Launch(const std::string&, const std::string& service, const std::vector<std::string>&) {
  std::string unit, path;
  int error = UnitPath(service, unit, path);
  if (error == 0) error = ErrorOf(Call(ManagerPath, ManagerInterface, "StartUnit", {QString::fromStdString(unit), "replace"}));
  return error;
}

int TSystemdServiceControl::Enumerate(const std::string&, std::vector<TServiceEntry>& services) {
  const QDBusMessage reply = Call(ManagerPath, ManagerInterface, "ListUnits", {});
  if (const int code = ErrorOf(reply)) return code;
  const QDBusArgument units = reply.arguments().value(0).value<QDBusArgument>();
  units.beginArray();
  while (!units.atEnd()) {
    QString name, description, load, active, sub, following, jobType;
    QDBusObjectPath path, jobPath;
    quint32 jobId = 0;
    units.beginStructure();
    units >> name >> description >> load >> active >> sub >> following >> path >> jobId >> jobType >> jobPath;
    units.endStructure();
    if (!name.endsWith(QStringLiteral(".service"))) continue;
    TServiceEntry entry;
    entry.Name = name.chopped(8).toStdString();
    entry.DisplayName = description.toStdString();
    entry.State = StateOfActiveState(active.toStdString());
    services.push_back(std::move(entry));
  }
  units.endArray();
  return 0;
}

int TSystemdServiceControl::EnumerateDependents(const std::string& machine, const std::string& service,
                                                std::vector<TServiceEntry>& services) {
  std::string unit, path;
  int code = UnitPath(service, unit, path);
  std::vector<std::string> names;
  if (code == 0) code = UnitListProperty(path, "RequiredBy", names);
  if (code == 0) code = UnitListProperty(path, "WantedBy", names);
  if (code != 0) return code;
  for (const std::string& name : names) {
    if (name.size() < 8 || name.compare(name.size() - 8, 8, ".service") != 0) continue;  // targets, sockets
    TServiceEntry entry;
    entry.Name = entry.DisplayName = name.substr(0, name.size() - 8);
    if (QueryState(machine, entry.Name, entry.State) == 0) services.push_back(std::move(entry));
  }
  return 0;
}
