#include "session_script_support.h"

#include "support/transcript.h"
#include "texts/texts.h"

namespace {

// Sessions played on the in-memory stream: each "S:" row is exactly one
// read, so splits fall where the row says, with no sleeps and no sockets.
struct Played {
    const char* name;
    std::initializer_list<int> options;
    std::vector<std::string> rows;
    std::vector<std::string> messages;  // boxes shown, CP932
    std::vector<std::string> log;       // the start of the log
    std::vector<std::string> captions;  // the rows once Ready (then Disconnect)
};

const std::string kStlsRefused =
    texts::Cp932(texts::connection::kStartTlsFailed) + "\nthe server sent data after its answer to STLS";

TEST_F(SessionScript, TranscriptsEndInTheirBoxesLogsAndRows) {
    const std::string connectFailed = texts::Cp932(texts::pop3::kConnectFailed);
    const Played cases[] = {
        {"negative greeting", {POPAuthBasic}, {"S: -ERR go away"}, {connectFailed}, {"-ERR go away\r\n"}, {}},
        {"negative greeting split",
         {POPAuthBasic},
         {"S| -ER", "S: R busy"},
         {connectFailed},
         {"-ER", "R busy\r\n"},
         {}},
        {"USER refused: QUIT, no box",
         {POPAuthBasic},
         {"S: +OK hi", "C: USER alice", "S: -ERR no such user", "C: QUIT", "S: +OK Logging out."},
         {},
         {"+OK hi\r\n", "USER alice\r\n", "-ERR no such user\r\n", "QUIT\r\n", "+OK Logging out.\r\n"},
         {}},
        {"PASS refused: a box",
         {POPAuthBasic},
         {"S: +OK hi", "C: USER alice", "S: +OK", "C: PASS s3cret", "S: -ERR [AUTH] Authentication failed."},
         {texts::Cp932(texts::pop3::kAuthFailed)},
         {"+OK hi\r\n", "USER alice\r\n", "+OK\r\n", "PASS ********", "-ERR [AUTH] Authentication failed.\r\n"},
         {}},
        {"listing cut inside its terminator",
         {POPAuthBasic},
         {"S: +OK hi", "C: USER alice", "S: +OK", "C: PASS s3cret", "S: +OK", "C: LIST", "S| +OK 2\r\n1 10\r\n2 2",
          "S| 0\r\n.", "S| \r", "S| \n", "C: QUIT", "S: +OK bye"},
         {},
         {"+OK hi\r\n", "USER alice\r\n", "+OK\r\n", "PASS ********", "+OK\r\n", "LIST\r\n", "+OK 2\r\n1 10\r\n2 2",
          "0\r\n.", "\r", "\n", "QUIT\r\n", "+OK bye\r\n"},
         {"1", "2"}},
        {"STLS answer with a line behind it in the same read",
         {POPAuthBasic, POPUseSTLS},
         {"S: +OK hi", "C: STLS", "S: +OK begin\r\n+OK injected"},
         {kStlsRefused},
         {"+OK hi\r\n", "STLS\r\n", "+OK begin\r\n"},
         {}},
        {"STLS answer with a line behind it in the next read",
         {POPAuthBasic, POPUseSTLS},
         {"S: +OK hi", "C: STLS", "S: +OK begin", "S| +"},
         {kStlsRefused},
         {"+OK hi\r\n", "STLS\r\n", "+OK begin\r\n"},
         {}},
    };
    for (const Played& c : cases) {
        SCOPED_TRACE(c.name);
        Restart(c.options);
        TranscriptPlayer player(c.rows);
        session->SetStreamSource([&player](const std::string&, int) { return player.Stream(); });
        session->ConnectButtonClick();
        EXPECT_EQ(session->State(), SessionState::Greeting);
        ASSERT_TRUE(queue.RunUntil(
            [&] { return session->State() == SessionState::Idle || session->State() == SessionState::Ready; }));
        EXPECT_EQ(owner.Captions(), c.captions);
        if (session->State() == SessionState::Ready) session->DisconnectButtonClick();
        ASSERT_TRUE(RunUntilIdle()) << SessionStatePathText(session->StatePath());
        EXPECT_EQ(player.Received(), ClientLines(c.rows));
        EXPECT_EQ(owner.messages, c.messages);
        ExpectLog(owner.log, c.log);
        EXPECT_TRUE(owner.buttons.connect);
        EXPECT_TRUE(player.ClientClosed());
        session.reset();  // before the player goes
    }
}

}  // namespace

namespace {

// Two sessions on one window thread: one whose server falls silent holds
// nothing up for the other.
TEST_F(SessionScript, ASilentServerDoesNotHoldUpASecondSession) {
    const std::vector<std::string> stalled = {"S: +OK hi", "C: USER alice"};
    const std::vector<std::string> listed = {"S: +OK hi", "C: USER alice",        "S: +OK",  "C: PASS s3cret", "S: +OK",
                                             "C: LIST",   "S: +OK 1\r\n1 5\r\n.", "C: QUIT", "S: +OK bye"};
    TranscriptPlayer silent(stalled);
    TranscriptPlayer lively(listed);
    MakeSession();
    session->SetStreamSource([&silent](const std::string&, int) { return silent.Stream(); });
    RecordingOwner other;
    other.account = owner.account;
    Pop3Session second(other, queue.Dispatcher());
    second.SetStreamSource([&lively](const std::string&, int) { return lively.Stream(); });

    session->ConnectButtonClick();
    ASSERT_TRUE(RunUntilState(SessionState::UserSent));
    second.ConnectButtonClick();
    ASSERT_TRUE(queue.RunUntil([&] { return second.State() == SessionState::Ready; }));
    EXPECT_EQ(other.Captions(), std::vector<std::string>{"1"});
    EXPECT_EQ(session->State(), SessionState::UserSent);

    second.DisconnectButtonClick();
    ASSERT_TRUE(queue.RunUntil([&] { return second.State() == SessionState::Idle && !second.IsConnectionOpen(); }));
    session->DisconnectButtonClick();  // asks to stop after the reply
    session->DisconnectButtonClick();  // and does not wait for it
    ASSERT_TRUE(RunUntilIdle());
    EXPECT_EQ(silent.Received(), ClientLines(stalled));
    EXPECT_EQ(lively.Received(), ClientLines(listed));
    session.reset();
}

}  // namespace
