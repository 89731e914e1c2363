#pragma once

// The common part of the RETR benchmarks: one 50 MB message retrieved from
// a loopback Dovecot with our connection and framing (USER, PASS, RETR 1,
// QUIT) and with curl; prints both wall times, their ratio and our peak
// memory.

#include "bench_support.h"
#include "core/server_connection.h"
#include "core/task_queue.h"
#include "support/dovecot.h"

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace retr_bench {

inline constexpr std::size_t kMessageSize = 50u << 20;

inline std::string BuildMessage() {
    std::string m =
        "From: sender@example.com\r\nTo: user@example.com\r\nSubject: bench\r\n"
        "Date: Tue, 8 Dec 2026 00:00:00 +0900\r\n\r\n";
    m.reserve(kMessageSize + 200);
    const std::string words = "the quick brown fox jumps over the lazy dog while POP3 streams bytes ";
    for (std::size_t i = 0; m.size() < kMessageSize; ++i) {
        std::size_t len = 60 + i % 20;
        std::string line = (i % 13 == 0 ? "." : "") + words.substr(i % 17, len - 10) + std::to_string(i);
        if (i % 101 == 0) line = ".";  // a lone dot inside the body
        m += line.substr(0, std::min(line.size(), len));
        m += "\r\n";
    }
    return m;
}

struct Dialogue {
    ServerConnection* connection = nullptr;
    int step = 0;
    std::size_t messageBytes = 0;
    bool done = false;
    bool failed = false;

    static void Handle(void* self, ConnectionEvent e, const std::string& text) {
        auto* d = static_cast<Dialogue*>(self);
        if (e == ConnectionEvent::CertificateRejected || e == ConnectionEvent::TlsFailed) {
            std::fprintf(stderr, "TLS failed: %s\n", text.c_str());
            d->failed = true;
        }
        if (e == ConnectionEvent::Error || e == ConnectionEvent::Closed || e == ConnectionEvent::CertificateRejected ||
            e == ConnectionEvent::TlsFailed) {
            d->done = true;
            return;
        }
        if (e != ConnectionEvent::Reply) return;
        if (text.rfind("-ERR", 0) == 0) d->failed = true;
        switch (d->step++) {
            case 0:
                d->Command("USER user\r\n", "\r\n");
                break;
            case 1:
                d->Command("PASS pass\r\n", "\r\n");
                break;
            case 2:
                d->Command("RETR 1\r\n", "\r\n.\r\n");
                break;
            case 3:
                d->messageBytes = text.size();
                d->Command("QUIT\r\n", "\r\n");
                break;
            default:
                d->connection->Close();
                break;
        }
    }
    void Command(const char* line, const char* terminator) {
        connection->SetTerminator(terminator);
        connection->Send(line);
    }
};

inline double RunOurs(int port, ServerConnection::Security security, std::size_t& bytes) {
    TaskQueue queue;
    ServerConnection connection(queue.Dispatcher());
    Dialogue dialogue;
    dialogue.connection = &connection;
    connection.SetOwner(&Dialogue::Handle, &dialogue);
    connection.SetTerminator("\r\n");
    auto start = std::chrono::steady_clock::now();
    if (!connection.Open("127.0.0.1", port, security)) return -1;
    queue.RunUntil([&] { return dialogue.done; }, std::chrono::minutes(5));
    auto elapsed = std::chrono::steady_clock::now() - start;
    bytes = dialogue.messageBytes;
    if (dialogue.failed || dialogue.step < 4) return -1;
    return Seconds(elapsed);
}

inline double RunCurl(const std::string& url) {
    std::string command = "curl -s -o /dev/null " + url;
    auto start = std::chrono::steady_clock::now();
    int rc = std::system(command.c_str());
    auto elapsed = std::chrono::steady_clock::now() - start;
    return rc == 0 ? Seconds(elapsed) : -1;
}

inline long PeakKiB() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace retr_bench

// Runs the benchmark against a Dovecot at port, our side with security and
// curl with curlUrl (the URL of message 1, with any options before it).
inline int RunRetrBench(int argc, char** argv, DovecotServer& dovecot, int port, ServerConnection::Security security,
                        const std::string& curlUrl) {
    using namespace retr_bench;
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    // The message is built in a child so that its copies do not count in
    // our peak memory.
    pid_t child = ::fork();
    if (child == 0) {
        dovecot.AddMessage("user", BuildMessage());
        std::fflush(nullptr);
        ::_exit(0);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "could not store the message\n");
        return 1;
    }

    RunCurl(curlUrl);  // warms Dovecot's index and the page cache
    std::vector<double> ours, curls;
    std::size_t bytes = 0;
    long peak = 0;
    for (int i = 0; i < rounds; ++i) {
        double cpu = CpuSeconds();
        ours.push_back(RunOurs(port, security, bytes));
        cpu = CpuSeconds() - cpu;
        peak = PeakKiB();  // ours, measured before curl runs again
        curls.push_back(RunCurl(curlUrl));
        std::printf("round %d: ours %.3f s (%.3f s of CPU), curl %.3f s\n", i + 1, ours.back(), cpu, curls.back());
    }
    if (*std::min_element(ours.begin(), ours.end()) < 0 || *std::min_element(curls.begin(), curls.end()) < 0) {
        std::fprintf(stderr, "a retrieval failed\n");
        return 1;
    }
    double bestOurs = *std::min_element(ours.begin(), ours.end());
    double bestCurl = *std::min_element(curls.begin(), curls.end());
    double peakMiB = static_cast<double>(peak) / 1024.0;
    double messageMiB = static_cast<double>(kMessageSize) / (1024.0 * 1024.0);
    std::printf("message: %.1f MiB stored, %zu bytes in the RETR reply\n", messageMiB, bytes);
    std::printf("ours: %.3f s   curl: %.3f s   ratio: %.2f (target <= 1.30)\n", bestOurs, bestCurl,
                bestOurs / bestCurl);
    std::printf("peak memory: %.1f MiB = %.2f x message (target < 3)\n", peakMiB, peakMiB / messageMiB);
    return 0;
}
