#pragma once

#include <QApplication>

// The application object: titled "Boxsweeper", the window font set, and an
// exception escaping any handler shown in an error box instead of ending
// the program.
namespace application_detail {
// Runs before QApplication's constructor: the session waits for the window's
// event loop once per POP3 exchange, and Qt's own Unix event dispatcher
// wakes for a posted task far faster than the GLib one (10,000 headers take
// as long through the window as through the bare session, instead of 1.5
// times as long). QT_NO_GLIB set by the user is left as it is.
struct EventDispatcherChoice {
    EventDispatcherChoice();
};
}  // namespace application_detail

class BoxsweeperApplication : private application_detail::EventDispatcherChoice, public QApplication {
public:
    BoxsweeperApplication(int& argc, char** argv);

    bool notify(QObject* receiver, QEvent* event) override;

    // How many exceptions notify has caught (tests).
    int caughtExceptions() const { return caught_; }

private:
    int caught_ = 0;
};
