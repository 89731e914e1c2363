#include "ui/application.h"
#include "ui/main_form.h"

#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>
#include <csignal>

namespace {

int termPipe[2] = {-1, -1};

void OnTerm(int) {
    const char byte = 1;
    [[maybe_unused]] ssize_t n = ::write(termPipe[1], &byte, 1);
}

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
    form.show();
    return app.exec();
}
