// SPDX-FileCopyrightText: 2026 Ferrik maintainers
// SPDX-License-Identifier: Apache-2.0
#include "TlsContext.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace ovagent {

namespace {

std::string opensslError() {
    unsigned long code = ERR_get_error();
    if (code == 0) {
        return "unknown OpenSSL error";
    }
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    ERR_clear_error();
    return text;
}

struct PkeyFree {
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
struct X509Free {
    void operator()(X509* p) const { X509_free(p); }
};
struct FileClose {
    void operator()(FILE* f) const { std::fclose(f); }
};

bool addExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX ctx;
    X509V3_set_ctx_nodb(&ctx);
    X509V3_set_ctx(&ctx, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &ctx, nid, value);
    if (ext == nullptr) {
        return false;
    }
    const bool ok = X509_add_ext(cert, ext, -1) == 1;
    X509_EXTENSION_free(ext);
    return ok;
}

}  // namespace

std::string TlsContext::certificatePath(const std::string& certificateFile,
                                        const std::string& stateDirectory) {
    return certificateFile.empty() ? (std::filesystem::path(stateDirectory) / "tls-cert.pem").string()
                                   : certificateFile;
}

std::string TlsContext::fingerprint(const std::string& certificateFile, std::string& error) {
    std::unique_ptr<FILE, FileClose> in(std::fopen(certificateFile.c_str(), "rb"));
    if (!in) {
        error = "cannot read " + certificateFile + ": " +
                std::error_code(errno, std::system_category()).message();
        return {};
    }
    std::unique_ptr<X509, X509Free> cert(PEM_read_X509(in.get(), nullptr, nullptr, nullptr));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!cert || X509_digest(cert.get(), EVP_sha256(), digest, &length) != 1) {
        error = certificateFile + " holds no PEM certificate: " + opensslError();
        return {};
    }
    static const char* const kHex = "0123456789ABCDEF";
    std::string out;
    for (unsigned int i = 0; i < length; ++i) {
        if (i != 0) {
            out += ':';
        }
        out += kHex[digest[i] >> 4];
        out += kHex[digest[i] & 15];
    }
    return out;
}

bool TlsContext::generateSelfSigned(const std::string& certificateFile, const std::string& keyFile,
                                    std::string& error) {
    std::unique_ptr<EVP_PKEY, PkeyFree> key(EVP_EC_gen("P-256"));
    std::unique_ptr<X509, X509Free> cert(X509_new());
    if (!key || !cert) {
        error = "cannot create a key: " + opensslError();
        return false;
    }
    unsigned char serial[16];
    FILE* random = std::fopen("/dev/urandom", "rb");
    const bool haveSerial =
        random != nullptr && std::fread(serial, 1, sizeof serial, random) == sizeof serial;
    if (random != nullptr) {
        std::fclose(random);
    }
    serial[0] &= 0x7f;
    BIGNUM* bn = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool ok =
        haveSerial && bn != nullptr && X509_set_version(cert.get(), 2) == 1 &&
        BN_to_ASN1_INTEGER(bn, X509_get_serialNumber(cert.get())) != nullptr &&
        X509_gmtime_adj(X509_getm_notBefore(cert.get()), -3600) != nullptr &&
        X509_gmtime_adj(X509_getm_notAfter(cert.get()), 365L * 24 * 3600) != nullptr &&
        X509_set_pubkey(cert.get(), key.get()) == 1 &&
        X509_NAME_add_entry_by_txt(X509_get_subject_name(cert.get()), "CN", MBSTRING_ASC,
                                   reinterpret_cast<const unsigned char*>("ovagent"), -1, -1, 0) == 1 &&
        X509_set_issuer_name(cert.get(), X509_get_subject_name(cert.get())) == 1 &&
        addExtension(cert.get(), NID_subject_alt_name, "DNS:localhost,IP:127.0.0.1,IP:::1") &&
        addExtension(cert.get(), NID_basic_constraints, "critical,CA:FALSE") &&
        X509_sign(cert.get(), key.get(), EVP_sha256()) > 0;
    BN_free(bn);
    if (!ok) {
        error = "cannot create a certificate: " + opensslError();
        return false;
    }
    // Explicit modes, whatever the umask and whatever mode a file left at the path had: the key
    // for the agent's user only, the certificate for anyone to read (clients are given it).
    constexpr mode_t kKeyMode = 0600;
    constexpr mode_t kCertificateMode = 0644;
    int keyFd = ::open(keyFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, kKeyMode);
    if (keyFd >= 0 && ::fchmod(keyFd, kKeyMode) != 0) {
        ::close(keyFd);
        keyFd = -1;
    }
    std::unique_ptr<FILE, FileClose> keyOut(keyFd >= 0 ? ::fdopen(keyFd, "wb") : nullptr);
    if (!keyOut ||
        PEM_write_PrivateKey(keyOut.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1) {
        if (keyFd >= 0 && !keyOut) {
            ::close(keyFd);
        }
        error = "cannot write " + keyFile;
        return false;
    }
    int certFd = ::open(certificateFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                        kCertificateMode);
    if (certFd >= 0 && ::fchmod(certFd, kCertificateMode) != 0) {
        ::close(certFd);
        certFd = -1;
    }
    std::unique_ptr<FILE, FileClose> certOut(certFd >= 0 ? ::fdopen(certFd, "wb") : nullptr);
    if (certFd >= 0 && !certOut) {
        ::close(certFd);
    }
    if (!certOut || PEM_write_X509(certOut.get(), cert.get()) != 1) {
        error = "cannot write " + certificateFile;
        return false;
    }
    return true;
}

std::unique_ptr<boost::asio::ssl::context> TlsContext::create(const std::string& certificateFile,
                                                              const std::string& keyFile,
                                                              const std::string& stateDirectory,
                                                              std::string& error) {
    std::string cert = certificateFile;
    std::string key = keyFile;
    if (cert.empty()) {
        cert = (std::filesystem::path(stateDirectory) / "tls-cert.pem").string();
        key = (std::filesystem::path(stateDirectory) / "tls-key.pem").string();
        if (!std::filesystem::exists(cert) || !std::filesystem::exists(key)) {
            if (!generateSelfSigned(cert, key, error)) {
                return nullptr;
            }
        }
    }
    auto context = std::make_unique<boost::asio::ssl::context>(boost::asio::ssl::context::tls_server);
    boost::system::error_code ec;
    context->set_options(boost::asio::ssl::context::default_workarounds |
                             boost::asio::ssl::context::no_sslv2 | boost::asio::ssl::context::no_sslv3 |
                             boost::asio::ssl::context::no_tlsv1 | boost::asio::ssl::context::no_tlsv1_1 |
                             boost::asio::ssl::context::single_dh_use,
                         ec);
    context->use_certificate_chain_file(cert, ec);
    if (ec) {
        error = "cannot load the certificate " + cert + ": " + ec.message();
        return nullptr;
    }
    context->use_private_key_file(key, boost::asio::ssl::context::pem, ec);
    if (ec) {
        error = "cannot load the key " + key + ": " + ec.message();
        return nullptr;
    }
    // Idle connections give their record buffers back.
    SSL_CTX_set_mode(context->native_handle(), SSL_MODE_RELEASE_BUFFERS);
    return context;
}

}  // namespace ovagent
