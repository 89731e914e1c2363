#pragma once

// Small helpers the benchmarks share: timing, a shell command's output,
// and Python's poplib fetching every header as the yardstick.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// User plus system time of this process so far.
inline double CpuSeconds() {
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

inline double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// The command's standard output without its trailing line ends.
inline std::string Run(const std::string& command) {
    std::string out;
    if (FILE* pipe = ::popen(command.c_str(), "r")) {
        char buf[4096];
        std::size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.append(buf, n);
        ::pclose(pipe);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
    return out;
}

// Seconds poplib takes to log in, LIST and TOP n 0 every message, and QUIT.
inline double Poplib(int port, const std::string& user, const std::string& password) {
    std::string script =
        "import poplib, time\n"
        "t = time.perf_counter()\n"
        "p = poplib.POP3('127.0.0.1', " +
        std::to_string(port) +
        ")\n"
        "p.user('" +
        user + "'); p.pass_('" + password +
        "')\n"
        "resp, lines, octets = p.list()\n"
        "for line in lines:\n"
        "    p.top(int(line.split()[0]), 0)\n"
        "p.quit()\n"
        "print(time.perf_counter() - t)\n";
    char path[] = "/tmp/bs-bench-poplib-XXXXXX";
    int fd = ::mkstemp(path);
    if (fd < 0) throw std::runtime_error("mkstemp");
    ::close(fd);
    {
        std::ofstream out(path);
        out << script;
    }
    std::string result = Run(std::string("/usr/bin/python3 ") + path);
    std::remove(path);
    if (result.empty()) throw std::runtime_error("poplib run failed");
    return std::atof(result.c_str());
}
