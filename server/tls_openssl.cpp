// The TLS of a connection with OpenSSL. The handshake runs between two memory BIOs, since its
// bytes travel inside TDS packets. Afterwards the same memory BIOs carry the records to and
// from the raw stream, which is read one TLS record at a time: no byte beyond the record that
// is needed is taken from the raw stream, so that a connection that drops TLS after the
// login packet finds the next bytes where they were.
#include "server/tls_openssl.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <climits>

namespace dunmarrow::server {

namespace {

struct SslCtxFree {
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
struct SslFree {
  void operator()(SSL* ssl) const { SSL_free(ssl); }
};
using SslCtxPtr = std::unique_ptr<SSL_CTX, SslCtxFree>;
using SslPtr = std::unique_ptr<SSL, SslFree>;

// OpenSSL's queued errors of this thread as one text (and the queue emptied).
std::string OpenSslErrors() {
  std::string text;
  while (unsigned long code = ERR_get_error()) {
    char line[256];
    ERR_error_string_n(code, line, sizeof line);
    if (!text.empty()) text += "; ";
    text += line;
  }
  return text.empty() ? "no detail" : text;
}

// Every byte waiting in a memory BIO.
std::vector<uint8_t> Drain(BIO* bio) {
  std::vector<uint8_t> bytes(static_cast<size_t>(BIO_ctrl_pending(bio)));
  if (!bytes.empty()) {
    int got = BIO_read(bio, bytes.data(), static_cast<int>(bytes.size()));
    bytes.resize(got > 0 ? static_cast<size_t>(got) : 0);
  }
  return bytes;
}

// Follows the TLS record layout of the bytes read: a 5-byte header whose last two bytes
// give the length of the body that follows.
class RecordTracker {
 public:
  void Pass(const uint8_t* data, size_t size) {
    while (size > 0) {
      if (body_left_ > 0) {
        size_t take = std::min(size, body_left_);
        body_left_ -= take;
        data += take;
        size -= take;
        continue;
      }
      header_[header_have_++] = *data++;
      --size;
      if (header_have_ == sizeof header_) {
        body_left_ = (static_cast<size_t>(header_[3]) << 8) | header_[4];
        header_have_ = 0;
      }
    }
  }
  // The bytes up to the end of the current header or body.
  size_t Wanted() const { return body_left_ > 0 ? body_left_ : sizeof header_ - header_have_; }

 private:
  uint8_t header_[5] = {};
  size_t header_have_ = 0;
  size_t body_left_ = 0;
};

class TlsStream : public ByteStream {
 public:
  TlsStream(SslPtr ssl, ByteStream& raw) : ssl_(std::move(ssl)), raw_(raw) {
    // Bytes the handshake received beyond its own records are already in the read BIO.
    char* waiting = nullptr;
    long size = BIO_get_mem_data(SSL_get_rbio(ssl_.get()), &waiting);
    if (size > 0) tracker_.Pass(reinterpret_cast<const uint8_t*>(waiting), size_t(size));
  }

  size_t Read(uint8_t* data, size_t size) override {
    if (size == 0) return 0;
    for (;;) {
      ERR_clear_error();
      int got = SSL_read(ssl_.get(), data, static_cast<int>(std::min<size_t>(size, INT_MAX)));
      if (got > 0) return static_cast<size_t>(got);
      int reason = SSL_get_error(ssl_.get(), got);
      if (reason == SSL_ERROR_ZERO_RETURN) return 0;  // the client's close_notify
      if (reason != SSL_ERROR_WANT_READ) throw StreamError("TLS: " + OpenSslErrors());
      SendPending();
      if (!ReadRecordPart()) return 0;
    }
  }

  void Write(const uint8_t* data, size_t size) override {
    while (size > 0) {
      ERR_clear_error();
      int chunk = static_cast<int>(std::min<size_t>(size, 1 << 30));
      int done = SSL_write(ssl_.get(), data, chunk);
      if (done <= 0) throw StreamError("TLS: " + OpenSslErrors());
      SendPending();
      data += done;
      size -= static_cast<size_t>(done);
    }
  }

  // A record received but not yet read, plaintext already decrypted, or bytes on the raw
  // stream. A record only begun makes the next Read wait for its rest.
  bool ReadReady() override {
    return SSL_pending(ssl_.get()) > 0 || BIO_ctrl_pending(SSL_get_rbio(ssl_.get())) > 0 ||
           raw_.ReadReady();
  }

  void SetReadTimeout(std::chrono::milliseconds timeout) override { raw_.SetReadTimeout(timeout); }

 private:
  // Moves bytes of the current record from the raw stream into the read BIO; false at the
  // end of the raw stream.
  bool ReadRecordPart() {
    uint8_t buffer[16 * 1024];
    size_t got = raw_.Read(buffer, std::min(sizeof buffer, tracker_.Wanted()));
    if (got == 0) return false;
    tracker_.Pass(buffer, got);
    BIO_write(SSL_get_rbio(ssl_.get()), buffer, static_cast<int>(got));
    return true;
  }

  void SendPending() {
    std::vector<uint8_t> bytes = Drain(SSL_get_wbio(ssl_.get()));
    if (!bytes.empty()) raw_.Write(bytes.data(), bytes.size());
  }

  SslPtr ssl_;
  ByteStream& raw_;
  RecordTracker tracker_;
};

class OpenSslHandshake : public TlsHandshake {
 public:
  explicit OpenSslHandshake(SslPtr ssl) : ssl_(std::move(ssl)) {}

  std::vector<uint8_t> Step(std::span<const uint8_t> client_bytes) override {
    if (!ssl_ || complete_) throw StreamError("TLS handshake data after the handshake");
    if (!client_bytes.empty() && BIO_write(SSL_get_rbio(ssl_.get()), client_bytes.data(),
                                           static_cast<int>(client_bytes.size())) <= 0) {
      throw StreamError("TLS handshake: cannot buffer the client's bytes");
    }
    ERR_clear_error();
    int result = SSL_do_handshake(ssl_.get());
    if (result == 1) {
      complete_ = true;
    } else if (SSL_get_error(ssl_.get(), result) != SSL_ERROR_WANT_READ) {
      throw StreamError("TLS handshake failed: " + OpenSslErrors());
    }
    return Drain(SSL_get_wbio(ssl_.get()));
  }

  bool Complete() const override { return complete_; }

  std::unique_ptr<ByteStream> Secure(ByteStream& raw) override {
    if (!ssl_ || !complete_) throw StreamError("TLS records before the handshake completed");
    return std::make_unique<TlsStream>(std::move(ssl_), raw);
  }

 private:
  SslPtr ssl_;
  bool complete_ = false;
};

class OpenSslContext : public TlsContext {
 public:
  explicit OpenSslContext(SslCtxPtr context) : context_(std::move(context)) {}

  std::unique_ptr<TlsHandshake> Accept() override {
    SslPtr ssl(SSL_new(context_.get()));
    BIO* in = BIO_new(BIO_s_mem());
    BIO* out = BIO_new(BIO_s_mem());
    if (!ssl || !in || !out) {
      BIO_free(in);
      BIO_free(out);
      throw StreamError("TLS: " + OpenSslErrors());
    }
    SSL_set_bio(ssl.get(), in, out);  // the SSL object owns both from here
    SSL_set_accept_state(ssl.get());
    return std::make_unique<OpenSslHandshake>(std::move(ssl));
  }

 private:
  SslCtxPtr context_;
};

}  // namespace

std::unique_ptr<TlsContext> OpenTlsContext(const std::string& certificate_file,
                                           const std::string& key_file, std::string& error) {
  ERR_clear_error();
  SslCtxPtr context(SSL_CTX_new(TLS_server_method()));
  if (!context) {
    error = "cannot make a TLS context: " + OpenSslErrors();
    return nullptr;
  }
  // TLS 1.3 would let the client finish the handshake first and send session tickets after
  // it, which the switch from wrapped handshake packets to raw records cannot carry. Without
  // tickets and a session cache, every handshake is a full one ending in the server's flight.
  SSL_CTX_set_min_proto_version(context.get(), TLS1_2_VERSION);
  SSL_CTX_set_max_proto_version(context.get(), TLS1_2_VERSION);
  SSL_CTX_set_options(context.get(),
                      SSL_OP_NO_TICKET | SSL_OP_NO_RENEGOTIATION | SSL_OP_CIPHER_SERVER_PREFERENCE);
  SSL_CTX_set_session_cache_mode(context.get(), SSL_SESS_CACHE_OFF);
  if (SSL_CTX_use_certificate_chain_file(context.get(), certificate_file.c_str()) != 1) {
    error = "cannot read the certificate " + certificate_file + ": " + OpenSslErrors();
    return nullptr;
  }
  if (SSL_CTX_use_PrivateKey_file(context.get(), key_file.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(context.get()) != 1) {
    bool mismatch = ERR_GET_REASON(ERR_peek_last_error()) == X509_R_KEY_VALUES_MISMATCH;
    error = mismatch
                ? "the key " + key_file + " does not belong to the certificate " + certificate_file
                : "cannot read the private key " + key_file + ": " + OpenSslErrors();
    ERR_clear_error();
    return nullptr;
  }
  return std::make_unique<OpenSslContext>(std::move(context));
}

}  // namespace dunmarrow::server
