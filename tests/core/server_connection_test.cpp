#include "core/server_connection.h"

#include "core/task_queue.h"
#include "support/dovecot.h"
#include "support/script_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

using namespace std::chrono_literals;
using Event = std::pair<ConnectionEvent, std::string>;
using Events = std::vector<Event>;

const std::string kMulti = "\r\n.\r\n";
const std::string kSingle = "\r\n";

Event Raw(std::string s) {
    return {ConnectionEvent::RawData, std::move(s)};
}
Event Err(std::string s) {
    return {ConnectionEvent::Error, std::move(s)};
}
Event L(std::string s) {
    return {ConnectionEvent::Line, std::move(s)};
}
Event R(std::string s) {
    return {ConnectionEvent::Reply, std::move(s)};
}
const Event kClosed{ConnectionEvent::Closed, ""};

// Records every event; an optional reaction runs inside the handler.
struct Owner {
    std::mutex mutex;
    Events events;
    std::vector<std::thread::id> threads;
    std::function<void(ConnectionEvent, const std::string&)> react;

    static void Handle(void* self, ConnectionEvent e, const std::string& text) {
        auto* owner = static_cast<Owner*>(self);
        {
            std::lock_guard<std::mutex> lock(owner->mutex);
            owner->events.emplace_back(e, text);
            owner->threads.push_back(std::this_thread::get_id());
        }
        if (owner->react) owner->react(e, text);
    }

    Events Snapshot() {
        std::lock_guard<std::mutex> lock(mutex);
        return events;
    }
    // The events without the log's RawData copies and the Line events.
    Events Essential() {
        Events out;
        for (const Event& e : Snapshot())
            if (e.first != ConnectionEvent::Line && e.first != ConnectionEvent::DotLine) out.push_back(e);
        return out;
    }
    bool Has(ConnectionEvent e) {
        for (const Event& x : Snapshot())
            if (x.first == e) return true;
        return false;
    }
    bool Ended() { return Has(ConnectionEvent::Error) || Has(ConnectionEvent::Closed); }
};

// The connection with its events run on the test's thread.
struct Fixture {
    TaskQueue queue;
    Owner owner;
    ServerConnection connection;

    explicit Fixture(std::chrono::milliseconds timeout = ServerConnection::kDefaultReplyTimeout)
        : connection(queue.Dispatcher(), timeout) {
        connection.SetOwner(&Owner::Handle, &owner);
        connection.SetTerminator(kSingle);
    }
    bool RunUntilEnded(std::chrono::milliseconds limit = 10s) {
        return queue.RunUntil([this] { return owner.Ended(); }, limit);
    }
    bool RunUntilReplies(std::size_t count, std::chrono::milliseconds limit = 10s) {
        return queue.RunUntil(
            [&] {
                std::size_t n = 0;
                for (const Event& e : owner.Snapshot()) n += e.first == ConnectionEvent::Reply;
                return n >= count;
            },
            limit);
    }
};

TEST(ServerConnection, RefusedConnect) {
    Fixture f;
    ASSERT_TRUE(f.connection.Open("127.0.0.1", ScriptServer::RefusedPort()));
    ASSERT_TRUE(f.RunUntilEnded());
    EXPECT_EQ(f.owner.Snapshot(), (Events{Raw("Failed to open socket."), Err("Failed to open socket.")}));
    EXPECT_FALSE(f.connection.IsOpen());
}

TEST(ServerConnection, UnresolvableNameIsReportedBeforeOpenReturns) {
    for (const char* host : {"no-such-host.invalid", "", "bad name with spaces.invalid"}) {
        Fixture f;
        EXPECT_FALSE(f.connection.Open(host, 110));
        EXPECT_EQ(f.owner.Snapshot(), (Events{Raw("Invalid server name."), Err("Invalid server name.")})) << host;
        EXPECT_EQ(f.owner.threads, std::vector<std::thread::id>(2, std::this_thread::get_id()));
        EXPECT_FALSE(f.connection.IsOpen());
    }
    Fixture f;
    EXPECT_FALSE(f.connection.Open(std::string("127.0.0.1\0evil", 14), 110));
    EXPECT_EQ(f.owner.Snapshot().back(), Err("Invalid server name."));
}

TEST(ServerConnection, ServerCloseEndsWithClosed) {
    ScriptServer server;
    server.Serve([](ScriptPeer& peer) { peer.Send("+OK ready\r\n"); });
    Fixture f;
    ASSERT_TRUE(f.connection.Open("127.0.0.1", server.port()));
    EXPECT_FALSE(f.connection.Open("127.0.0.1", server.port()));  // already open: no event
    ASSERT_TRUE(f.RunUntilEnded());
    EXPECT_EQ(f.owner.Snapshot(), (Events{Raw("+OK ready\r\n"), L("+OK ready"), R("+OK ready"), Raw(""), kClosed}));
    EXPECT_FALSE(f.connection.IsOpen());
    for (auto id : f.owner.threads) EXPECT_EQ(id, std::this_thread::get_id());
}

// The owner closing inside its handler, with events run on the test's
// thread and with events run at once on the receive thread.
class CloseInHandler : public ::testing::TestWithParam<bool> {};

TEST_P(CloseInHandler, NextReadFailsWithTheEmptyText) {
    const bool inline_ = GetParam();
    ScriptServer server;
    std::atomic<bool> sawClose{false};
    server.Serve([&](ScriptPeer& peer) {
        peer.Send("+OK ready\r\n");
        sawClose = peer.WaitForClose(5s);
    });
    TaskQueue queue;
    Owner owner;
    ServerConnection connection(inline_ ? ServerConnection::Dispatcher{} : queue.Dispatcher());
    owner.react = [&](ConnectionEvent e, const std::string&) {
        if (e == ConnectionEvent::Reply) connection.Close();
    };
    connection.SetOwner(&Owner::Handle, &owner);
    connection.SetTerminator(kSingle);
    ASSERT_TRUE(connection.Open("127.0.0.1", server.port()));
    if (inline_) {
        for (int i = 0; i < 500 && !owner.Ended(); ++i) std::this_thread::sleep_for(10ms);
    } else {
        ASSERT_TRUE(queue.RunUntil([&] { return owner.Ended(); }, 10s));
    }
    EXPECT_EQ(owner.Snapshot(), (Events{Raw("+OK ready\r\n"), L("+OK ready"), R("+OK ready"), Raw(""), Err("")}));
    EXPECT_FALSE(connection.IsOpen());
    server.Join();
    EXPECT_TRUE(sawClose);
}

INSTANTIATE_TEST_SUITE_P(Dispatch, CloseInHandler, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Inline" : "Queued"; });

TEST(ServerConnection, DataQueuedBeforeTheOwnersCloseIsDropped) {
    ScriptServer server;
    server.Serve([](ScriptPeer& peer) {
        peer.Send("+OK ready\r\n");
        peer.Send("unexpected\r\n");
    });
    Fixture f;
    f.owner.react = [&](ConnectionEvent e, const std::string&) {
        if (e == ConnectionEvent::Reply) f.connection.Close();
    };
    ASSERT_TRUE(f.connection.Open("127.0.0.1", server.port()));
    server.Join();
    std::this_thread::sleep_for(100ms);  // everything is queued by now
    ASSERT_TRUE(f.RunUntilEnded());
    EXPECT_EQ(f.owner.Essential(), (Events{Raw("+OK ready\r\n"), R("+OK ready"), Raw(""), Err("")}));
}

TEST(ServerConnection, ReplyLongerThanOneRead) {
    std::string body;
    for (int i = 0; i < 200; ++i)
        body += (i % 10 == 0 ? "..dotted " : "line ") + std::to_string(i) + " of a long message\r\n";
    ScriptServer server;
    std::string command;
    server.Serve([&](ScriptPeer& peer) {
        peer.Send("+OK ready\r\n");
        command = peer.ReadLine();
        peer.Send("+OK " + std::to_string(body.size()) + " octets\r\n" + body + ".\r\n");
        peer.ReadLine();
    });
    Fixture f;
    ASSERT_TRUE(f.connection.Open("127.0.0.1", server.port()));
    ASSERT_TRUE(f.RunUntilReplies(1));
    f.connection.SetTerminator(kMulti);
    f.connection.Send("RETR 1\r\n");
    ASSERT_TRUE(f.RunUntilReplies(2));
    f.connection.Close();
    ASSERT_TRUE(f.RunUntilEnded());
    server.Join();

    EXPECT_EQ(command, "RETR 1");
    std::string raw;
    int reads = 0;
    Events events = f.owner.Snapshot();
    for (std::size_t i = 0; i < events.size(); ++i) {
        if (events[i].first != ConnectionEvent::RawData || i < 3) continue;
        EXPECT_LE(events[i].second.size(), 1023u);
        raw += events[i].second;
        ++reads;
    }
    std::string expected = "+OK " + std::to_string(body.size()) + " octets\r\n" + body;
    EXPECT_EQ(raw, expected + ".\r\n");
    EXPECT_GT(reads, 2);
    Events essential = f.owner.Essential();
    ASSERT_GE(essential.size(), 3u);
    EXPECT_EQ(essential[essential.size() - 3], R(expected.substr(0, expected.size() - 2)));
    EXPECT_EQ(essential.back(), Err(""));
}

// A line the server sent early waits, unframed, in the queue for the
// window's thread when the answer to STLS is handled: the upgrade is refused
// as for bytes already framed.
TEST(ServerConnection, UpgradeRefusedWhileAReportIsQueued) {
    ScriptServer server;
    std::atomic<bool> early{false}, answered{false};
    server.Serve([&](ScriptPeer& peer) {
        peer.Send("+OK hi\r\n+OK early\r\n");
        early = true;
        if (peer.ReadLine() != "STLS") return;
        peer.Send("+OK go ahead\r\n");
        answered = true;
        peer.ReadRawUntilClose();
    });
    Fixture f;
    std::optional<bool> started;
    f.owner.react = [&](ConnectionEvent e, const std::string& text) {
        if (e != ConnectionEvent::Reply) return;
        if (text == "+OK hi") {
            f.connection.ExpectUpgrade();
            f.connection.Send("STLS\r\n");
            // Until the answer has been read and queued behind "+OK early".
            for (int i = 0; i < 500 && !answered; ++i) std::this_thread::sleep_for(10ms);
            std::this_thread::sleep_for(200ms);
        } else if (!started) {
            started = f.connection.StartTls();
        }
    };
    ASSERT_TRUE(f.connection.Open("127.0.0.1", server.port(), ServerConnection::Security::Upgrade));
    for (int i = 0; i < 500 && !early; ++i) std::this_thread::sleep_for(10ms);
    std::this_thread::sleep_for(300ms);  // both lines are read and queued
    ASSERT_TRUE(f.RunUntilReplies(2));
    ASSERT_TRUE(started.has_value());
    EXPECT_FALSE(*started);
    f.connection.Close();
    ASSERT_TRUE(f.RunUntilEnded());
    server.Join();
}

TEST(ServerConnection, NulByteInsideAReplyReachesFraming) {
    const std::string greeting("+OK a\0b\r\n", 9);
    ScriptServer server;
    server.Serve([&](ScriptPeer& peer) { peer.Send(greeting); });
    Fixture f;
    ASSERT_TRUE(f.connection.Open("127.0.0.1", server.port()));
    ASSERT_TRUE(f.RunUntilEnded());
    EXPECT_EQ(f.owner.Essential(), (Events{Raw(greeting), R(greeting.substr(0, 7)), Raw(""), kClosed}));
}

TEST(ServerConnection, SendWhileClosedReportsSentOnly) {
    Fixture f;
    f.connection.Send("QUIT\r\n");
    EXPECT_EQ(f.owner.Snapshot(), (Events{{ConnectionEvent::Sent, "QUIT\r\n"}}));
    f.queue.RunPending();
    EXPECT_EQ(f.owner.Snapshot().size(), 1u);
    EXPECT_FALSE(f.connection.IsOpen());
}

TEST(ServerConnection, LargeSendArrivesWhole) {
    std::string big;
    while (big.size() < (4u << 20)) big += "DATA line of a very long command text\r\n";
    ScriptServer server;
    std::size_t received = 0;
    bool intact = true;
    server.Serve([&](ScriptPeer& peer) {
        peer.Send("+OK ready\r\n");
        for (;;) {
            std::string line = peer.ReadLine();
            if (peer.Eof() || line == "END") break;
            intact = intact && line == "DATA line of a very long command text";
            received += line.size() + 2;
        }
    });
    Fixture f;
    ASSERT_TRUE(f.connection.Open("127.0.0.1", server.port()));
    ASSERT_TRUE(f.RunUntilReplies(1));
    f.connection.Send(big);
    f.connection.Send("END\r\n");
    server.Join();
    EXPECT_EQ(received, big.size());
    EXPECT_TRUE(intact);
    Events events = f.owner.Snapshot();
    EXPECT_EQ(events[events.size() - 2], Event(ConnectionEvent::Sent, big));
}

TEST(ServerConnection, SilentServerTimesOut) {
    ScriptServer server;
    server.Serve([](ScriptPeer& peer) { peer.WaitForClose(10s); });
    Fixture f(300ms);
    ASSERT_TRUE(f.connection.Open("127.0.0.1", server.port()));
    ASSERT_TRUE(f.RunUntilEnded());
    EXPECT_EQ(f.owner.Snapshot(), (Events{Raw("Timed out."), Err("Timed out.")}));
    EXPECT_FALSE(f.connection.IsOpen());
}

TEST(ServerConnection, OnlyAnAwaitedReplyTimesOutAndSlowDataDoesNot) {
    ScriptServer server;
    server.Serve([](ScriptPeer& peer) {
        peer.Send("+OK ready\r\n");
        peer.ReadLine();  // arrives long after the time-out, but nothing was awaited
        for (char ch : std::string("+OK slow\r\n")) {
            peer.Send(std::string(1, ch));
            peer.Pause(100ms);
        }
        peer.ReadLine();
        peer.WaitForClose(10s);  // silent now
    });
    Fixture f(300ms);
    ASSERT_TRUE(f.connection.Open("127.0.0.1", server.port()));
    ASSERT_TRUE(f.RunUntilReplies(1));
    f.queue.RunUntil([] { return false; }, 700ms);
    EXPECT_FALSE(f.owner.Ended());
    f.connection.Send("NOOP\r\n");  // Send alone awaits nothing
    f.queue.RunUntil([] { return false; }, 700ms);
    EXPECT_FALSE(f.owner.Ended());
    f.connection.SetTerminator(kSingle);
    ASSERT_TRUE(f.RunUntilReplies(2));  // about 1.2 s of trickling data
    EXPECT_FALSE(f.owner.Ended());
    f.connection.SetTerminator(kSingle);
    f.connection.Send("NOOP\r\n");
    ASSERT_TRUE(f.RunUntilEnded());
    EXPECT_EQ(f.owner.Essential().back(), Err("Timed out."));
    server.Join();
}

TEST(ServerConnection, LateReportsOfAnEarlierConnectionAreDropped) {
    ScriptServer first;
    first.Serve([](ScriptPeer& peer) { peer.Send("+OK first\r\n"); });
    ScriptServer second;
    second.Serve([](ScriptPeer& peer) {
        peer.Send("+OK second\r\n");
        peer.WaitForClose(5s);
    });
    Fixture f;
    ASSERT_TRUE(f.connection.Open("127.0.0.1", first.port()));
    first.Join();
    std::this_thread::sleep_for(200ms);  // its greeting and Closed wait in the queue
    f.connection.Close();
    ASSERT_TRUE(f.connection.Open("127.0.0.1", second.port()));
    ASSERT_TRUE(f.RunUntilReplies(1));
    f.queue.RunUntil([] { return false; }, 200ms);
    EXPECT_EQ(f.owner.Snapshot(), (Events{Raw("+OK second\r\n"), L("+OK second"), R("+OK second")}));
    EXPECT_TRUE(f.connection.IsOpen());
}

TEST(ServerConnection, ReopenAfterAnEndedConnectionStartsClean) {
    ScriptServer server;
    server.Serve([](ScriptPeer& peer) { peer.Send("+OK 1000 octets\r\nhalf a mess"); });
    Fixture f;
    ASSERT_TRUE(f.connection.Open("127.0.0.1", server.port()));
    f.connection.SetTerminator(kMulti);
    ASSERT_TRUE(f.RunUntilEnded());
    server.Serve([](ScriptPeer& peer) { peer.Send("+OK again\r\n"); });
    f.connection.SetTerminator(kSingle);
    ASSERT_TRUE(f.connection.Open("127.0.0.1", server.port()));
    ASSERT_TRUE(f.RunUntilReplies(1));
    Events events = f.owner.Essential();
    EXPECT_EQ(events,
              (Events{Raw("+OK 1000 octets\r\nhalf a mess"), Raw(""), kClosed, Raw("+OK again\r\n"), R("+OK again")}));
}

TEST(ServerConnection, CloseFromAnotherThreadAtAnyMoment) {
    for (int round = 0; round < 30; ++round) {
        ScriptServer server;
        server.Serve([](ScriptPeer& peer) {
            std::string lines;
            for (int i = 0; i < 2000; ++i) lines += "+OK streaming data line\r\n";
            peer.Send(lines);
            peer.WaitForClose(5s);
        });
        TaskQueue queue;
        Owner owner;
        ServerConnection connection(round % 2 ? ServerConnection::Dispatcher{} : queue.Dispatcher());
        connection.SetOwner(&Owner::Handle, &owner);
        connection.SetTerminator(kSingle);
        ASSERT_TRUE(connection.Open("127.0.0.1", server.port()));
        std::thread closer([&] {
            std::this_thread::sleep_for(std::chrono::microseconds(round * 300));
            connection.Close();
        });
        closer.join();
        EXPECT_FALSE(connection.IsOpen());
        if (round % 2) {
            for (int i = 0; i < 500 && !owner.Ended(); ++i) std::this_thread::sleep_for(10ms);
            ASSERT_TRUE(owner.Ended()) << "round " << round;
        } else {
            ASSERT_TRUE(queue.RunUntil([&] { return owner.Ended(); }, 5s)) << "round " << round;
        }
        Events events = owner.Snapshot();
        ASSERT_FALSE(events.empty());
        EXPECT_EQ(events.back(), Err(""));
    }
}

std::string BigReply(std::size_t size) {
    std::string reply = "+OK big\r\n";
    for (int i = 0; reply.size() < size; ++i)
        reply += "a line of the big message, number " + std::to_string(i) + "\r\n";
    return reply + ".\r\n";
}

// Serves one 3 MB reply to an owner that handles nothing for 300 ms, so
// reports pile up and reading pauses.
void ServeToOwnerFallingBehind(ScriptServer& server, Fixture& f, const std::string& reply) {
    server.Serve([&reply](ScriptPeer& peer) {
        peer.Send(reply);
        peer.WaitForClose(10s);
    });
    f.connection.SetTerminator(kMulti);
    ASSERT_TRUE(f.connection.Open("127.0.0.1", server.port()));
    std::this_thread::sleep_for(300ms);
}

TEST(ServerConnection, OwnerFallingBehindGetsEverythingLater) {
    const std::string reply = BigReply(3u << 20);
    ScriptServer server;
    Fixture f;
    ServeToOwnerFallingBehind(server, f, reply);
    ASSERT_TRUE(f.RunUntilReplies(1));
    EXPECT_EQ(f.owner.Essential().back(), R(reply.substr(0, reply.size() - 5)));
    f.connection.Close();
    ASSERT_TRUE(f.RunUntilEnded());
}

TEST(ServerConnection, OwnerFallingBehindCanStillClose) {
    const std::string reply = BigReply(3u << 20);
    ScriptServer server;
    Fixture f;
    ServeToOwnerFallingBehind(server, f, reply);
    f.connection.Close();
    ASSERT_TRUE(f.RunUntilEnded());
    // What was queued before the owner closed is not delivered after it.
    EXPECT_EQ(f.owner.Snapshot(), (Events{Raw(""), Err("")}));
    server.Join();
}

TEST(ServerConnection, DestroyedWithReportsStillQueued) {
    ScriptServer server;
    server.Serve([](ScriptPeer& peer) { peer.Send("+OK ready\r\n"); });
    TaskQueue queue;
    Owner owner;
    {
        ServerConnection connection(queue.Dispatcher());
        connection.SetOwner(&Owner::Handle, &owner);
        connection.SetTerminator(kSingle);
        ASSERT_TRUE(connection.Open("127.0.0.1", server.port()));
        server.Join();
        std::this_thread::sleep_for(100ms);
    }
    queue.RunPending();
    EXPECT_TRUE(owner.Snapshot().empty());
}

TEST(ServerConnection, DestroyedInsideItsOwnHandlerOnTheReceiveThread) {
    ScriptServer server;
    server.Serve([](ScriptPeer& peer) {
        peer.Send("+OK ready\r\n");
        peer.WaitForClose(5s);
    });
    Owner owner;
    auto* connection = new ServerConnection();
    std::atomic<bool> destroyed{false};
    owner.react = [&](ConnectionEvent e, const std::string&) {
        if (e == ConnectionEvent::Reply) {
            delete connection;
            destroyed = true;
        }
    };
    connection->SetOwner(&Owner::Handle, &owner);
    connection->SetTerminator(kSingle);
    ASSERT_TRUE(connection->Open("127.0.0.1", server.port()));
    for (int i = 0; i < 500 && !destroyed; ++i) std::this_thread::sleep_for(10ms);
    server.Join();
    std::this_thread::sleep_for(50ms);
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(owner.Snapshot().back(), R("+OK ready"));
}

TEST(ServerConnection, DialogueWithDovecot) {
    DovecotServer dovecot;
    dovecot.AddMessage("user", "Subject: hello\r\n\r\n.leading dot\r\nbody\r\n");
    Fixture f;
    std::vector<std::pair<std::string, std::string>> script = {
        {"USER user\r\n", kSingle}, {"PASS pass\r\n", kSingle}, {"RETR 1\r\n", kMulti}, {"QUIT\r\n", kSingle}};
    std::size_t step = 0;
    f.owner.react = [&](ConnectionEvent e, const std::string&) {
        if (e != ConnectionEvent::Reply) return;
        if (step == script.size()) {
            f.connection.Close();
            return;
        }
        f.connection.SetTerminator(script[step].second);
        f.connection.Send(script[step].first);
        ++step;
    };
    ASSERT_TRUE(f.connection.Open("localhost", dovecot.port()));
    ASSERT_TRUE(f.RunUntilEnded());
    std::vector<std::string> replies;
    for (const Event& e : f.owner.Snapshot())
        if (e.first == ConnectionEvent::Reply) replies.push_back(e.second);
    ASSERT_EQ(replies.size(), 5u);
    EXPECT_EQ(replies[0].rfind("+OK", 0), 0u);
    const std::string message = "\r\nSubject: hello\r\n\r\n..leading dot\r\nbody";
    EXPECT_EQ(replies[3].rfind("+OK ", 0), 0u);
    ASSERT_GE(replies[3].size(), message.size());
    EXPECT_EQ(replies[3].substr(replies[3].size() - message.size()), message);
    EXPECT_EQ(replies[4].rfind("+OK", 0), 0u);
}

}  // namespace
