#include "ui/application.h"
#include "ui/main_form.h"

#include <QEvent>
#include <QSocketNotifier>
#include <QTimer>

#include <fcntl.h>
#include <unistd.h>
#include <cinttypes>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace {

int termPipe[2] = {-1, -1};

void OnTerm(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(termPipe[1], &byte, 1);
}

// With BOXSWEEPER_EXIT_WHEN_SHOWN set, the first paint of the window
// prints the monotonic clock in nanoseconds ("shown N") and closes the
// window as its close box does: how the start-up benchmark sees the window
// come up. Nothing else changes.
class ShownProbe : public QObject {
public:
    explicit ShownProbe(TMainForm& form) : QObject(&form), form_(form) { qApp->installEventFilter(this); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (!seen_ && event->type() == QEvent::Paint && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->window() == &form_) {
            seen_ = true;
            // Once this paint pass, the whole window, has been flushed.
            QTimer::singleShot(0, &form_, [this] {
                timespec now{};
                ::clock_gettime(CLOCK_MONOTONIC, &now);
                std::printf("shown %" PRId64 "\n", static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec);
                std::fflush(stdout);
                if (form_.close()) QApplication::quit();
            });
        }
        return false;
    }

private:
    TMainForm& form_;
    bool seen_ = false;
};

}  // namespace

int main(int argc, char** argv) {
    BoxsweeperApplication app(argc, argv);
    TMainForm form;
    if (!form.FormCreate()) return 0;  // the first-run box was closed: nothing is saved

    // TERM and INT close the window as its close box does, so the accounts
    // are saved and the run's log gets its final name.
    if (::pipe2(termPipe, O_CLOEXEC | O_NONBLOCK) == 0) {
        auto* notifier = new QSocketNotifier(termPipe[0], QSocketNotifier::Read, &form);
        QObject::connect(notifier, &QSocketNotifier::activated, &form, [&form] {
            char buffer[16];
            while (::read(termPipe[0], buffer, sizeof buffer) > 0) {
            }
            if (form.close()) QApplication::quit();
        });
        struct sigaction action {};
        action.sa_handler = OnTerm;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGTERM, &action, nullptr);
        ::sigaction(SIGINT, &action, nullptr);
    }
    if (std::getenv("BOXSWEEPER_EXIT_WHEN_SHOWN")) new ShownProbe(form);
    form.show();
    return app.exec();
}
