#pragma once

#include <string>

// A throw-away certificate authority and server certificates made with the
// openssl command in a temporary directory, for TLS tests. TrustOnlyCa
// points SSL_CERT_FILE at the CA and SSL_CERT_DIR at an empty directory,
// so that nothing else is trusted in this process.
class TestCertificates {
public:
    TestCertificates();   // throws std::runtime_error when openssl fails
    ~TestCertificates();  // removes the directory

    TestCertificates(const TestCertificates&) = delete;
    TestCertificates& operator=(const TestCertificates&) = delete;

    struct Pair {
        std::string certificate;  // PEM file
        std::string key;          // PEM file
    };

    void TrustOnlyCa() const;

    const std::string& directory() const { return dir_; }
    std::string ca;  // the CA's certificate
    Pair server;     // localhost and 127.0.0.1, by the CA, valid now
    Pair expired;    // localhost and 127.0.0.1, by the CA, expired in 2020
    Pair otherName;  // mail.example.net only, by the CA
    Pair untrusted;  // localhost and 127.0.0.1, by a CA nobody trusts

private:
    std::string dir_;
};

// One set for the whole program, made on first use, with TrustOnlyCa done.
const TestCertificates& TrustedTestCertificates();
