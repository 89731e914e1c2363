#include "ui/session_log.h"

#include "platform/cp932.h"

#include <QLocale>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>

namespace {

bool WriteAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// mkdir -p with mode 0700 for what it creates.
bool MakeDirectories(const std::string& path) {
    for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
        const std::string part = path.substr(0, slash);
        if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) break;
    }
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

std::string WithSlash(std::string path) {
    if (path.empty() || path.back() != '/') path += '/';
    return path;
}

}  // namespace

std::string LogHeader(const char* version, const QDateTime& at) {
    const QLocale locale = QLocale::system();
    const QString stamp = locale.toString(at.date(), QLocale::ShortFormat) + QLatin1Char(' ') +
                          locale.toString(at.time(), QLocale::LongFormat);
    std::string header = "Program: Boxsweeper ";
    header += version;
    header += "\nDate: ";
    header += Utf8ToCp932(stamp.toStdString());
    header += "\n\n[Log]\n";
    return header;
}

bool IsBuildTree(const std::string& programDirectory) {
    if (programDirectory.empty()) return false;
    std::string dir = WithSlash(programDirectory);
    for (int up = 0; up < 3; ++up) {
        if (::access((dir + "CMakeCache.txt").c_str(), F_OK) == 0) return true;
        dir += "../";
    }
    return false;
}

std::string DefaultLogDirectory(const std::string& programDirectory) {
    if (IsBuildTree(programDirectory) && ::access(programDirectory.c_str(), W_OK | X_OK) == 0)
        return WithSlash(programDirectory);
    std::string base;
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && state[0] == '/') {
        base = state;
    } else if (const char* home = std::getenv("HOME"); home && home[0] == '/') {
        base = std::string(home) + "/.local/state";
    } else {
        return {};
    }
    const std::string dir = WithSlash(base) + "Boxsweeper";
    if (!MakeDirectories(dir) || ::access(dir.c_str(), W_OK | X_OK) != 0) return {};
    return dir + "/";
}

SessionLogFile::~SessionLogFile() {
    if (fd_ >= 0) ::close(fd_);
}

bool SessionLogFile::Start(const std::string& directory, const QDateTime& now) {
    if (fd_ >= 0 || directory.empty()) return false;
    directory_ = WithSlash(directory);
    const std::string stem = directory_ + "~Boxsweeper_" + now.toString(QStringLiteral("yyyyMMddHHmmss")).toStdString();
    for (int attempt = 1; attempt <= 100 && fd_ < 0; ++attempt) {
        path_ = stem;
        if (attempt > 1) path_.append("_").append(std::to_string(attempt));
        path_ += ".log";
        fd_ = ::open(path_.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd_ < 0 && errno != EEXIST) break;
    }
    if (fd_ < 0) {
        path_.clear();
        return false;
    }
    WriteAll(fd_, LogHeader(kProgramVersion, now));
    return true;
}

void SessionLogFile::Append(const std::string& text) {
    if (fd_ < 0) return;
    // One write per entry: nothing waits in a buffer of ours.
    std::string entry;
    entry.reserve(text.size() + 1);
    entry += text;
    entry += '\n';
    WriteAll(fd_, entry);
}

bool SessionLogFile::Finish() {
    if (fd_ < 0) return false;
    ::close(fd_);
    fd_ = -1;
    return ::rename(path_.c_str(), (directory_ + "Boxsweeper.log").c_str()) == 0;
}
