#include "TTlsSession.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <mutex>

namespace {

bool IsIpAddress(const std::string& name) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, name.c_str(), buffer) == 1 || inet_pton(AF_INET6, name.c_str(), buffer) == 1;
}

// The error queue is per thread and outlives a call; whatever is left in it belongs to
// no one, so every call starts from an empty queue and leaves one behind.
std::string TakeQueuedError() {
  unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0)
    return {};
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

std::string FileStamp(const char* path) {
  struct stat st {};
  if (!path || stat(path, &st) != 0) return "-";
  return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

// Loading the default trust store reads the whole bundle, tens of milliseconds, so one
// verifying context is shared (OpenSSL lets many threads use a finished context). It is
// made again whenever SSL_CERT_FILE, SSL_CERT_DIR or the bundle file has changed, so the
// variables work as with every OpenSSL program. The caller gets a reference of its own:
// a replaced context lives on as long as its sessions.
SSL_CTX* VerifyingContext() {
  static std::mutex lock;
  static std::string cachedKey;
  static SSL_CTX* cached = nullptr;
  const char* fileVar = std::getenv(X509_get_default_cert_file_env());
  const char* dirVar = std::getenv(X509_get_default_cert_dir_env());
  const char* file = fileVar ? fileVar : X509_get_default_cert_file();
  std::string key = std::string(file) + "|" + FileStamp(file) + "|" + (dirVar ? dirVar : X509_get_default_cert_dir());
  std::lock_guard guard(lock);
  if (cached && key == cachedKey) return SSL_CTX_up_ref(cached) == 1 ? cached : nullptr;
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (!context) return nullptr;
  if (SSL_CTX_set_default_verify_paths(context) != 1 || SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION) != 1) {
    SSL_CTX_free(context);
    return nullptr;
  }
  SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  if (cached) SSL_CTX_free(cached);
  cached = context;
  cachedKey = key;
  return SSL_CTX_up_ref(cached) == 1 ? cached : nullptr;
}

}  // namespace

struct TTlsSession::TImpl {
  SSL_CTX* Context = nullptr;
  SSL* Ssl = nullptr;
  BIO* NetIn = nullptr;   // owned by Ssl
  BIO* NetOut = nullptr;  // owned by Ssl
  bool Verify = true;
  bool Established = false;
  bool PeerClosed = false;
  bool Failed = false;
  std::string Error;
  std::time_t NotAfter = 0;

  void Fail(const std::string& fallback) {
    if (Failed)
      return;
    Failed = true;
    long verifyResult = Ssl ? SSL_get_verify_result(Ssl) : X509_V_OK;
    if (Verify && verifyResult != X509_V_OK) {
      ERR_clear_error();
      Error = std::string("Certificate verify failed: ") + X509_verify_cert_error_string(verifyResult);
      return;
    }
    std::string queued = TakeQueuedError();
    Error = "TLS error: " + (queued.empty() ? fallback : queued);
  }

  void TakeNotAfter() {
    if (NotAfter != 0 || !Ssl)
      return;
    X509* cert = SSL_get1_peer_certificate(Ssl);
    if (!cert)
      return;
    std::tm tm{};
    if (ASN1_TIME_to_tm(X509_get0_notAfter(cert), &tm) == 1)
      NotAfter = timegm(&tm);
    X509_free(cert);
  }

  void Start(std::string serverName, bool verify) {
    Verify = verify;
    if (verify) {
      Context = VerifyingContext();
      if (!Context)
        return Fail("cannot load the trust store");
    } else {
      Context = SSL_CTX_new(TLS_client_method());
      if (!Context)
        return Fail("cannot create a context");
      SSL_CTX_set_min_proto_version(Context, TLS1_2_VERSION);
      SSL_CTX_set_verify(Context, SSL_VERIFY_NONE, nullptr);
    }

    Ssl = SSL_new(Context);
    NetIn = BIO_new(BIO_s_mem());
    NetOut = BIO_new(BIO_s_mem());
    if (!Ssl || !NetIn || !NetOut) {
      BIO_free(NetIn);
      BIO_free(NetOut);
      NetIn = NetOut = nullptr;
      return Fail("cannot create a session");
    }
    // Reading an empty memory BIO means "more to come", never end of file.
    BIO_set_mem_eof_return(NetIn, -1);
    SSL_set_bio(Ssl, NetIn, NetOut);
    SSL_set_connect_state(Ssl);

    if (!serverName.empty() && serverName.front() == '[' && serverName.back() == ']')
      serverName = serverName.substr(1, serverName.size() - 2);
    bool ip = IsIpAddress(serverName);
    if (!ip && !serverName.empty() && SSL_set_tlsext_host_name(Ssl, serverName.c_str()) != 1)
      return Fail("invalid server name");
    if (verify) {
      int ok = ip ? X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(Ssl), serverName.c_str())
                  : SSL_set1_host(Ssl, serverName.c_str());
      if (ok != 1)
        return Fail("invalid server name");
    }
  }

  ~TImpl() {
    if (Ssl)
      SSL_free(Ssl);
    if (Context)
      SSL_CTX_free(Context);
  }
};

TTlsSession::TTlsSession(std::string serverName, bool verify) : F(std::make_unique<TImpl>()) {
  ERR_clear_error();
  F->Start(std::move(serverName), verify);
  ERR_clear_error();
}

TTlsSession::~TTlsSession() = default;

TTlsSession::TStep TTlsSession::Handshake() {
  if (F->Failed)
    return TStep::Failed;
  if (F->Established)
    return TStep::Done;
  ERR_clear_error();
  int rc = SSL_do_handshake(F->Ssl);
  if (rc == 1) {
    F->Established = true;
    F->TakeNotAfter();
    ERR_clear_error();
    return TStep::Done;
  }
  int error = SSL_get_error(F->Ssl, rc);
  if (error == SSL_ERROR_WANT_READ || error == SSL_ERROR_WANT_WRITE) {
    ERR_clear_error();
    return TStep::WantNetwork;
  }
  F->TakeNotAfter();
  F->Fail("handshake failed");
  return TStep::Failed;
}

bool TTlsSession::Established() const { return F->Established && !F->Failed; }

void TTlsSession::FeedNetwork(std::string_view bytes) {
  if (F->Failed || !F->NetIn)
    return;
  while (!bytes.empty()) {
    int chunk = static_cast<int>(std::min<std::size_t>(bytes.size(), INT_MAX / 2));
    int written = BIO_write(F->NetIn, bytes.data(), chunk);
    if (written <= 0) {
      F->Fail("out of memory");
      return;
    }
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
}

std::string TTlsSession::TakeNetworkOutput() {
  std::string out;
  if (!F->NetOut)
    return out;
  std::size_t pending = BIO_ctrl_pending(F->NetOut);
  if (pending == 0)
    return out;
  out.resize(pending);
  int got = BIO_read(F->NetOut, out.data(), static_cast<int>(std::min<std::size_t>(pending, INT_MAX)));
  out.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return out;
}

bool TTlsSession::HasNetworkOutput() const { return F->NetOut && BIO_ctrl_pending(F->NetOut) > 0; }

bool TTlsSession::WritePlain(std::string_view text) {
  if (F->Failed || !F->Established)
    return false;
  ERR_clear_error();
  while (!text.empty()) {
    std::size_t written = 0;
    if (SSL_write_ex(F->Ssl, text.data(), text.size(), &written) != 1) {
      F->Fail("write failed");
      return false;
    }
    text.remove_prefix(written);
  }
  return true;
}

std::string TTlsSession::ReadPlain() {
  std::string out;
  if (F->Failed || !F->Established || F->PeerClosed)
    return out;
  ERR_clear_error();
  char buffer[16384];
  for (;;) {
    std::size_t got = 0;
    if (SSL_read_ex(F->Ssl, buffer, sizeof buffer, &got) == 1) {
      out.append(buffer, got);
      continue;
    }
    int error = SSL_get_error(F->Ssl, 0);
    if (error == SSL_ERROR_ZERO_RETURN)
      F->PeerClosed = true;
    else if (error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE)
      F->Fail("read failed");
    break;
  }
  ERR_clear_error();
  return out;
}

bool TTlsSession::PeerClosed() const { return F->PeerClosed; }

void TTlsSession::Close() {
  if (F->Failed || !F->Established)
    return;
  ERR_clear_error();
  SSL_shutdown(F->Ssl);
  ERR_clear_error();
}

const std::string& TTlsSession::ErrorText() const { return F->Error; }

bool TTlsSession::Failed() const { return F->Failed; }

std::time_t TTlsSession::PeerNotAfter() const { return F->NotAfter; }

std::string TTlsSession::Description() const {
  if (!Established())
    return {};
  return std::string(SSL_get_version(F->Ssl)) + " " + SSL_get_cipher_name(F->Ssl);
}
