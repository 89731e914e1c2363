#pragma once

// Shared by the session tests against real servers: a session driven by
// hand through a task queue, and the messages they store.

#include "core/pop3_session.h"
#include "core/task_queue.h"
#include "support/recording_owner.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

// A short ASCII message numbered n, CR LF line ends.
std::string AsciiMessage(int n);

struct JapaneseMessage {
    std::string text;  // as served, CR LF line ends
    std::vector<std::string> headerLines;
    std::string date, subject, sender;   // expected row texts, Shift_JIS
    std::vector<std::string> bodyLines;  // expected pane lines, Shift_JIS
};

// count messages with ISO-2022-JP encoded-word subjects and senders and
// ISO-2022-JP bodies, made with the system's iconv; every second subject
// starts with "Re: ".
std::vector<JapaneseMessage> JapaneseMessages(int count);

class LiveSession {
protected:
    // A fresh owner and session for user (password "pass") at host:port.
    void Configure(const std::string& user, const std::string& host, int port, std::initializer_list<int> bits);
    void ConnectToReady();
    void WaitForReady();
    // Disconnects from Ready and waits for Idle; no message box on the way.
    void Disconnect();

    TaskQueue queue;
    RecordingOwner owner;
    std::unique_ptr<Pop3Session> session;
};
