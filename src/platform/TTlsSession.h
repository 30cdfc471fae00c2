#pragma once
// The client side of one TLS connection, independent of how its bytes travel: the caller
// moves the encrypted bytes between the session and its socket (a blocking socket on a
// worker, a Qt socket on the main thread), the session turns them into plain text and
// back. The trust store is OpenSSL's default one, so SSL_CERT_FILE and SSL_CERT_DIR work
// as with every OpenSSL program; the server name is sent (SNI) and, with verification on,
// the certificate chain and the host name (or IP address) are checked during the
// handshake.
//
// One session belongs to one thread at a time; sessions on different threads are
// independent.
#include <cstddef>
#include <ctime>
#include <memory>
#include <string>
#include <string_view>

class TTlsSession {
public:
  // serverName: the name the certificate must carry (and the SNI name, unless it is an
  // IP address). verify false accepts any certificate (never used for alerts or tests;
  // kept for tools that only want the bytes).
  explicit TTlsSession(std::string serverName, bool verify = true);
  ~TTlsSession();
  TTlsSession(const TTlsSession&) = delete;
  TTlsSession& operator=(const TTlsSession&) = delete;

  enum class TStep {
    Done,         // the handshake is complete
    WantNetwork,  // send NetworkOutput(), feed what the server answers, call again
    Failed        // ErrorText() says why; the session is of no further use
  };
  // Starts or continues the handshake.
  TStep Handshake();
  bool Established() const;

  // Encrypted bytes received from the server.
  void FeedNetwork(std::string_view bytes);
  // Encrypted bytes to send to the server (handshake, application data, close notify);
  // taken out, so each call returns only what is new.
  std::string TakeNetworkOutput();
  bool HasNetworkOutput() const;

  // Application data, once established. WritePlain encrypts into the network output;
  // false when the session has failed. ReadPlain returns all plain text decrypted from
  // the bytes fed so far (empty when none is complete yet).
  bool WritePlain(std::string_view text);
  std::string ReadPlain();
  // The server sent its close notify: no more plain text will come.
  bool PeerClosed() const;
  // Queues the close notify in the network output.
  void Close();

  // Why the session failed: "Certificate verify failed: " + OpenSSL's reason for a
  // certificate that is not trusted, has expired or names another host; otherwise
  // "TLS error: " + OpenSSL's text. Empty while nothing failed.
  const std::string& ErrorText() const;
  bool Failed() const;

  // The server certificate's end of validity (UTC, seconds since 1970); 0 before the
  // handshake delivered one.
  std::time_t PeerNotAfter() const;
  // The protocol and cipher agreed, for log lines ("TLSv1.3 TLS_AES_256_GCM_SHA384").
  std::string Description() const;

private:
  struct TImpl;
  std::unique_ptr<TImpl> F;
};
