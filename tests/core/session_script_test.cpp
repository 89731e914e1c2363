#include "session_script_support.h"

#include "core/session_apop.h"
#include "texts/texts.h"

#include <algorithm>
#include <atomic>

namespace {

using namespace std::chrono_literals;

std::string Message(const std::string& subject, const std::string& body = "Hello.\r\n") {
    return "From: someone@example.com\r\nSubject: " + subject + "\r\nDate: Mon, 7 Dec 2026 10:00:00 +0900\r\n\r\n" +
           body;
}

ScriptedMailbox ThreeMessages() {
    ScriptedMailbox box;
    box.messages = {Message("one"), Message("two"), Message("three")};
    return box;
}

TEST_F(SessionScript, StatePathHoldsTheLastStatesPassedThrough) {
    SetOptions({POPAuthBasic, POPReadHeader, POPUseTop});
    MakeSession();
    ServeMailbox("+OK ready\r\n", ThreeMessages());
    ConnectToReady();
    DisconnectAndFinish();
    EXPECT_EQ(SessionStatePathText(session->StatePath()),
              "Greeting > UserSent > PassSent > ListSent > TopSent > TopSent > TopSent > Ready > QuitSent > Idle");
    EXPECT_EQ(SessionStateName(static_cast<SessionState>(2)), "State2");

    Restart({POPAuthBasic, POPReadHeader, POPUseTop});
    ScriptedMailbox many;
    many.messages.assign(40, Message("many"));
    ServeMailbox("+OK ready\r\n", many);
    ConnectToReady();
    const std::vector<SessionState> path = session->StatePath();
    ASSERT_EQ(path.size(), Pop3Session::kStatePathLength);
    EXPECT_EQ(path.back(), SessionState::Ready);
    EXPECT_EQ(std::count(path.begin(), path.end(), SessionState::TopSent), 31);
    DisconnectAndFinish();
    EXPECT_EQ(session->StatePath().size(), Pop3Session::kStatePathLength);
    EXPECT_EQ(session->StatePath().back(), SessionState::Idle);
}

TEST_F(SessionScript, BareOkRepliesWorkForUserPassAndMaskThePassword) {
    SetOptions({POPAuthAuto, POPReadHeader, POPUseTop});
    MakeSession();
    ScriptedMailbox box;
    box.overrides = {{"USER", "+OK\r\n"}, {"PASS", "+OK\r\n"}, {"LIST", "+OK\r\n.\r\n"}, {"QUIT", "+OK\r\n"}};
    ServeMailbox("+OK\r\n", box);

    ConnectToReady();
    EXPECT_EQ(session->MessageCount(), 0);
    EXPECT_TRUE(owner.rows.empty());
    // The automatic choice found no timestamp and recorded USER/PASS.
    EXPECT_TRUE(owner.account.popOptions.Test(POPAuthBasic));
    EXPECT_FALSE(owner.account.popOptions.Test(POPAuthAPOP));
    EXPECT_TRUE(owner.account.popOptions.Test(POPAuthAuto));
    EXPECT_EQ(owner.buttons, (SessionOwner::ButtonStates{false, true, false, false, true}));
    DisconnectAndFinish();

    EXPECT_EQ(received, (std::vector<std::string>{"USER alice", "PASS s3cret", "LIST", "QUIT"}));
    ExpectLog(owner.log, {"+OK\r\n", "USER alice\r\n", "+OK\r\n", "PASS ********", "+OK\r\n", "LIST\r\n",
                          "+OK\r\n.\r\n", "QUIT\r\n", "+OK\r\n"});
    for (const std::string& entry : owner.log) EXPECT_EQ(entry.find("s3cret"), std::string::npos);
    EXPECT_TRUE(owner.messages.empty());
    EXPECT_EQ(owner.buttons, (SessionOwner::ButtonStates{true, false, false, false, true}));
}

TEST_F(SessionScript, ApopAnsweredWithBareOkFails) {
    SetOptions({POPAuthAPOP});
    owner.account.popUser = "mrose";
    owner.account.popPassword = "tanstaaf";
    MakeSession();
    ScriptedMailbox box;
    box.overrides = {{"APOP", "+OK\r\n"}};
    ServeMailbox("+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n", box);

    session->ConnectButtonClick();
    ASSERT_TRUE(RunUntilIdle());
    server.Join();
    // The digest of RFC 1939's example.
    EXPECT_EQ(received, std::vector<std::string>{"APOP mrose c4c9334bac560ecc979e58001b3e22fb"});
    EXPECT_EQ(owner.messages, std::vector<std::string>{texts::Cp932(texts::pop3::kApopFailed)});
    ExpectLog(owner.log,
              {"+OK POP3 server ready <1896.697170952@dbc.mtview.ca.us>\r\n", "APOP mrose ********", "+OK\r\n"});
}

TEST_F(SessionScript, ApopChosenByHandWithoutTimestampNeverSendsThePassword) {
    SetOptions({POPAuthAPOP});
    MakeSession();
    ServeMailbox("+OK hello\r\n", ScriptedMailbox{});

    session->ConnectButtonClick();
    ASSERT_TRUE(RunUntilIdle());
    server.Join();
    EXPECT_TRUE(received.empty());
    EXPECT_EQ(owner.messages, std::vector<std::string>{texts::Cp932(texts::pop3::kApopFailed)});
    ExpectLog(owner.log, {"+OK hello\r\n"});
    // A greeting with a stamp under the automatic mode sends APOP instead.
}

TEST_F(SessionScript, AutomaticModeChoosesApopFromTimestamp) {
    SetOptions({POPAuthAuto, POPAuthBasic});
    MakeSession();
    ScriptedMailbox box = ThreeMessages();
    box.overrides = {{"APOP", "+OK Logged in.\r\n"}};
    ServeMailbox("+OK ready <1.2@host> Dovecot\r\n", box);

    ConnectToReady();
    EXPECT_TRUE(owner.account.popOptions.Test(POPAuthAPOP));
    EXPECT_FALSE(owner.account.popOptions.Test(POPAuthBasic));
    EXPECT_EQ(owner.Captions(), (std::vector<std::string>{"1", "2", "3"}));
    DisconnectAndFinish();
    ASSERT_FALSE(received.empty());
    // The timestamp ends at its ">": the text after it is not digested.
    EXPECT_EQ(received[0], "APOP alice " + ApopDigest("<1.2@host>", "s3cret"));
}

TEST_F(SessionScript, TopRefusedFallsBackToRetrForEveryRow) {
    SetOptions({POPAuthBasic, POPReadHeader, POPUseTop});
    MakeSession();
    ScriptedMailbox box = ThreeMessages();
    box.overrides = {{"TOP", "-ERR Unknown command.\r\n"}};
    ServeMailbox("+OK hi\r\n", box);

    ConnectToReady();
    EXPECT_FALSE(owner.account.popOptions.Test(POPUseTop));
    ASSERT_EQ(owner.rows.size(), 3u);
    const char* subjects[] = {"one", "two", "three"};
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(owner.rows[i].subItems.size(), 4u);
        EXPECT_EQ(owner.rows[i].subItems[2], subjects[i]);
        EXPECT_EQ(owner.rows[i].subItems[3], "someone@example.com");
    }
    DisconnectAndFinish();
    EXPECT_EQ(received, (std::vector<std::string>{"USER alice", "PASS s3cret", "LIST", "TOP 1 0", "RETR 1", "RETR 2",
                                                  "RETR 3", "QUIT"}));
}

TEST_F(SessionScript, ListingsWithoutMessagesGiveNoRows) {
    struct Case {
        const char* name;
        std::string reply;
    };
    const Case cases[] = {
        {"count zero", "+OK 0 messages:\r\n.\r\n"},
        {"count zero with lines", "+OK 0 messages:\r\n1 100\r\n.\r\n"},
        {"no number", "+OK here they are\r\n1 100\r\n2 200\r\n.\r\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restart({POPAuthBasic, POPReadHeader, POPUseTop});
        ScriptedMailbox box;
        box.overrides = {{"LIST", c.reply}};
        ServeMailbox("+OK hi\r\n", box);
        ConnectToReady();
        EXPECT_EQ(session->MessageCount(), 0);
        EXPECT_TRUE(owner.rows.empty());
        DisconnectAndFinish();
        EXPECT_EQ(received, (std::vector<std::string>{"USER alice", "PASS s3cret", "LIST", "QUIT"}));
    }
}

TEST_F(SessionScript, ListLinesWithoutTwoNumbersAreSkipped) {
    SetOptions({POPAuthBasic});
    MakeSession();
    ScriptedMailbox box;
    box.overrides = {{"LIST", "+OK 4 messages:\r\n1 120\r\n2\r\nthree 300\r\n4 0400\r\n.\r\n"}};
    ServeMailbox("+OK hi\r\n", box);
    ConnectToReady();
    EXPECT_EQ(session->MessageCount(), 4);
    ASSERT_EQ(owner.rows.size(), 2u);
    EXPECT_EQ(owner.rows[0].number, "1");
    EXPECT_EQ(owner.rows[0].subItems, std::vector<std::string>{"120"});
    EXPECT_EQ(owner.rows[1].number, "4");
    EXPECT_EQ(owner.rows[1].subItems, std::vector<std::string>{"400"});
    DisconnectAndFinish();
}

TEST_F(SessionScript, NegativeHeaderRetrStopsTheFetch) {
    SetOptions({POPAuthBasic, POPReadHeader});
    MakeSession();
    ScriptedMailbox box = ThreeMessages();
    box.overrides = {{"RETR 2", "-ERR gone\r\n"}};
    ServeMailbox("+OK hi\r\n", box);
    ConnectToReady();
    ASSERT_EQ(owner.rows.size(), 3u);
    EXPECT_EQ(owner.rows[0].subItems.size(), 4u);
    EXPECT_EQ(owner.rows[1].subItems.size(), 1u);
    EXPECT_EQ(owner.rows[2].subItems.size(), 1u);
    DisconnectAndFinish();
    EXPECT_EQ(received, (std::vector<std::string>{"USER alice", "PASS s3cret", "LIST", "RETR 1", "RETR 2", "QUIT"}));
}

TEST_F(SessionScript, DeleteSelectsTheFollowingRow) {
    struct Case {
        const char* name;
        std::initializer_list<int> selection;
        std::vector<std::string> deleted;
        std::vector<std::string> remaining;
        std::vector<int> selectedAfter;
    };
    const Case cases[] = {
        {"three in the middle", {1, 2, 3}, {"2", "3", "4"}, {"1", "5"}, {1}},
        {"scattered", {0, 2}, {"1", "3"}, {"2", "4", "5"}, {0}},
        {"last row", {4}, {"5"}, {"1", "2", "3", "4"}, {3}},
        {"second to last", {3}, {"4"}, {"1", "2", "3", "5"}, {3}},
        {"all", {0, 1, 2, 3, 4}, {"1", "2", "3", "4", "5"}, {}, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restart({POPAuthBasic});
        ScriptedMailbox box;
        box.messages = {Message("a"), Message("b"), Message("c"), Message("d"), Message("e")};
        ServeMailbox("+OK hi\r\n", box);
        ConnectToReady();
        owner.body = {"old text"};
        owner.SelectOnly(c.selection);
        session->UpdateButtons();
        EXPECT_TRUE(owner.buttons.remove);
        owner.Delete(*session);
        EXPECT_EQ(owner.buttons, (SessionOwner::ButtonStates{false, true, false, false, true}));
        ASSERT_TRUE(RunUntilState(SessionState::Ready));
        EXPECT_EQ(owner.Captions(), c.remaining);
        EXPECT_EQ(owner.SelectedRows(), c.selectedAfter);
        EXPECT_TRUE(owner.body.empty());
        DisconnectAndFinish();
        std::vector<std::string> expected = {"USER alice", "PASS s3cret", "LIST"};
        for (const std::string& n : c.deleted) expected.push_back("DELE " + n);
        expected.push_back("QUIT");
        EXPECT_EQ(received, expected);
    }
}

TEST_F(SessionScript, DeleRefusedMidwayStopsAtThatRow) {
    MakeSession();
    ScriptedMailbox box;
    box.messages = {Message("a"), Message("b"), Message("c"), Message("d")};
    box.overrides = {{"DELE 2", "-ERR cannot\r\n"}};
    ServeMailbox("+OK hi\r\n", box);
    ConnectToReady();
    owner.body = {"kept"};
    owner.SelectOnly({0, 1, 2});
    owner.Delete(*session);
    ASSERT_TRUE(RunUntilState(SessionState::Ready));
    EXPECT_EQ(owner.Captions(), (std::vector<std::string>{"2", "3", "4"}));
    EXPECT_EQ(owner.SelectedRows(), (std::vector<int>{0, 1}));
    EXPECT_EQ(owner.body, std::vector<std::string>{"kept"});
    EXPECT_TRUE(owner.messages.empty());
    DisconnectAndFinish();
    EXPECT_EQ(received, (std::vector<std::string>{"USER alice", "PASS s3cret", "LIST", "DELE 1", "DELE 2", "QUIT"}));
}

TEST_F(SessionScript, DeleteTakesTheRowsSelectedAtThePress) {
    MakeSession();
    ScriptedMailbox box;
    box.messages = {Message("a"), Message("b"), Message("c")};
    ServeMailbox("+OK hi\r\n", box);
    ConnectToReady();
    owner.SelectOnly({0});
    owner.Delete(*session);
    // The user clicks another row before the reply arrives: it is not deleted.
    owner.SelectOnly({2});
    ASSERT_TRUE(RunUntilState(SessionState::Ready));
    EXPECT_EQ(owner.Captions(), (std::vector<std::string>{"2", "3"}));
    EXPECT_EQ(owner.SelectedRows(), std::vector<int>{0});
    DisconnectAndFinish();
    EXPECT_EQ(received, (std::vector<std::string>{"USER alice", "PASS s3cret", "LIST", "DELE 1", "QUIT"}));
}

TEST_F(SessionScript, ReadShowsBodyWithAndWithoutHeader) {
    for (bool withHeader : {false, true}) {
        SCOPED_TRACE(withHeader);
        Restart(withHeader ? std::initializer_list<int>{POPAuthBasic, POPHeaderWithBody}
                           : std::initializer_list<int>{POPAuthBasic});
        ScriptedMailbox box;
        box.messages = {Message("first"), "Subject: second\r\n\r\nline 1\r\n.dot\r\n"};
        box.overrides = {{"RETR 1", "-ERR locked\r\n"}};
        ServeMailbox("+OK hi\r\n", box);
        ConnectToReady();

        owner.SelectOnly({1});
        owner.Read(*session);
        ASSERT_TRUE(RunUntilState(SessionState::Ready));
        EXPECT_EQ(owner.rows[1].subItems.size(), 4u);
        EXPECT_EQ(owner.rows[1].subItems[2], "second");
        std::vector<std::string> expected;
        if (withHeader) expected = {"33 octets", "Subject: second", " "};
        for (const char* line : {"line 1", "..dot"}) expected.push_back(line);
        EXPECT_EQ(owner.body, expected);

        // A refused RETR leaves the pane as it was.
        owner.SelectOnly({0});
        owner.Read(*session);
        ASSERT_TRUE(RunUntilState(SessionState::Ready));
        EXPECT_EQ(owner.body, expected);
        EXPECT_EQ(owner.rows[0].subItems.size(), 1u);
        DisconnectAndFinish();
        EXPECT_EQ(received,
                  (std::vector<std::string>{"USER alice", "PASS s3cret", "LIST", "RETR 2", "RETR 1", "QUIT"}));
    }
}

TEST_F(SessionScript, ServerClosingMidReplyRemovesRows) {
    SetOptions({POPAuthBasic, POPReadHeader, POPUseTop});
    MakeSession();
    ScriptedMailbox box = ThreeMessages();
    box.overrides = {{"TOP 2 0", "+OK\r\nSubject: half"}};
    box.closeAfter = {"TOP 2 0"};
    ServeMailbox("+OK hi\r\n", box);

    session->ConnectButtonClick();
    ASSERT_TRUE(queue.RunUntil([&] { return owner.rows.size() == 3; }));
    ASSERT_TRUE(RunUntilIdle());
    server.Join();
    EXPECT_TRUE(owner.rows.empty());
    EXPECT_TRUE(owner.messages.empty());
    ASSERT_GE(owner.log.size(), 3u);
    EXPECT_EQ(owner.log[owner.log.size() - 3], "+OK\r\nSubject: half");
    EXPECT_EQ(owner.log[owner.log.size() - 2], "");
    EXPECT_EQ(owner.log.back(), "Disconnected.");
    EXPECT_TRUE(owner.buttons.connect);
}

TEST_F(SessionScript, RefusedConnectLogsFailureErrorDisconnected) {
    owner.account.popPort = ScriptServer::RefusedPort();
    MakeSession();
    session->ConnectButtonClick();
    EXPECT_FALSE(owner.buttons.connect);
    EXPECT_TRUE(owner.buttons.disconnect);
    ASSERT_TRUE(RunUntilIdle());
    queue.RunPending();
    EXPECT_EQ(owner.log, (std::vector<std::string>{"Failed to open socket.", "Error.", "Disconnected."}));
    EXPECT_TRUE(owner.messages.empty());
    EXPECT_TRUE(owner.buttons.connect);
    EXPECT_EQ(owner.sortResets, 1);
}

TEST_F(SessionScript, DisconnectInGreetingQuitsWhenTheGreetingArrives) {
    MakeSession();
    std::atomic<bool> accepted{false};
    server.Serve([&](ScriptPeer& peer) {
        accepted = true;
        queue.Post([] {});  // wakes the test thread
        std::string line = peer.ReadLine(3s);
        if (!peer.Eof()) received.push_back(line);
        peer.Send("+OK hi\r\n");
        peer.WaitForClose();
    });
    session->ConnectButtonClick();
    ASSERT_TRUE(queue.RunUntil([&] { return accepted.load(); }));
    session->DisconnectButtonClick();
    EXPECT_EQ(session->State(), SessionState::QuitSent);
    EXPECT_EQ(owner.buttons, (SessionOwner::ButtonStates{false, true, false, false, true}));
    ASSERT_TRUE(RunUntilIdle());
    server.Join();
    EXPECT_TRUE(owner.messages.empty());
    EXPECT_EQ(owner.SentLines(), std::vector<std::string>{"QUIT\r\n"});
    // The greeting was taken as QUIT's reply.
    EXPECT_NE(std::find(owner.log.begin(), owner.log.end(), "+OK hi\r\n"), owner.log.end());
}

TEST_F(SessionScript, SilentServerTimesOut) {
    struct Case {
        const char* name;
        std::string greeting;
        std::vector<std::string> logBeforeTimeout;
    };
    const Case cases[] = {
        {"no greeting", "", {}},
        {"no LIST reply",
         "+OK hi\r\n",
         {"+OK hi\r\n", "USER alice\r\n", "+OK\r\n", "PASS ********", "+OK Logged in.\r\n", "LIST\r\n"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restart({POPAuthBasic}, 300ms);
        ScriptedMailbox box;
        box.overrides = {{"LIST", ""}};
        ServeMailbox(c.greeting, box);
        session->ConnectButtonClick();
        ASSERT_TRUE(RunUntilIdle(10s));
        server.Join();
        queue.RunPending();
        std::vector<std::string> expected = c.logBeforeTimeout;
        for (const char* entry : {"Timed out.", "Error.", "Disconnected."}) expected.push_back(entry);
        ExpectLog(owner.log, expected);
        EXPECT_TRUE(owner.messages.empty());
        EXPECT_TRUE(owner.buttons.connect);
    }
}

TEST_F(SessionScript, SlowButSteadyReplyDoesNotTimeOut) {
    MakeSession(300ms);
    server.Serve([this](ScriptPeer& peer) {
        peer.Send("+OK hi\r\n");
        ScriptedMailbox box;
        for (;;) {
            std::string line = peer.ReadLine();
            if (peer.Eof()) return;
            received.push_back(line);
            if (line == "LIST") {
                for (const char* piece :
                     {"+OK 3 messages:\r\n", "1 1", "00\r\n", "2 200\r\n", "3 300", "\r\n", ".\r\n"}) {
                    peer.Pause(100ms);
                    peer.Send(piece);
                }
                continue;
            }
            peer.Send(box.Respond(line));
            if (line == "QUIT") {
                peer.WaitForClose();
                return;
            }
        }
    });
    ConnectToReady();
    EXPECT_EQ(owner.Captions(), (std::vector<std::string>{"1", "2", "3"}));
    DisconnectAndFinish();
}

TEST_F(SessionScript, ConnectAfterErrorStartsWithAnEmptyList) {
    MakeSession(300ms);
    ScriptedMailbox box = ThreeMessages();
    box.overrides = {{"RETR", ""}};  // the read goes unanswered
    ServeMailbox("+OK hi\r\n", box);
    ConnectToReady();
    owner.SelectOnly({0});
    owner.Read(*session);
    ASSERT_TRUE(RunUntilIdle(10s));
    server.Join();
    EXPECT_EQ(owner.rows.size(), 3u);  // an error keeps the rows

    received.clear();
    ServeMailbox("+OK again\r\n", ThreeMessages());
    ConnectToReady();
    EXPECT_EQ(owner.Captions(), (std::vector<std::string>{"1", "2", "3"}));
    EXPECT_EQ(owner.sortResets, 2);
    DisconnectAndFinish();
}

TEST_F(SessionScript, ConnectChecksSettingsAndAsksForMissingPassword) {
    MakeSession();
    struct Case {
        const char* name;
        std::string server, user, password;
        bool confirm;
        int prompts;
        bool refused;  // the settings box
    };
    const Case cases[] = {
        {"no server", "", "alice", "pw", true, 0, true},
        {"no user", "127.0.0.1", "", "pw", true, 0, true},
        {"line break in user", "127.0.0.1", "alice\r\nDELE 1", "pw", true, 0, true},
        {"line break in password", "127.0.0.1", "alice", "pw\r\nDELE 1", true, 0, true},
        {"prompt cancelled", "127.0.0.1", "alice", "", false, 1, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        owner.messages.clear();
        owner.prompts = 0;
        owner.promptConfirms = c.confirm;
        owner.account.popServer = c.server;
        owner.account.popUser = c.user;
        owner.account.popPassword = c.password;
        session->ConnectButtonClick();
        EXPECT_EQ(session->State(), SessionState::Idle);
        EXPECT_FALSE(session->IsConnectionOpen());
        EXPECT_EQ(owner.prompts, c.prompts);
        EXPECT_EQ(owner.messages.size(), c.refused ? 1u : 0u);
        if (c.refused) {
            EXPECT_EQ(owner.messages[0], texts::Cp932(texts::pop3::kSettingsIncomplete));
        }
    }
    EXPECT_TRUE(owner.log.empty());
}

TEST_F(SessionScript, PromptedPasswordIsUsedEvenWhenEmpty) {
    owner.account.popPassword.clear();
    owner.promptAnswer = "";
    MakeSession();
    ServeMailbox("+OK hi\r\n", ThreeMessages());
    ConnectToReady();
    EXPECT_EQ(owner.prompts, 1);
    DisconnectAndFinish();
    EXPECT_EQ(received, (std::vector<std::string>{"USER alice", "PASS ", "LIST", "QUIT"}));
    EXPECT_NE(std::find(owner.log.begin(), owner.log.end(), "PASS ********"), owner.log.end());
}

TEST_F(SessionScript, RefusedListShowsTheReplyAndQuits) {
    SetOptions({POPAuthBasic, POPReadHeader});
    MakeSession();
    ScriptedMailbox box = ThreeMessages();
    box.overrides = {{"LIST", "-ERR mailbox locked\r\n"}};
    ServeMailbox("+OK hi\r\n", box);
    session->ConnectButtonClick();
    ASSERT_TRUE(RunUntilIdle());
    server.Join();
    EXPECT_EQ(owner.messages,
              std::vector<std::string>{texts::Cp932(texts::pop3::kListFailed) + "\n-ERR mailbox locked"});
    EXPECT_TRUE(owner.rows.empty());
    EXPECT_EQ(received, (std::vector<std::string>{"USER alice", "PASS s3cret", "LIST", "QUIT"}));
}

// The LIST reply trickles in a byte every 200 ms. One press lets it finish
// and quits; a second press closes at once.
TEST_F(SessionScript, DisconnectWhileListTrickles) {
    const std::string listing = "+OK 2\r\n1 9\r\n2 9\r\n.\r\n";
    for (int presses : {1, 2}) {
        SCOPED_TRACE(presses);
        Restart({POPAuthBasic});
        std::atomic<bool> stop{false};
        server.Serve([&](ScriptPeer& peer) {
            ScriptedMailbox box;
            peer.Send("+OK hi\r\n");
            for (;;) {
                std::string line = peer.ReadLine();
                if (peer.Eof()) return;
                received.push_back(line);
                if (line != "LIST") {
                    peer.Send(box.Respond(line));
                    if (line == "QUIT") break;
                    continue;
                }
                for (char c : listing) {
                    if (stop) break;
                    peer.Send(std::string(1, c));
                    peer.Pause(200ms);
                }
            }
            peer.WaitForClose();
        });
        session->ConnectButtonClick();
        ASSERT_TRUE(queue.RunUntil([&] { return !owner.log.empty() && owner.log.back() == "+"; }));
        EXPECT_TRUE(owner.buttons.disconnect);
        session->DisconnectButtonClick();
        EXPECT_EQ(session->State(), SessionState::ListSent);
        if (presses == 2) {
            session->DisconnectButtonClick();
            EXPECT_EQ(session->State(), SessionState::Idle);
            EXPECT_EQ(owner.log.back(), "Disconnected.");
            EXPECT_TRUE(owner.buttons.connect);
            stop = true;
        }
        ASSERT_TRUE(RunUntilIdle(20s));
        server.Join();
        queue.RunPending();
        std::vector<std::string> expected = {"USER alice", "PASS s3cret", "LIST"};
        if (presses == 1) expected.push_back("QUIT");
        EXPECT_EQ(received, expected);
        // The rows of the finished listing went with QUIT; an abandoned one never arrived.
        EXPECT_TRUE(owner.rows.empty());
        EXPECT_EQ(session->MessageCount(), presses == 1 ? 2 : 0);
        EXPECT_TRUE(owner.messages.empty());
    }
}

TEST_F(SessionScript, DisconnectDuringHeaderFetchQuitsAfterTheReplyInFlight) {
    SetOptions({POPAuthBasic, POPReadHeader, POPUseTop});
    MakeSession();
    ScriptedMailbox box;
    for (int i = 1; i <= 50; ++i) box.messages.push_back(Message("m" + std::to_string(i)));
    ServeMailbox("+OK hi\r\n", box);
    session->ConnectButtonClick();
    ASSERT_TRUE(queue.RunUntil([&] { return owner.rows.size() == 50 && owner.rows[10].subItems.size() == 4; }));
    // Row 11 (or a later one) is filled and the next TOP is on its way.
    const std::string last = owner.SentLines().back();
    const int inFlight = std::atoi(last.c_str() + 4);
    ASSERT_TRUE(last.starts_with("TOP ") && inFlight >= 12 && inFlight < 50) << last;
    session->DisconnectButtonClick();
    EXPECT_EQ(session->State(), SessionState::TopSent);
    ASSERT_TRUE(RunUntilIdle());
    server.Join();
    std::vector<std::string> expected = {"USER alice", "PASS s3cret", "LIST"};
    for (int i = 1; i <= inFlight; ++i) expected.push_back("TOP " + std::to_string(i) + " 0");
    expected.push_back("QUIT");
    EXPECT_EQ(received, expected);
    EXPECT_TRUE(owner.rows.empty());
    EXPECT_TRUE(owner.messages.empty());
}

// A bare "-ERR" is a refusal like "-ERR reason": at once, and never taken
// for success.
TEST_F(SessionScript, BareNegativeIsARefusalEverywhere) {
    struct Case {
        const char* verb;
        std::vector<std::string> wire;
        std::vector<std::string> messages;
        std::vector<std::string> captionsAfter;  // read before QUIT empties the list
    };
    const Case cases[] = {
        {"PASS", {"USER alice", "PASS s3cret"}, {texts::Cp932(texts::pop3::kAuthFailed)}, {}},
        {"LIST",
         {"USER alice", "PASS s3cret", "LIST", "QUIT"},
         {texts::Cp932(texts::pop3::kListFailed) + "\n-ERR"},
         {}},
        {"DELE", {"USER alice", "PASS s3cret", "LIST", "DELE 1", "QUIT"}, {}, {"1", "2", "3"}},
        {"RETR", {"USER alice", "PASS s3cret", "LIST", "RETR 1", "QUIT"}, {}, {"1", "2", "3"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.verb);
        Restart({POPAuthBasic});
        ScriptedMailbox box = ThreeMessages();
        box.overrides = {{c.verb, "-ERR\r\n"}};
        ServeMailbox("+OK hi\r\n", box);
        const std::string verb = c.verb;
        if (verb == "DELE" || verb == "RETR") {
            ConnectToReady();
            owner.body = {"kept"};
            owner.SelectOnly({0, 1});
            if (verb == "DELE")
                owner.Delete(*session);
            else
                owner.Read(*session);
            ASSERT_TRUE(RunUntilState(SessionState::Ready));
            EXPECT_EQ(owner.Captions(), c.captionsAfter);
            EXPECT_EQ(owner.body, std::vector<std::string>{"kept"});
            DisconnectAndFinish();
        } else {
            session->ConnectButtonClick();
            ASSERT_TRUE(RunUntilIdle());
            server.Join();
        }
        EXPECT_EQ(received, c.wire);
        EXPECT_EQ(owner.messages, c.messages);
    }
}

// Small limits stand for the real ones. However far the dialogue got, the
// connection ends as after an error: the rows stay, the box gives the bytes
// received of the reply.
TEST_F(SessionScript, ReplyPastALimitEndsTheConnectionAndKeepsTheRows) {
    std::string body;
    for (int i = 0; i < 40; ++i) body += std::string(78, 'x') + "\r\n";  // no line past the limit
    const std::string message = Message("big", body);
    struct Case {
        const char* name;
        std::string greeting;
        std::map<std::string, std::string> overrides;
        bool readHeaders;
        bool read;  // RETR the first row once listed
        std::size_t rows;
        unsigned long passed;  // the limit that the reply passed
    };
    const Case cases[] = {
        {"greeting", "+OK " + std::string(200, 'g') + "\r\n", {}, false, false, 0, 100},
        {"listing rows", "+OK hi\r\n", {{"LIST", "+OK 4\r\n1 9\r\n2 9\r\n3 9\r\n4 9\r\n.\r\n"}}, false, false, 0, 26},
        {"header",
         "+OK hi\r\n",
         {{"TOP 2 0", "+OK\r\nSubject: " + std::string(1500, 's') + "\r\n.\r\n"}},
         true,
         false,
         3,
         1000},
        {"message read", "+OK hi\r\n", {}, false, true, 3, 2000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        limits.reply = 2000;
        limits.line = 1000;
        limits.statusLine = 100;
        limits.listRows = 3;
        Restart(c.readHeaders ? std::initializer_list<int>{POPAuthBasic, POPReadHeader, POPUseTop}
                              : std::initializer_list<int>{POPAuthBasic});
        ScriptedMailbox box = ThreeMessages();
        box.messages[0] = message;
        box.overrides = c.overrides;
        ServeMailbox(c.greeting, box);
        if (c.read) {
            ConnectToReady();
            owner.SelectOnly({0});
            owner.body = {"kept"};
            owner.Read(*session);
        } else {
            session->ConnectButtonClick();
        }
        ASSERT_TRUE(RunUntilIdle());
        server.Join();
        queue.RunPending();
        EXPECT_EQ(owner.rows.size(), c.rows);
        if (c.read) {
            EXPECT_EQ(owner.body, std::vector<std::string>{"kept"});
        }
        ASSERT_EQ(owner.messages.size(), 1u);
        const std::string& boxText = owner.messages[0];
        const std::string before = texts::Cp932(texts::connection::kTooLargeBefore),
                          after = texts::Cp932(texts::connection::kTooLargeAfter);
        ASSERT_TRUE(boxText.starts_with(before) && boxText.ends_with(after)) << boxText;
        const std::string count = boxText.substr(before.size(), boxText.size() - before.size() - after.size());
        ASSERT_FALSE(count.empty());
        EXPECT_EQ(count.find_first_not_of("0123456789"), std::string::npos) << count;
        EXPECT_GT(std::stoul(count), c.passed);
        auto error = std::find(owner.log.begin(), owner.log.end(), "Error.");
        ASSERT_NE(error, owner.log.end());
        ASSERT_NE(error + 1, owner.log.end());
        EXPECT_EQ(*(error + 1), "Disconnected.");
        EXPECT_TRUE(owner.buttons.connect);
    }
}

}  // namespace
