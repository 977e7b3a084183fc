#include "platform/socket.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "support/child_process.h"

namespace tarvo {
namespace {

using testing::WaitUntil;

constexpr char kLoopback[] = "127.0.0.1";

// A listener on a free loopback port and one connection accepted from it.
struct Pair {
  Pair() {
    std::string error;
    listener = TcpListen(kLoopback, 0, &error);
    EXPECT_NE(listener, nullptr) << error;
    client = TcpConnect(kLoopback, listener->Port(), 2000, nullptr, &error);
    EXPECT_NE(client, nullptr) << error;
    server = listener->Accept();
    EXPECT_NE(server, nullptr);
  }
  std::unique_ptr<TcpListener> listener;
  std::unique_ptr<TcpConnection> client, server;
};

// A port on which nothing listens: bound once by the system, then released.
int FreePort() {
  std::string error;
  auto l = TcpListen(kLoopback, 0, &error);
  return l->Port();
}

TEST(TcpConnectionTest, BytesTravelBothWaysIntact) {
  Pair p;
  std::string data(100000, '\0');
  for (size_t i = 0; i < data.size(); ++i)
    data[i] = static_cast<char>(i * 7);
  std::thread writer([&] { EXPECT_TRUE(p.client->WriteAll(data.data(), data.size())); });
  std::string got(data.size(), 'x');
  EXPECT_TRUE(p.server->ReadExact(got.data(), got.size()));
  writer.join();
  EXPECT_EQ(got, data);

  ASSERT_TRUE(p.server->WriteAll("ok", 2));
  char reply[2];
  ASSERT_TRUE(p.client->ReadExact(reply, 2));
  EXPECT_EQ(std::string(reply, 2), "ok");
  EXPECT_EQ(p.server->PeerAddress(), kLoopback);
}

TEST(TcpConnectionTest, ReadLnSplitsLinesDropsCrAndKeepsTheRestForReadExact) {
  Pair p;
  const std::string sent = "first\r\nsecond\n\r\nbare\rcr\nBIN";
  ASSERT_TRUE(p.client->WriteAll(sent.data(), sent.size()));
  std::string line;
  ASSERT_TRUE(p.server->ReadLn(&line));
  EXPECT_EQ(line, "first");
  ASSERT_TRUE(p.server->ReadLn(&line));
  EXPECT_EQ(line, "second");
  ASSERT_TRUE(p.server->ReadLn(&line));
  EXPECT_EQ(line, "");
  ASSERT_TRUE(p.server->ReadLn(&line));
  EXPECT_EQ(line, "bare\rcr");  // only a CR right before the LF is dropped
  char rest[3];
  ASSERT_TRUE(p.server->ReadExact(rest, 3));
  EXPECT_EQ(std::string(rest, 3), "BIN");
}

TEST(TcpConnectionTest, ReadLnRefusesAnOverlongLineAndFinishDeliversALastReply) {
  Pair p;
  const std::string exact = std::string(10, 'a') + "\r\n";
  ASSERT_TRUE(p.client->WriteAll(exact.data(), exact.size()));
  std::string line;
  ASSERT_TRUE(p.server->ReadLn(&line, 10));
  EXPECT_EQ(line, std::string(10, 'a'));
  EXPECT_FALSE(p.server->LineTooLong());

  // The peer keeps sending after the refused line; the reply still arrives
  // and is followed by the end of the stream, not a reset.
  const std::string longer = std::string(11, 'b') + "\n" + std::string(200000, 'c');
  std::thread writer([&] { p.client->WriteAll(longer.data(), longer.size()); });
  EXPECT_FALSE(p.server->ReadLn(&line, 10));
  EXPECT_TRUE(p.server->LineTooLong());
  EXPECT_FALSE(p.server->Closed());
  ASSERT_TRUE(p.server->WriteLn("500 Line too long."));
  p.server->Finish(2000);
  writer.join();
  EXPECT_TRUE(p.server->Closed());
  p.client->SetTimeoutMillis(5000);
  ASSERT_TRUE(p.client->ReadLn(&line));
  EXPECT_EQ(line, "500 Line too long.");
  EXPECT_FALSE(p.client->ReadLn(&line));
  EXPECT_FALSE(p.client->TimedOut());
}

TEST(TcpConnectionTest, ReadLnRefusesAnEndlessLineWithoutWaitingForItsEnd) {
  Pair p;
  const std::string chunk(5000, 'z');
  ASSERT_TRUE(p.client->WriteAll(chunk.data(), chunk.size()));
  p.server->SetTimeoutMillis(5000);
  std::string line;
  EXPECT_FALSE(p.server->ReadLn(&line, 100));
  EXPECT_FALSE(p.server->TimedOut());
}

TEST(TcpConnectionTest, WriteLnSendsNonAsciiAndInnerLineBreaksAsQuestionMarks) {
  Pair p;
  ASSERT_TRUE(p.server->WriteLn("caf\xC3\xA9 \xE9!\r\nx"));
  char got[13];
  ASSERT_TRUE(p.client->ReadExact(got, sizeof(got)));
  EXPECT_EQ(std::string(got, sizeof(got)), "caf?? ?!??x\r\n");
}

TEST(TcpConnectionTest, ReadTimesOutWhenThePeerStaysSilent) {
  Pair p;
  p.server->SetTimeoutMillis(50);
  char byte;
  EXPECT_FALSE(p.server->ReadExact(&byte, 1));
  EXPECT_TRUE(p.server->TimedOut());
  EXPECT_TRUE(p.server->Closed());
}

TEST(TcpConnectionTest, EndOfStreamIsNotATimeout) {
  Pair p;
  p.client.reset();
  p.server->SetTimeoutMillis(5000);
  char byte;
  EXPECT_FALSE(p.server->ReadExact(&byte, 1));
  EXPECT_FALSE(p.server->TimedOut());
}

TEST(TcpConnectionTest, CloseFromAnotherThreadUnblocksAReader) {
  Pair p;
  std::atomic<bool> returned{false};
  std::thread reader([&] {
    std::string line;
    EXPECT_FALSE(p.server->ReadLn(&line));
    returned = true;
  });
  p.server->Close();
  reader.join();
  EXPECT_TRUE(returned);
}

TEST(TcpConnectTest, ReportsARefusedConnection) {
  std::string error;
  ConnectFailure failure = ConnectFailure::kNone;
  auto c = TcpConnect(kLoopback, FreePort(), 2000, &failure, &error);
  EXPECT_EQ(c, nullptr);
  EXPECT_EQ(failure, ConnectFailure::kRefused);
  EXPECT_EQ(error, "Connection refused");
}

TEST(TcpConnectTest, ReportsABadAddress) {
  std::string error;
  ConnectFailure failure = ConnectFailure::kNone;
  EXPECT_EQ(TcpConnect("not-an-ip", 5001, 2000, &failure, &error), nullptr);
  EXPECT_EQ(failure, ConnectFailure::kBadAddress);
  EXPECT_NE(error.find("not-an-ip"), std::string::npos);
  EXPECT_EQ(TcpConnect("", 5001, 2000, &failure, &error), nullptr);
  EXPECT_EQ(failure, ConnectFailure::kBadAddress);
}

TEST(TcpListenTest, ReusesAnAddressRightAfterTheLastListenerClosed) {
  std::string error;
  auto first = TcpListen(kLoopback, 0, &error);
  ASSERT_NE(first, nullptr);
  int port = first->Port();
  auto c = TcpConnect(kLoopback, port, 2000, nullptr, &error);
  auto s = first->Accept();
  s->Close();  // leaves the server side in TIME_WAIT
  first.reset();
  auto second = TcpListen(kLoopback, port, &error);
  EXPECT_NE(second, nullptr) << error;
}

TEST(TcpListenTest, RefusesAPortInUse) {
  std::string error;
  auto first = TcpListen(kLoopback, 0, &error);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(TcpListen(kLoopback, first->Port(), &error), nullptr);
  EXPECT_NE(error.find(std::to_string(first->Port())), std::string::npos);
}

TEST(TcpListenTest, CloseWakesAThreadBlockedInAccept) {
  std::string error;
  auto listener = TcpListen(kLoopback, 0, &error);
  std::thread acceptor([&] { EXPECT_EQ(listener->Accept(), nullptr); });
  listener->Close();
  acceptor.join();
}

// ---------------------------------------------------------------------------

TEST(TcpServerTest, EchoesLinesOnEveryConnectionInItsOwnThread) {
  TcpServer server(kLoopback, 0);
  std::atomic<int> connects{0}, disconnects{0};
  server.SetHandlers([&](TcpConnection&) { ++connects; },
                     [](TcpConnection& c) {
                       std::string line;
                       if (c.ReadLn(&line))
                         c.WriteLn("echo " + line);
                     },
                     [&](TcpConnection&) { ++disconnects; });
  std::string error;
  ASSERT_TRUE(server.Activate(&error)) << error;
  ASSERT_NE(server.Port(), 0);
  EXPECT_TRUE(server.Active());

  auto a = TcpConnect(kLoopback, server.Port(), 2000, nullptr, &error);
  auto b = TcpConnect(kLoopback, server.Port(), 2000, nullptr, &error);
  ASSERT_TRUE(a && b);
  // b is answered while a stays open and idle.
  ASSERT_TRUE(b->WriteLn("two"));
  std::string line;
  ASSERT_TRUE(b->ReadLn(&line));
  EXPECT_EQ(line, "echo two");
  ASSERT_TRUE(a->WriteLn("one"));
  ASSERT_TRUE(a->ReadLn(&line));
  EXPECT_EQ(line, "echo one");

  a.reset();
  EXPECT_TRUE(WaitUntil([&] { return disconnects == 1; }, 5000));
  server.Deactivate();
  EXPECT_EQ(connects, 2);
  EXPECT_EQ(disconnects, 2);
  EXPECT_FALSE(server.Active());
}

TEST(TcpServerTest, ClosesConnectionsBeyondTheCapAfterTheRefusalNotice) {
  TcpServer server(kLoopback, 0, 2);
  std::atomic<int> connects{0};
  server.SetRefusedHandler([](TcpConnection& c) { c.WriteLn("300 busy"); });
  server.SetHandlers([&](TcpConnection&) { ++connects; },
                     [](TcpConnection& c) {
                       std::string line;
                       if (c.ReadLn(&line))
                         c.WriteLn(line);
                     },
                     nullptr);
  ASSERT_TRUE(server.Activate());
  std::string error;
  auto a = TcpConnect(kLoopback, server.Port(), 2000, nullptr, &error);
  auto b = TcpConnect(kLoopback, server.Port(), 2000, nullptr, &error);
  ASSERT_TRUE(WaitUntil([&] { return connects == 2; }, 5000));
  auto c = TcpConnect(kLoopback, server.Port(), 2000, nullptr, &error);
  ASSERT_NE(c, nullptr);
  c->SetTimeoutMillis(5000);
  std::string line;
  ASSERT_TRUE(c->ReadLn(&line));
  EXPECT_EQ(line, "300 busy");
  EXPECT_FALSE(c->ReadLn(&line));  // closed by the server, not timed out
  EXPECT_FALSE(c->TimedOut());
  EXPECT_EQ(connects, 2);

  // A slot freed by a closed connection is available again.
  a.reset();
  EXPECT_TRUE(WaitUntil(
      [&] {
        auto d = TcpConnect(kLoopback, server.Port(), 2000, nullptr, &error);
        if (d == nullptr || !d->WriteLn("hi"))
          return false;
        d->SetTimeoutMillis(2000);
        return d->ReadLn(&line) && line == "hi";
      },
      5000));
}

TEST(TcpServerTest, DeactivateClosesBlockedConnectionsAndJoinsTheirThreads) {
  TcpServer server(kLoopback, 0);
  std::atomic<int> running{0}, finished{0};
  server.SetHandlers([&](TcpConnection&) { ++running; },
                     [](TcpConnection& c) {
                       std::string line;
                       c.ReadLn(&line);  // blocks: the clients never write
                     },
                     [&](TcpConnection&) { ++finished; });
  ASSERT_TRUE(server.Activate());
  std::string error;
  std::vector<std::unique_ptr<TcpConnection>> clients;
  for (int i = 0; i < 5; ++i)
    clients.push_back(TcpConnect(kLoopback, server.Port(), 2000, nullptr, &error));
  ASSERT_TRUE(WaitUntil([&] { return running == 5; }, 5000));
  server.Deactivate();
  EXPECT_EQ(finished, 5);
  // Nothing listens any more.
  EXPECT_EQ(TcpConnect(kLoopback, server.Port(), 2000, nullptr, &error), nullptr);
}

TEST(TcpServerTest, AHandlerThatThrowsEndsOnlyItsOwnConnection) {
  TcpServer server(kLoopback, 0);
  server.SetHandlers(
      nullptr,
      [](TcpConnection& c) {
        std::string line;
        if (!c.ReadLn(&line))
          return;
        if (line == "boom")
          throw std::runtime_error("boom");
        c.WriteLn(line);
      },
      nullptr);
  ASSERT_TRUE(server.Activate());
  std::string error, line;
  auto bad = TcpConnect(kLoopback, server.Port(), 2000, nullptr, &error);
  auto good = TcpConnect(kLoopback, server.Port(), 2000, nullptr, &error);
  ASSERT_TRUE(bad->WriteLn("boom"));
  bad->SetTimeoutMillis(5000);
  EXPECT_FALSE(bad->ReadLn(&line));
  ASSERT_TRUE(good->WriteLn("still here"));
  good->SetTimeoutMillis(5000);
  ASSERT_TRUE(good->ReadLn(&line));
  EXPECT_EQ(line, "still here");
}

TEST(TcpServerTest, ActivateFailsWhenThePortIsTaken) {
  std::string error;
  auto holder = TcpListen(kLoopback, 0, &error);
  TcpServer server(kLoopback, holder->Port());
  EXPECT_FALSE(server.Activate(&error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(server.Active());
}

}  // namespace
}  // namespace tarvo
