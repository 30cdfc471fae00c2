#include "support/TTestCertificates.h"

#include <QProcess>
#include <QStringList>
#include <algorithm>
#include <arpa/inet.h>
#include <ctime>
#include <filesystem>
#include <vector>

#include "support/TestSupport.h"

namespace testsupport {

namespace {

const char* const OpenSsl = "/usr/bin/openssl";

// The "ca" command is the only one of the tool's that takes explicit validity dates,
// which the expired and soon-expiring certificates need.
const char* const CaConfig = R"CNF([ca]
default_ca = test_ca
[test_ca]
database = index.txt
new_certs_dir = issued
serial = serial
default_md = sha256
policy = any_name
unique_subject = no
email_in_dn = no
[any_name]
commonName = supplied
)CNF";

std::string GeneralizedTime(std::time_t t) {
  std::tm tm{};
  gmtime_r(&t, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y%m%d%H%M%SZ", &tm);
  return text;
}

bool IsIpAddress(const std::string& name) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, name.c_str(), buffer) == 1 || inet_pton(AF_INET6, name.c_str(), buffer) == 1;
}

}  // namespace

TTestCertificates::TTestCertificates() : FDir(std::make_unique<TTempDir>()) {
  if (!Available()) {
    FError = std::string(OpenSsl) + " is missing (Debian package openssl)";
    return;
  }
  std::filesystem::create_directory(FDir->File("issued"));
  WriteFileBytes(FDir->File("index.txt"), "");
  WriteFileBytes(FDir->File("serial"), "1000\n");
  WriteFileBytes(FDir->File("ca.cnf"), CaConfig);
  FCAFile = FDir->File("ca.pem");
  FCAKeyFile = FDir->File("ca.key");
  Run({"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", FCAKeyFile,
       "-out", FCAFile, "-subj", "/CN=Corvale Test CA", "-days", "3650", "-addext",
       "basicConstraints=critical,CA:TRUE", "-addext", "keyUsage=critical,keyCertSign,cRLSign"});
}

TTestCertificates::~TTestCertificates() = default;

bool TTestCertificates::Available() { return std::filesystem::exists(OpenSsl); }

bool TTestCertificates::Run(const std::vector<std::string>& args) {
  QStringList list;
  for (const auto& a : args) list << QString::fromStdString(a);
  QProcess process;
  process.setWorkingDirectory(QString::fromStdString(FDir->Path()));
  process.start(OpenSsl, list);
  bool ok = process.waitForFinished(60000) && process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
  if (!ok)
    FError = "openssl " + args.front() + " failed: " + process.readAllStandardError().toStdString();
  return ok;
}

TTestCert TTestCertificates::Server(const std::string& name, int days, bool selfSigned) {
  if (FCAFile.empty() || !FError.empty())
    return {};
  std::string base = FDir->File("server" + std::to_string(++FCount));
  std::string san = (IsIpAddress(name) ? "IP:" : "DNS:") + name;
  WriteFileBytes(base + ".ext", "[server]\nbasicConstraints = critical,CA:FALSE\n"
                                "keyUsage = critical,digitalSignature,keyEncipherment\n"
                                "extendedKeyUsage = serverAuth\nsubjectAltName = " + san + "\n");
  std::time_t now = std::time(nullptr);
  std::time_t notAfter = now + static_cast<std::time_t>(days) * 86400;
  std::time_t notBefore = std::min(now, notAfter) - 86400;
  if (days < 0)
    notBefore = notAfter - 30 * 86400;

  TTestCert cert;
  cert.KeyFile = base + ".key";
  if (!Run({"req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256", "-nodes", "-keyout", cert.KeyFile,
            "-out", base + ".csr", "-subj", "/CN=" + name}))
    return {};
  std::vector<std::string> sign = {"ca", "-batch", "-config", "ca.cnf", "-in", base + ".csr", "-out", base + ".pem",
                                   "-notext", "-startdate", GeneralizedTime(notBefore), "-enddate",
                                   GeneralizedTime(notAfter), "-extfile", base + ".ext", "-extensions", "server"};
  if (selfSigned) {
    sign.insert(sign.end(), {"-selfsign", "-keyfile", cert.KeyFile});
  } else {
    sign.insert(sign.end(), {"-cert", FCAFile, "-keyfile", FCAKeyFile});
  }
  if (!Run(sign))
    return {};
  cert.CertFile = base + ".pem";
  cert.NotAfter = notAfter;
  return cert;
}

}  // namespace testsupport
