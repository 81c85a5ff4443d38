// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "TlsTransport.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <cstdlib>

#include <boost/asio/write.hpp>

#include "KnownAgents.h"
#include "TcpConnect.h"

namespace OVL::Agent {

namespace {

std::string fingerprintOf(X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert, EVP_sha256(), digest, &length) != 1) {
        return {};
    }
    static const char* hex = "0123456789ABCDEF";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        if (i != 0) {
            out += ':';
        }
        out += hex[digest[i] >> 4];
        out += hex[digest[i] & 15];
    }
    return out;
}

}  // namespace

TlsTransport::TlsTransport(boost::asio::io_context& context, std::string host, int port)
    : m_resolver(std::make_shared<boost::asio::ip::tcp::resolver>(context)),
      m_tls(boost::asio::ssl::context::tls_client),
      m_stream(context, m_tls),
      m_host(std::move(host)),
      m_port(port) {
    SSL_CTX_set_min_proto_version(m_tls.native_handle(), TLS1_2_VERSION);
    if (const char* ca = std::getenv("OVL_CA_FILE"); ca != nullptr && *ca != '\0') {
        boost::system::error_code ec;
        m_tls.load_verify_file(ca, ec);
        m_withCa = !ec;
    }
    // Verification is decided after the handshake (checkPeer), so that an unknown certificate can
    // be accepted on first use and a failure explained precisely.
    m_stream.set_verify_mode(boost::asio::ssl::verify_none);
    SSL_set_tlsext_host_name(m_stream.native_handle(), m_host.c_str());
    if (m_withCa) {
        SSL_set1_host(m_stream.native_handle(), m_host.c_str());
    }
}

void TlsTransport::asyncConnect(ConnectHandler done) {
    asyncConnectTcp(m_resolver, m_stream.next_layer(), m_host, m_port,
                    [this, done = std::move(done)](const OVLRequestErrorData& err) {
                        if (err.m_code != OVLRequestErrorData::kNone) {
                            done(err);
                            return;
                        }
                        handshake(done);
                    });
}

void TlsTransport::handshake(ConnectHandler done) {
    m_stream.async_handshake(boost::asio::ssl::stream_base::client,
                             [this, done = std::move(done)](const boost::system::error_code& ec) {
                                 if (ec) {
                                     done({OVLRequestErrorData::kTlsFailure,
                                           "TLS handshake with " + m_host + ":" + std::to_string(m_port) +
                                               " failed: " + errorText(ec)});
                                     return;
                                 }
                                 done(checkPeer());
                             });
}

OVLRequestErrorData TlsTransport::checkPeer() {
    X509* cert = SSL_get1_peer_certificate(m_stream.native_handle());
    if (cert == nullptr) {
        return {OVLRequestErrorData::kTlsFailure, "the agent presented no TLS certificate"};
    }
    const std::string fingerprint = fingerprintOf(cert);
    X509_free(cert);
    if (m_withCa && SSL_get_verify_result(m_stream.native_handle()) == X509_V_OK) {
        return {};
    }
    std::string error;
    switch (KnownAgents::check(m_host, m_port, fingerprint, error)) {
        case KnownAgents::Verdict::Known:
            return {};
        case KnownAgents::Verdict::Remembered:
            m_firstTrust = OVLAgentTrust{m_host, m_port, fingerprint, KnownAgents::path()};
            return {};
        case KnownAgents::Verdict::Changed:
            return {OVLRequestErrorData::kCertificateChanged, error};
        case KnownAgents::Verdict::Unavailable:
            break;
    }
    return {OVLRequestErrorData::kTlsFailure, error};
}

void TlsTransport::asyncReadSome(boost::asio::mutable_buffer buffer, IoHandler done) {
    m_stream.async_read_some(buffer, std::move(done));
}

void TlsTransport::asyncWrite(boost::asio::const_buffer buffer, IoHandler done) {
    *m_writing = true;
    boost::asio::async_write(
        m_stream, buffer,
        [writing = m_writing, done = std::move(done)](const boost::system::error_code& ec, std::size_t n) {
            *writing = false;
            done(ec, n);
        });
}

void TlsTransport::close() {
    m_resolver->cancel();
    sendCloseNotify();
    boost::system::error_code ignored;
    m_stream.next_layer().shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    m_stream.next_layer().close(ignored);
}

// Asio's stream would send close_notify through its staging buffers and then wait for the
// agent's own, which close() must not do. Pointed at the socket itself, OpenSSL writes the alert at
// once, without blocking: when the socket does not take it now, the agent sees the close without
// it, which it accepts too. Not while a write is under way: the alert would cut into the record
// on the wire.
void TlsTransport::sendCloseNotify() {
    SSL* ssl = m_stream.native_handle();
    if (m_closeNotifySent || *m_writing || !m_stream.next_layer().is_open() ||
        SSL_is_init_finished(ssl) != 1) {
        return;
    }
    m_closeNotifySent = true;
    boost::system::error_code ec;
    m_stream.next_layer().non_blocking(true, ec);
    BIO* socketBio = BIO_new_socket(m_stream.next_layer().native_handle(), BIO_NOCLOSE);
    if (ec || socketBio == nullptr) {
        BIO_free(socketBio);
        return;
    }
    SSL_set_bio(ssl, socketBio, socketBio);        // the SSL object owns it from now on
    SSL_set_shutdown(ssl, SSL_RECEIVED_SHUTDOWN);  // not waiting for the agent's close_notify
    SSL_shutdown(ssl);
    ERR_clear_error();  // the thread's error queue stays clean for the other streams on it
}

std::string TlsTransport::describe() const {
    return "tls " + m_host + ":" + std::to_string(m_port);
}

}  // namespace OVL::Agent
