#pragma once

#include <QDateTime>

#include <string>

// The program version the run's log file names in its header, and the one
// a saved log names (saved logs have always said 0.30).
inline constexpr const char kProgramVersion[] = "0.33";
inline constexpr const char kSavedLogVersion[] = "0.30";

// The four header lines of a log file: "Program: Boxsweeper <version>",
// "Date: " with the local short date and long time, an empty line, "[Log]";
// each ends in "\n". Shift_JIS bytes.
std::string LogHeader(const char* version, const QDateTime& at);

// True when the program runs from the build tree it was built in: the
// directory or one of its two parents holds CMakeCache.txt.
bool IsBuildTree(const std::string& programDirectory);

// Where the run's log goes: the program's directory when the program runs
// from its build tree and the directory is writable, otherwise
// ${XDG_STATE_HOME:-$HOME/.local/state}/Boxsweeper/ (created). An installed
// program never writes beside itself, even when it could (as root).
// Ends in '/'; empty when neither can be used.
std::string DefaultLogDirectory(const std::string& programDirectory);

// The run's log file: ~Boxsweeper_yyyymmddhhmmss.log, written entry by
// entry, each entry reaching the file before Append returns, so the file
// survives an abnormal end. Finish renames it over Boxsweeper.log.
class SessionLogFile {
public:
    SessionLogFile() = default;
    ~SessionLogFile();
    SessionLogFile(const SessionLogFile&) = delete;
    SessionLogFile& operator=(const SessionLogFile&) = delete;

    // Creates the file in directory (ending in '/') and writes the header.
    // An existing file is never overwritten: a second run in the same
    // second gets "_2", "_3", ... before ".log". False when no file could
    // be created; Append then does nothing.
    bool Start(const std::string& directory, const QDateTime& now);
    // The text exactly as given, then "\n".
    void Append(const std::string& text);
    // Closes the file and renames it over Boxsweeper.log in one step; when
    // the rename fails both files stay. False when nothing was renamed.
    bool Finish();

    bool IsOpen() const { return fd_ >= 0; }
    const std::string& Path() const { return path_; }
    const std::string& Directory() const { return directory_; }

private:
    int fd_ = -1;
    std::string directory_;
    std::string path_;
};
