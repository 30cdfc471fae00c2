#include "support/TAiosmtpdServer.h"

#include <QProcess>
#include <algorithm>
#include <filesystem>
#include <sstream>

#include "support/TestSupport.h"

namespace testsupport {

namespace {

// Writes the envelope first and renames the message into place last, so a reader
// never sees half a delivery.
const char* const HandlerScript = R"PY(
import asyncio, os, ssl, sys, warnings
warnings.simplefilter("ignore")
from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

out, user, password = sys.argv[1], sys.argv[2].encode('latin-1'), sys.argv[3].encode('latin-1')
mode, port = sys.argv[4], int(sys.argv[5])
context = None
if mode != "plain":
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(sys.argv[6], sys.argv[7])
count = 0

def encrypted(server):
    return server.transport is not None and server.transport.get_extra_info("ssl_object") is not None

class Capture:
    async def handle_DATA(self, server, session, envelope):
        global count
        count += 1
        base = os.path.join(out, "mail%04d" % count)
        login = ""
        if session.authenticated and isinstance(session.auth_data, LoginPassword):
            login = session.auth_data.login.decode('latin-1')
        with open(base + ".env", "w", encoding="latin-1") as f:
            f.write("FROM " + envelope.mail_from + "\n")
            for r in envelope.rcpt_tos:
                f.write("TO " + r + "\n")
            f.write("AUTH " + login + "\n")
            f.write("TLS " + ("yes" if encrypted(server) else "no") + "\n")
        with open(base + ".tmp", "wb") as f:
            f.write(envelope.original_content)
        os.rename(base + ".tmp", base + ".eml")
        return "250 OK"

def authenticate(server, session, envelope, mechanism, data):
    ok = isinstance(data, LoginPassword) and data.login == user and data.password == password
    login = data.login.decode('latin-1') if isinstance(data, LoginPassword) else "?"
    with open(os.path.join(out, "auth.log"), "a", encoding="latin-1") as f:
        f.write("%s %s %s%s\n" % (mechanism, login, "ok" if ok else "bad", " tls" if encrypted(server) else ""))
    return AuthResult(success=ok, handled=False, auth_data=data)

async def main():
    loop = asyncio.get_running_loop()
    starttls = mode == "starttls"
    srv = await loop.create_server(
        lambda: SMTP(Capture(), hostname="mail.test", authenticator=authenticate, auth_require_tls=starttls,
                     tls_context=context if starttls else None, require_starttls=starttls),
        "127.0.0.1", port, ssl=context if mode == "implicit" else None)
    print(srv.sockets[0].getsockname()[1], flush=True)
    await asyncio.Event().wait()

asyncio.run(main())
)PY";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

}  // namespace

TAiosmtpdServer::TAiosmtpdServer(std::string user, std::string password)
    : FUser(std::move(user)), FPassword(std::move(password)), FDir(std::make_unique<TTempDir>()) {}

TAiosmtpdServer::~TAiosmtpdServer() { Stop(); }

bool TAiosmtpdServer::Available() {
  QProcess probe;
  probe.start(TPythonServer::Python, {"-c", "import aiosmtpd.smtp"});
  return probe.waitForFinished(20000) && probe.exitStatus() == QProcess::NormalExit && probe.exitCode() == 0;
}

void TAiosmtpdServer::UseTls(TTls kind, std::string certFile, std::string keyFile) {
  FTls = kind;
  FCertFile = std::move(certFile);
  FKeyFile = std::move(keyFile);
}

bool TAiosmtpdServer::Start(std::uint16_t port) {
  std::string script = FDir->File("capture_server.py");
  WriteFileBytes(script, HandlerScript);
  std::filesystem::create_directory(FDir->File("out"));
  const char* mode = FTls == TTls::StartTls ? "starttls" : FTls == TTls::Implicit ? "implicit" : "plain";
  return FServer.Start(script, {QString::fromStdString(FDir->File("out")), QString::fromLatin1(FUser.c_str()),
                                QString::fromLatin1(FPassword.c_str()), mode, QString::number(port),
                                QString::fromStdString(FCertFile), QString::fromStdString(FKeyFile)});
}

void TAiosmtpdServer::Stop() { FServer.Stop(); }

std::vector<TSmtpDelivery> TAiosmtpdServer::Deliveries() const {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(FDir->File("out")))
    if (entry.path().extension() == ".eml") names.push_back(entry.path().stem().string());
  std::sort(names.begin(), names.end());
  std::vector<TSmtpDelivery> result;
  for (const std::string& name : names) {
    TSmtpDelivery delivery;
    for (const std::string& line : Lines(ReadFileBytes(FDir->File("out/" + name + ".env")))) {
      if (line.rfind("FROM ", 0) == 0) delivery.MailFrom = line.substr(5);
      else if (line.rfind("TO ", 0) == 0) delivery.Rcpts.push_back(line.substr(3));
      else if (line.rfind("AUTH ", 0) == 0) delivery.AuthLogin = line.substr(5);
      else if (line == "TLS yes") delivery.Tls = true;
    }
    delivery.Raw = ReadFileBytes(FDir->File("out/" + name + ".eml"));
    result.push_back(std::move(delivery));
  }
  return result;
}

std::vector<std::string> TAiosmtpdServer::AuthLog() const {
  std::string path = FDir->File("out/auth.log");
  if (!std::filesystem::exists(path)) return {};
  return Lines(ReadFileBytes(path));
}

}  // namespace testsupport
