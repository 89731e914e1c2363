#include "platform/tls.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace platform {

namespace {

// OpenSSL's own socket BIO writes with write(), which raises SIGPIPE when
// the server has gone; this one sends with MSG_NOSIGNAL instead.
int SocketOf(BIO* bio) {
    return static_cast<int>(reinterpret_cast<std::intptr_t>(BIO_get_data(bio)));
}

int BioWrite(BIO* bio, const char* data, int size) {
    BIO_clear_retry_flags(bio);
    for (;;) {
        ssize_t n = ::send(SocketOf(bio), data, static_cast<std::size_t>(size), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_write(bio);
        return -1;
    }
}

int BioRead(BIO* bio, char* buffer, int size) {
    BIO_clear_retry_flags(bio);
    for (;;) {
        ssize_t n = ::recv(SocketOf(bio), buffer, static_cast<std::size_t>(size), MSG_DONTWAIT);
        if (n >= 0) return static_cast<int>(n);
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) BIO_set_retry_read(bio);
        return -1;
    }
}

int BioPuts(BIO* bio, const char* text) {
    return BioWrite(bio, text, static_cast<int>(std::strlen(text)));
}

long BioCtrl(BIO*, int command, long, void*) {
    return command == BIO_CTRL_FLUSH ? 1 : 0;
}

int BioCreate(BIO* bio) {
    BIO_set_init(bio, 1);
    return 1;
}

const BIO_METHOD* SocketMethod() {
    static BIO_METHOD* method = [] {
        BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "boxsweeper socket");
        BIO_meth_set_write(m, BioWrite);
        BIO_meth_set_read(m, BioRead);
        BIO_meth_set_puts(m, BioPuts);
        BIO_meth_set_ctrl(m, BioCtrl);
        BIO_meth_set_create(m, BioCreate);
        return m;
    }();
    return method;
}

std::string ErrorQueueText() {
    std::string text;
    while (unsigned long e = ERR_get_error()) {
        if (!text.empty()) continue;  // the first is the cause; drop the rest
        const char* reason = ERR_reason_error_string(e);
        if (reason)
            text = reason;
        else {
            char buffer[256];
            ERR_error_string_n(e, buffer, sizeof buffer);
            text = buffer;
        }
    }
    return text;
}

std::string TimeText(const ASN1_TIME* time) {
    std::tm tm{};
    if (!time || ASN1_TIME_to_tm(time, &tm) != 1) return "?";
    char buffer[64];
    std::strftime(buffer, sizeof buffer, "%Y-%m-%d %H:%M:%S UTC", &tm);
    return buffer;
}

}  // namespace

struct TlsClient::Impl {
    SSL_CTX* context = nullptr;
    SSL* ssl = nullptr;
    ~Impl() {
        SSL_free(ssl);  // frees the BIO too
        SSL_CTX_free(context);
    }
};

TlsClient::TlsClient(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}

TlsClient::~TlsClient() = default;

std::unique_ptr<TlsClient> TlsClient::Create(int fd, const std::string& host, std::string& error) {
    ERR_clear_error();
    auto impl = std::make_unique<Impl>();
    auto fail = [&](const char* what) {
        error = what;
        std::string queued = ErrorQueueText();
        if (!queued.empty()) error += ": " + queued;
        return nullptr;
    };
    if (host.empty() || host.find('\0') != std::string::npos) return fail("no server name");

    // A fresh context per connection: the trusted certificates are read as
    // they are now (and as SSL_CERT_FILE / SSL_CERT_DIR say now).
    impl->context = SSL_CTX_new(TLS_client_method());
    if (!impl->context) return fail("cannot set up TLS");
    SSL_CTX_set_min_proto_version(impl->context, TLS1_2_VERSION);
    SSL_CTX_set_verify(impl->context, SSL_VERIFY_PEER, nullptr);
    if (SSL_CTX_set_default_verify_paths(impl->context) != 1) return fail("cannot read the trusted certificates");

    impl->ssl = SSL_new(impl->context);
    if (!impl->ssl) return fail("cannot set up TLS");
    BIO* bio = BIO_new(SocketMethod());
    if (!bio) return fail("cannot set up TLS");
    BIO_set_data(bio, reinterpret_cast<void*>(static_cast<std::intptr_t>(fd)));
    SSL_set_bio(impl->ssl, bio, bio);
    SSL_set_mode(impl->ssl, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);

    // The same reading of a numeric host as the socket's own address lookup.
    in_addr numeric{};
    if (::inet_aton(host.c_str(), &numeric) != 0) {
        // An address is checked against the IP entries; SNI carries names only.
        if (X509_VERIFY_PARAM_set1_ip(SSL_get0_param(impl->ssl),
                                      reinterpret_cast<const unsigned char*>(&numeric.s_addr), 4) != 1)
            return fail("cannot set up the address check");
    } else {
        SSL_set_hostflags(impl->ssl, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        if (SSL_set1_host(impl->ssl, host.c_str()) != 1) return fail("cannot set up the name check");
        if (SSL_set_tlsext_host_name(impl->ssl, host.c_str()) != 1) return fail("cannot set the server name");
    }
    SSL_set_connect_state(impl->ssl);
    return std::unique_ptr<TlsClient>(new TlsClient(std::move(impl)));
}

TlsStatus TlsClient::Fail(int result, bool handshaking) {
    int error = SSL_get_error(impl_->ssl, result);
    if (error == SSL_ERROR_WANT_READ) return TlsStatus::WantRead;
    if (error == SSL_ERROR_WANT_WRITE) return TlsStatus::WantWrite;
    if (error == SSL_ERROR_ZERO_RETURN && !handshaking) {
        ERR_clear_error();
        return TlsStatus::Closed;
    }
    int savedErrno = errno;
    std::string queued = ErrorQueueText();
    long verify = SSL_get_verify_result(impl_->ssl);
    if (handshaking && verify != X509_V_OK) {
        failure_ = TlsFailure::Certificate;
        failureText_ = X509_verify_cert_error_string(verify);
    } else {
        failure_ = handshaking ? TlsFailure::Handshake : TlsFailure::Transfer;
        if (!queued.empty())
            failureText_ = queued;
        else if (error == SSL_ERROR_SYSCALL && result < 0 && savedErrno != 0)
            failureText_ = std::strerror(savedErrno);
        else
            failureText_ =
                handshaking ? "connection closed during the handshake" : "connection cut without closing alert";
    }
    return TlsStatus::Failed;
}

TlsStatus TlsClient::Handshake() {
    if (failure_ != TlsFailure::None) return TlsStatus::Failed;
    ERR_clear_error();
    errno = 0;
    int r = SSL_do_handshake(impl_->ssl);
    if (r == 1) return TlsStatus::Done;
    return Fail(r, true);
}

TlsStatus TlsClient::Read(char* buffer, std::size_t size, std::size_t& got) {
    got = 0;
    if (failure_ != TlsFailure::None) return TlsStatus::Failed;
    ERR_clear_error();
    errno = 0;
    int r = SSL_read_ex(impl_->ssl, buffer, size, &got);
    if (r == 1) return TlsStatus::Done;
    got = 0;
    return Fail(r, !SSL_is_init_finished(impl_->ssl));
}

TlsStatus TlsClient::Write(const char* data, std::size_t size, std::size_t& written) {
    written = 0;
    if (failure_ != TlsFailure::None) return TlsStatus::Failed;
    ERR_clear_error();
    errno = 0;
    int r = SSL_write_ex(impl_->ssl, data, size, &written);
    if (r == 1) return TlsStatus::Done;
    written = 0;
    return Fail(r, !SSL_is_init_finished(impl_->ssl));
}

void TlsClient::Shutdown() {
    if (failure_ != TlsFailure::None || !SSL_is_init_finished(impl_->ssl)) return;
    ERR_clear_error();
    SSL_shutdown(impl_->ssl);
    ERR_clear_error();
}

std::string TlsClient::Summary() const {
    std::string text = std::string(SSL_get_version(impl_->ssl)) + ", " + SSL_get_cipher_name(impl_->ssl);
    X509* certificate = SSL_get1_peer_certificate(impl_->ssl);
    if (!certificate) return text;
    if (BIO* out = BIO_new(BIO_s_mem())) {
        X509_NAME_print_ex(out, X509_get_subject_name(certificate), 0, XN_FLAG_RFC2253);
        char* data = nullptr;
        long length = BIO_get_mem_data(out, &data);
        if (data && length > 0) text += ", subject " + std::string(data, static_cast<std::size_t>(length));
        BIO_free(out);
    }
    text += ", valid until " + TimeText(X509_get0_notAfter(certificate));
    X509_free(certificate);
    return text;
}

}  // namespace platform
