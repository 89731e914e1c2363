#include "support/dovecot.h"

#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::string RunCapture(const std::string& command) {
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) return out;
    char buf[256];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
    if (::pclose(pipe) != 0) return {};
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

std::string Script() {
    return std::string(BOXSWEEPER_SOURCE_DIR) + "/scripts/testserver";
}

}  // namespace

DovecotServer::DovecotServer() : DovecotServer("", "") {}

DovecotServer::DovecotServer(const std::string& certificate, const std::string& key)
    : DovecotServer(certificate, key, "") {}

DovecotServer::DovecotServer(const std::string& certificate, const std::string& key,
                             const std::string& introspectionUrl) {
    char templ[] = "/tmp/bs-dovecot-XXXXXX";
    if (!::mkdtemp(templ)) throw std::runtime_error("mkdtemp failed");
    dir_ = templ;
    std::string command = Script() + " start " + dir_;
    if (!certificate.empty()) command = Script() + " start-tls " + dir_ + " '" + certificate + "' '" + key + "'";
    if (!introspectionUrl.empty()) command += " '" + introspectionUrl + "'";
    std::string ports = RunCapture(command);
    if (ports.empty()) throw std::runtime_error("Dovecot did not start (is dovecot-pop3d installed?); see " + dir_);
    std::istringstream in(ports);
    in >> port_ >> tlsPort_;
    mailUser_ = RunCapture(Script() + " mailuser " + dir_);
}

DovecotServer::~DovecotServer() {
    RunCapture(Script() + " stop " + dir_);
    std::error_code ec;
    fs::remove_all(dir_, ec);
}

std::string DovecotServer::MailboxDir(const std::string& user) const {
    return dir_ + "/mail/" + user;
}

void DovecotServer::FixOwner(const std::string& path) const {
    if (::geteuid() != 0) return;
    passwd* pw = ::getpwnam(mailUser_.c_str());
    if (!pw) return;
    if (::chown(path.c_str(), pw->pw_uid, pw->pw_gid) != 0) {
        // Leave it; Dovecot will say so in its log.
    }
}

void DovecotServer::ClearMailbox(const std::string& user) {
    std::error_code ec;
    fs::remove_all(MailboxDir(user), ec);
}

void DovecotServer::AddMessage(const std::string& user, const std::string& message) {
    std::string box = MailboxDir(user);
    for (const char* sub : {"", "/cur", "/new", "/tmp"}) {
        std::string path = box + sub;
        fs::create_directories(path);
        FixOwner(path);
    }
    // Maildir stores LF line ends; Dovecot adds the CR on the wire.
    std::string stored;
    stored.reserve(message.size());
    for (size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '\r' && i + 1 < message.size() && message[i + 1] == '\n') continue;
        stored += message[i];
    }
    char name[64];
    std::snprintf(name, sizeof name, "%010d.M%dP%d.boxsweeper-test", 1000000000 + counter_, counter_,
                  static_cast<int>(::getpid()));
    ++counter_;
    std::string path = box + "/cur/" + name + ":2,";
    {
        std::ofstream out(path, std::ios::binary);
        out << stored;
    }
    FixOwner(path);
}

std::vector<std::string> DovecotServer::Messages(const std::string& user) const {
    std::vector<std::pair<std::string, std::string>> found;
    std::error_code ec;
    for (const char* sub : {"/cur", "/new"}) {
        for (const auto& entry : fs::directory_iterator(MailboxDir(user) + sub, ec)) {
            std::ifstream in(entry.path(), std::ios::binary);
            std::stringstream ss;
            ss << in.rdbuf();
            found.emplace_back(entry.path().filename().string(), ss.str());
        }
    }
    std::sort(found.begin(), found.end());
    std::vector<std::string> result;
    for (auto& f : found) result.push_back(std::move(f.second));
    return result;
}
