#pragma once

// Helpers of the widget tests: a private settings and log directory, a
// POP3 mailbox served by a scripted loopback server with replies that can
// be held back, waiting on the event loop, and closing modal boxes.

#include "accounts/account.h"
#include "support/script_server.h"
#include "support/scripted_mailbox.h"

#include <QMessageBox>
#include <QPointer>
#include <QString>
#include <QTimer>
#include <QWidget>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <initializer_list>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

// Readable QStrings in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

// A temporary directory set as XDG_CONFIG_HOME and XDG_STATE_HOME, removed
// at the end.
class TempHome {
public:
    TempHome();
    ~TempHome();
    const std::string& path() const { return path_; }
    std::string logs() const { return path_ + "/logs/"; }

private:
    std::string path_;
};

// A reply held back until Release (or the end of the mailbox).
class Gate {
public:
    void Wait();
    void Release();

private:
    std::mutex mutex_;
    std::condition_variable cv_;
    bool open_ = false;
};

// A POP3 mailbox on a scripted loopback server; every command line it
// receives is kept. A command line listed in holds waits for its gate
// before it is answered.
class Pop3Mailbox {
public:
    explicit Pop3Mailbox(std::vector<std::string> messages);
    ~Pop3Mailbox();
    int port() const { return server_.port(); }
    void Hold(const std::string& line, Gate& gate);
    std::vector<std::string> Received();
    // Serves one connection (call before each Connect).
    void Serve();

private:
    ScriptedMailbox box_;
    std::vector<std::pair<std::string, Gate*>> holds_;
    std::mutex mutex_;
    std::vector<std::string> received_;
    ScriptServer server_;
};

// A message in CR LF lines with an ISO-2022-JP subject and sender given as
// the Base64 of their encoded words.
std::string JapaneseMessage(const std::string& subjectB64, const std::string& fromB64, const std::string& date,
                            const std::string& body);

// Runs the event loop until done() holds; false on time-out.
bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(20));

// Handles modal widgets from a timer as they appear: each in turn by the
// next handler given to Expect. Once those are used up, a message box is
// answered OK when made with kAnswerEveryBox, and otherwise left alone (for
// another handler). Every widget handled is recorded.
class ModalHandler {
public:
    enum Mode { kExpectedOnly, kAnswerEveryBox };
    struct Box {
        QString caption, text;
        int buttons = 0;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        Qt::TextFormat format = Qt::PlainText;  // the program's boxes never read markup
        friend bool operator==(const Box&, const Box&) = default;
    };
    using Handler = std::function<void(QWidget*)>;

    explicit ModalHandler(Mode mode = kExpectedOnly);
    explicit ModalHandler(std::initializer_list<Handler> handlers) : ModalHandler() { handlers_ = handlers; }
    void Expect(Handler handler) { handlers_.push_back(std::move(handler)); }
    bool Done() const { return next_ >= handlers_.size(); }
    std::vector<QString> seen;  // "title|text" of each modal handled
    std::vector<Box> boxes;     // the message boxes among them

private:
    Mode mode_;
    std::vector<Handler> handlers_;
    std::size_t next_ = 0;
    QPointer<QWidget> last_;
    QTimer timer_;
};

// Handlers for the common cases.
void ClickOk(QWidget* box);
void CloseBox(QWidget* box);
void Accept(QWidget* dialog);
void Reject(QWidget* dialog);

// An account for a test server on loopback, user "user", stored password "pass".
Account LoopbackAccount(const std::string& name, int port, std::initializer_list<int> bits);
