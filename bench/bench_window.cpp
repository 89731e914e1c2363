// The main window with 10,000 messages from Dovecot: Connect, USER/PASS,
// LIST and TOP n 0 for every message into the real window (offscreen
// platform, shown, with its log pane and the run's log file), then one sort
// by subject from the list's menu. For comparison the same exchanges run
// through the bare session (a recording owner on a task queue, as the
// session benchmark drives it), interleaved with the window's runs; and the
// window once more with the account applying a rule list of 200 rules.

#include "accounts/settings.h"
#include "bench_rules.h"
#include "bench_support.h"
#include "core/pop3_session.h"
#include "core/rules_store.h"
#include "core/task_queue.h"
#include "support/dovecot.h"
#include "support/recording_owner.h"
#include "ui/application.h"
#include "ui/main_form.h"

#include <QAction>
#include <QPushButton>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kMessages = 10000;
constexpr int kRuns = 5;

std::string Encoded(const char* utf8) {
    return Run(std::string("printf '%s' '") + utf8 + "' | iconv -f UTF-8 -t ISO-2022-JP | base64 -w0");
}

// Varied subjects, so that the sort has work to do.
std::vector<std::string> MakeMessages() {
    const char* const subjects[] = {"来週の打ち合わせの日程について",
                                    "見積書の送付",
                                    "忘年会のご案内",
                                    "議事録",
                                    "請求書発行のお願い",
                                    "新製品のご紹介",
                                    "出張の件",
                                    "週報の提出について"};
    std::vector<std::string> encoded;
    for (const char* s : subjects) encoded.push_back(Encoded(s));
    const std::string sender = Encoded("山田太郎");
    std::vector<std::string> messages;
    messages.reserve(kMessages);
    for (int i = 1; i <= kMessages; ++i) {
        const std::string n = std::to_string(i);
        std::string m =
            "Received: from mail.example.jp (mail.example.jp [192.0.2.1])\r\n\tby mx.example.jp with ESMTP id " + n +
            "\r\n\tfor <user@example.jp>; Mon, 7 Dec 2026 10:00:00 +0900\r\n";
        m += "Message-ID: <" + n + ".bench@example.jp>\r\n";
        m += "From: =?ISO-2022-JP?B?" + sender + "?= <yamada" + n + "@example.jp>\r\n";
        m += "To: user@example.jp\r\n";
        m += "Subject: =?ISO-2022-JP?B?" + encoded[static_cast<std::size_t>((i * 7919) % 8)] + "?= (" +
             std::to_string((i * 7919) % 10007) + ")\r\n";
        m += "Date: Mon, 7 Dec 2026 10:00:00 +0900\r\n\r\nbody\r\n";
        messages.push_back(std::move(m));
    }
    return messages;
}

Account BenchAccount(int port, bool rules = false) {
    Account account = DefaultAccount();
    account.name = "bench";
    account.popServer = "127.0.0.1";
    account.popPort = port;
    account.popUser = "user";
    account.popPassword = "pass";
    account.popOptions.FromNumber(0);
    for (int bit : {POPReadHeader, POPSavePassword, POPAuthBasic, POPUseTop}) account.popOptions.Set(bit);
    if (rules) account.popOptions.Set(POPApplyRules);
    return account;
}

bool Pump(const std::function<bool()>& done, std::chrono::seconds timeout = std::chrono::seconds(300)) {
    // Sleeps in the event loop as the program does (a timer bounds each
    // wait); spinning here would take a CPU from the connection's thread.
    QTimer tick;
    tick.start(100);
    const auto deadline = Clock::now() + timeout;
    while (!done()) {
        if (Clock::now() > deadline) return false;
        QApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    }
    return true;
}

struct WindowRun {
    double list = 0;
    double sort = 0;
    int rows = 0;
    int junk = 0;  // rows the rules marked
};

WindowRun RunWindow(const std::string& logDir) {
    TMainForm::Options options;
    options.logDirectory = logDir;
    TMainForm form(options);
    if (!form.FormCreate()) throw std::runtime_error("window start-up failed");
    form.show();
    QApplication::processEvents();
    WindowRun run;
    const auto start = Clock::now();
    form.findChild<QPushButton*>(QStringLiteral("ConnectButton"))->click();
    if (!Pump([&] { return form.Session().State() == SessionState::Ready; }))
        throw std::runtime_error("window: no complete list");
    QApplication::processEvents();  // the last rows painted, the pane updated
    run.list = Seconds(Clock::now() - start);
    run.rows = form.RowCount();
    for (std::size_t i = 0; i < form.Session().Mailbox().Count(); ++i)
        run.junk += (form.Session().Mailbox().Flags(i) & kMarkJunk) != 0;

    const auto sortStart = Clock::now();
    form.findChild<QAction*>(QStringLiteral("SortByTitle"))->trigger();
    QApplication::processEvents();
    run.sort = Seconds(Clock::now() - sortStart);

    form.findChild<QPushButton*>(QStringLiteral("DisconnectButton"))->click();
    if (!Pump([&] { return !form.Session().IsConnectionOpen(); })) throw std::runtime_error("window: no QUIT");
    form.close();
    return run;
}

double RunSession(int port) {
    TaskQueue queue;
    RecordingOwner owner;
    owner.account = BenchAccount(port);
    Pop3Session session(owner, queue.Dispatcher());
    const auto start = Clock::now();
    session.ConnectButtonClick();
    if (!queue.RunUntil([&] { return session.State() == SessionState::Ready; }, std::chrono::seconds(300)))
        throw std::runtime_error("session: no complete list");
    const double seconds = Seconds(Clock::now() - start);
    session.DisconnectButtonClick();
    queue.RunUntil([&] { return !session.IsConnectionOpen(); }, std::chrono::seconds(30));
    return seconds;
}

}  // namespace

int main(int argc, char** argv) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    char home[] = "/tmp/bs-bench-window-XXXXXX";
    if (!::mkdtemp(home)) return 1;
    const std::string dir = home;
    ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    std::filesystem::create_directories(dir + "/logs");
    int status = 0;
    try {
        BoxsweeperApplication app(argc, argv);
        DovecotServer dovecot;
        std::printf("filling a Dovecot mailbox with %d messages...\n", kMessages);
        for (const std::string& m : MakeMessages()) dovecot.AddMessage("user", m);
        if (!SaveSettings({BenchAccount(dovecot.port())})) throw std::runtime_error("cannot store the account");

        // One rule that does match, to show the rules ran.
        if (!SaveRuleFile(RuleFile::Parse(BenchRulesText() + "junk\tbench\tfrom-address\tis\tyamada7@example.jp\n")))
            throw std::runtime_error("cannot store the rules");
        std::vector<double> window, session, sort, ratio, rulesRatio, rulesCpuRatio;
        int rows = 0;
        for (int i = 0; i < kRuns; ++i) {
            const double cpu0 = CpuSeconds();
            const double s = RunSession(dovecot.port());
            const double cpu1 = CpuSeconds();
            const WindowRun w = RunWindow(dir + "/logs/");
            const double cpu2 = CpuSeconds();
            if (!SaveSettings({BenchAccount(dovecot.port(), true)}))
                throw std::runtime_error("cannot store the account");
            const WindowRun ruled = RunWindow(dir + "/logs/");
            const double cpu3 = CpuSeconds();
            if (!SaveSettings({BenchAccount(dovecot.port())})) throw std::runtime_error("cannot store the account");
            std::printf("run %d: window with 200 rules %.3f s (CPU %.3f s, %d rows, %d junk)\n", i + 1, ruled.list,
                        cpu3 - cpu2, ruled.rows, ruled.junk);
            rulesRatio.push_back(ruled.list / w.list);
            rulesCpuRatio.push_back((cpu3 - cpu2) / (cpu2 - cpu1));
            std::printf(
                "run %d: session %.3f s (CPU %.3f s), window %.3f s (CPU %.3f s, %d rows), sort by subject %.1f ms\n",
                i + 1, s, cpu1 - cpu0, w.list, cpu2 - cpu1, w.rows, w.sort * 1000);
            session.push_back(s);
            window.push_back(w.list);
            sort.push_back(w.sort);
            ratio.push_back(w.list / s);
            rows = w.rows;
        }
        rusage usage{};
        ::getrusage(RUSAGE_SELF, &usage);
        const double peakMb = static_cast<double>(usage.ru_maxrss) / 1024.0;
        const double r = Median(ratio), sortMs = Median(sort) * 1000, rr = Median(rulesRatio);
        std::printf("%d rows; medians of %d interleaved runs:\n", rows, kRuns);
        std::printf("  time to a complete list: window %.3f s, session alone %.3f s\n", Median(window),
                    Median(session));
        std::printf("  window / session %.3f  (median of the runs' ratios; target <= 1.3)\n", r);
        std::printf("  sort by subject %.1f ms  (target < 300 ms)\n", sortMs);
        std::printf("  window with 200 rules / without %.3f  (median of the runs' ratios; target < 1.10), CPU %.3f\n",
                    rr, Median(rulesCpuRatio));
        std::printf("  peak memory (resident, whole process) %.1f MB  (target < 200 MB)\n", peakMb);
        const bool ok = rows == kMessages && r <= 1.3 && sortMs < 300 && peakMb < 200 && rr < 1.10;
        std::printf("%s\n", ok ? "all targets met" : "TARGET MISSED");
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_window: %s\n", e.what());
        status = 1;
    }
    std::filesystem::remove_all(dir);
    return status;
}
