#pragma once

// Shared fixture for the session scenarios against scripted loopback servers.

#include "core/pop3_session.h"
#include "core/task_queue.h"
#include "support/recording_owner.h"
#include "support/script_server.h"

#include <gtest/gtest.h>

#include <chrono>
#include <initializer_list>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

// A tiny POP3 mailbox answered line by line; overrides replace the reply to
// an exact command line or, failing that, to every command with that verb.
struct ScriptedMailbox {
    std::vector<std::string> messages;              // full texts, lines ending in CR LF
    std::map<std::string, std::string> overrides;   // "" sends nothing
    std::set<std::string> closeAfter;               // command lines after whose reply the server hangs up

    std::string Respond(const std::string& line) const;
};

class SessionScript : public ::testing::Test {
protected:
    void SetUp() override;
    void MakeSession(std::chrono::milliseconds replyTimeout = std::chrono::seconds(20));
    void SetOptions(std::initializer_list<int> bits);

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

    TaskQueue queue;
    RecordingOwner owner;
    ScriptServer server;
    std::unique_ptr<Pop3Session> session;  // last: goes first
};

// The log equals expected, except that after the session itself closed the
// connection it may end with the empty raw text of the failed read and
// "Disconnected." (the order of those two against the close is the network's).
void ExpectLog(const std::vector<std::string>& log, const std::vector<std::string>& expected);
