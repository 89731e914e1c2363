#pragma once

// Shared fixture for the session scenarios against scripted loopback servers.

#include "core/pop3_session.h"
#include "core/task_queue.h"
#include "support/recording_owner.h"
#include "support/script_server.h"
#include "support/scripted_mailbox.h"

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

class SessionScript : public ::testing::Test {
protected:
    void SetUp() override;
    void MakeSession(std::chrono::milliseconds replyTimeout = std::chrono::seconds(20));
    void SetOptions(std::initializer_list<int> bits);
    // For one more case in the same test: a fresh owner, received list and
    // session with only these bits set.
    void Restart(std::initializer_list<int> bits, std::chrono::milliseconds replyTimeout = std::chrono::seconds(20));

    // Serves the greeting, then answers from the mailbox until QUIT or close.
    void ServeMailbox(const std::string& greeting, const ScriptedMailbox& box);

    bool RunUntilState(SessionState state, std::chrono::milliseconds timeout = std::chrono::seconds(15));
    bool RunUntilIdle(std::chrono::milliseconds timeout = std::chrono::seconds(15));
    // Connects and waits for Ready.
    void ConnectToReady();
    // Disconnects from Ready, waits for Idle and for the script to end.
    void DisconnectAndFinish();

    // The server's received lines; read only after server.Join().
    std::vector<std::string> received;
    // What replies may grow to in the sessions MakeSession makes.
    LineFraming::Limits limits;

    TaskQueue queue;
    RecordingOwner owner;
    ScriptServer server;
    std::unique_ptr<Pop3Session> session;  // last: goes first
};

// The log equals expected, except that after the session itself closed the
// connection it may end with the empty raw text of the failed read and
// "Disconnected." (the order of those two against the close is the network's).
void ExpectLog(const std::vector<std::string>& log, const std::vector<std::string>& expected);
