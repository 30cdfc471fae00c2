#pragma once
// Certificates made for one test with the openssl command in a private folder: a test CA
// and server certificates signed by it or by themselves. Point SSL_CERT_FILE at CAFile()
// (TScopedEnv) so the program trusts the CA and nothing else.
#include <ctime>
#include <memory>
#include <string>
#include <vector>

namespace testsupport {

class TTempDir;

struct TTestCert {
  std::string CertFile;  // PEM, the server certificate alone
  std::string KeyFile;   // PEM, its private key, unencrypted
  std::time_t NotAfter = 0;
  bool Ok() const { return !CertFile.empty(); }
};

class TTestCertificates {
public:
  // Makes the CA; Error() says why when it could not.
  TTestCertificates();
  ~TTestCertificates();
  TTestCertificates(const TTestCertificates&) = delete;
  TTestCertificates& operator=(const TTestCertificates&) = delete;

  // False when /usr/bin/openssl is missing.
  static bool Available();
  bool Ok() const { return FError.empty(); }
  const std::string& Error() const { return FError; }

  // The CA certificate, for SSL_CERT_FILE.
  const std::string& CAFile() const { return FCAFile; }
  const std::string& CAKeyFile() const { return FCAKeyFile; }

  // A server certificate for name (a DNS name, or an IPv4/IPv6 address, put in
  // subjectAltName and the common name) valid from a day ago until `days` days from now;
  // a negative `days` gives a certificate that expired that many days ago. selfSigned:
  // signed by its own key instead of the CA. Empty (Ok() false, see Error()) on failure.
  TTestCert Server(const std::string& name, int days = 30, bool selfSigned = false);

private:
  bool Run(const std::vector<std::string>& args);

  std::unique_ptr<TTempDir> FDir;
  std::string FCAFile, FCAKeyFile, FError;
  int FCount = 0;
};

}  // namespace testsupport
