#include "ui_support.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QThread>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>

TempHome::TempHome() {
    char pattern[] = "/tmp/bs_ui_XXXXXX";
    if (!::mkdtemp(pattern)) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    std::filesystem::create_directories(path_ + "/config");
    std::filesystem::create_directories(path_ + "/logs");
    ::setenv("XDG_CONFIG_HOME", (path_ + "/config").c_str(), 1);
    ::setenv("XDG_STATE_HOME", (path_ + "/state").c_str(), 1);
}

TempHome::~TempHome() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

void Gate::Wait() {
    std::unique_lock<std::mutex> lock(mutex_);
    cv_.wait_for(lock, std::chrono::seconds(60), [this] { return open_; });
}

void Gate::Release() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        open_ = true;
    }
    cv_.notify_all();
}

Pop3Mailbox::Pop3Mailbox(std::vector<std::string> messages) : box_{std::move(messages), {}, {}} {}

Pop3Mailbox::~Pop3Mailbox() {
    for (auto& hold : holds_) hold.second->Release();
}

void Pop3Mailbox::Hold(const std::string& line, Gate& gate) {
    holds_.emplace_back(line, &gate);
}

std::vector<std::string> Pop3Mailbox::Received() {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void Pop3Mailbox::Serve() {
    server_.Join();
    server_.Serve([this](ScriptPeer& peer) {
        peer.Send("+OK ready\r\n");
        for (;;) {
            std::string line = peer.ReadLine(std::chrono::seconds(60));
            if (peer.Eof()) return;
            {
                std::lock_guard<std::mutex> lock(mutex_);
                received_.push_back(line);
            }
            for (auto& hold : holds_)
                if (hold.first == line) hold.second->Wait();
            peer.Send(box_.Respond(line));
            if (line == "QUIT") {
                peer.WaitForClose();
                return;
            }
        }
    });
}

std::string JapaneseMessage(const std::string& subjectB64, const std::string& fromB64, const std::string& date,
                            const std::string& body) {
    return "Date: " + date + "\r\nSubject: =?ISO-2022-JP?B?" + subjectB64 + "?=\r\nFrom: =?ISO-2022-JP?B?" + fromB64 +
           "?= <sender@example.jp>\r\nTo: user@example.jp\r\n\r\n" + body + "\r\n";
}

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

ModalHandler::ModalHandler(Mode mode) : mode_(mode) {
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || !modal->isVisible() || modal == last_.data()) return;
        auto* box = qobject_cast<QMessageBox*>(modal);
        if (Done() && !(box && mode_ == kAnswerEveryBox)) return;
        last_ = modal;
        seen.push_back(modal->windowTitle() + QLatin1Char('|') + (box ? box->text() : QString()));
        if (box)
            boxes.push_back({box->windowTitle(), box->text(), static_cast<int>(box->buttons().size()), box->icon(),
                             box->textFormat()});
        if (Done())
            box->done(QMessageBox::Ok);
        else
            handlers_[next_++](modal);
    });
    timer_.start(10);
}

void ClickOk(QWidget* box) {
    auto* message = qobject_cast<QMessageBox*>(box);
    if (message && message->button(QMessageBox::Ok))
        message->button(QMessageBox::Ok)->click();
    else if (auto* dialog = qobject_cast<QDialog*>(box))
        dialog->accept();
}

void CloseBox(QWidget* box) {
    box->close();
}

void Accept(QWidget* dialog) {
    qobject_cast<QDialog*>(dialog)->accept();
}

void Reject(QWidget* dialog) {
    qobject_cast<QDialog*>(dialog)->reject();
}

Account LoopbackAccount(const std::string& name, int port, std::initializer_list<int> bits) {
    Account account = DefaultAccount();
    account.name = name;
    account.popServer = "127.0.0.1";
    account.popPort = port;
    account.popUser = "user";
    account.popPassword = "pass";
    account.popOptions.FromNumber(0);
    account.popOptions.Set(POPSavePassword);
    for (int bit : bits) account.popOptions.Set(bit);
    return account;
}
