#pragma once

#include <QDialog>
#include <QString>

#include <chrono>

class QTimer;

// The modal box shown while the user signs in in the browser: a prompt and
// Cancel. It gives up by itself after five minutes (exec() then returns
// kTimedOut); whoever receives the browser's answer closes it with accept().
class OAuthWaitForm : public QDialog {
    Q_OBJECT
public:
    static constexpr int kTimedOut = 2;

    // note: a line above the prompt, empty for none.
    explicit OAuthWaitForm(QWidget* owner, const QString& note = {});

    // How long a minute lasts: BOXSWEEPER_MINUTE_SECONDS seconds when that
    // is a positive number (tests wait seconds), else 60 seconds.
    static std::chrono::milliseconds MinuteLength();

private:
    QTimer* limit_ = nullptr;
};
