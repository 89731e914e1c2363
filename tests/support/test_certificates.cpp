#include "support/test_certificates.h"

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

void Run(const std::string& dir, const std::string& command) {
    std::string line = "cd '" + dir + "' && { " + command + "; } >>openssl.log 2>&1";
    if (std::system(line.c_str()) != 0)
        throw std::runtime_error("openssl failed: " + command + "; see " + dir + "/openssl.log");
}

}  // namespace

TestCertificates::TestCertificates() {
    char templ[] = "/tmp/bs-certs-XXXXXX";
    if (!::mkdtemp(templ)) throw std::runtime_error("mkdtemp failed");
    dir_ = templ;
    fs::create_directories(dir_ + "/empty");
    {
        // `openssl ca` is the one that takes arbitrary validity dates.
        std::ofstream cnf(dir_ + "/ca.cnf");
        cnf << "[ca]\ndefault_ca = test\n[test]\ndatabase = index.txt\nnew_certs_dir = .\nserial = serial\n"
               "default_md = sha256\npolicy = any\nunique_subject = no\ncopy_extensions = none\n"
               "[any]\ncommonName = supplied\n";
        std::ofstream(dir_ + "/both.ext") << "subjectAltName = DNS:localhost, IP:127.0.0.1\n";
        std::ofstream(dir_ + "/other.ext") << "subjectAltName = DNS:mail.example.net\n";
    }
    const std::string ec = "-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes";
    Run(dir_, ": > index.txt && echo 01 > serial");
    for (const char* name : {"ca", "rogue"})
        Run(dir_, "openssl req -x509 " + ec + " -keyout " + name + ".key -out " + name +
                      ".pem -days 2 -subj '/CN=Boxsweeper test " + name + "'");
    auto issue = [&](const std::string& name, const std::string& issuer, const std::string& ext,
                     const std::string& dates) {
        Run(dir_,
            "openssl req -new " + ec + " -keyout " + name + ".key -out " + name + ".csr -subj '/CN=" + name + "'");
        Run(dir_, "openssl ca -batch -notext -config ca.cnf -cert " + issuer + ".pem -keyfile " + issuer + ".key -in " +
                      name + ".csr -out " + name + ".pem -extfile " + ext + " " + dates);
        return Pair{dir_ + "/" + name + ".pem", dir_ + "/" + name + ".key"};
    };
    server = issue("server", "ca", "both.ext", "-days 2");
    expired = issue("expired", "ca", "both.ext", "-startdate 20200101000000Z -enddate 20200201000000Z");
    otherName = issue("othername", "ca", "other.ext", "-days 2");
    untrusted = issue("untrusted", "rogue", "both.ext", "-days 2");
    ca = dir_ + "/ca.pem";
}

TestCertificates::~TestCertificates() {
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

void TestCertificates::TrustOnlyCa() const {
    ::setenv("SSL_CERT_FILE", ca.c_str(), 1);
    ::setenv("SSL_CERT_DIR", (dir_ + "/empty").c_str(), 1);
}

const TestCertificates& TrustedTestCertificates() {
    static TestCertificates certificates;
    static bool trusted = (certificates.TrustOnlyCa(), true);
    (void)trusted;
    return certificates;
}
