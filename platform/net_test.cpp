#include "platform/net.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

namespace {

struct Pair {
  platform::TcpListener listener;
  std::unique_ptr<platform::TcpConnection> server;
  platform::TcpConnection client;

  bool Open() {
    if (!listener.Listen()) return false;
    if (!client.Connect("127.0.0.1", std::to_string(listener.Port()), 2000)) return false;
    server = listener.Accept(2000);
    return server != nullptr;
  }
};

TEST(Net, HostNameIsKnown) {
  std::string name = platform::HostName();
  EXPECT_FALSE(name.empty());
  EXPECT_LE(name.size(), 256u);
}

TEST(Net, SendAndReceiveOverLoopback) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  EXPECT_TRUE(pair.client.IsConnected());
  EXPECT_FALSE(pair.client.Connect("127.0.0.1", std::to_string(pair.listener.Port()), 500));

  std::string big(200000, 'x');
  std::thread sender([&] { EXPECT_TRUE(pair.client.SendAll(big, 5000)); });
  size_t total = 0;
  char buffer[1000];
  while (total < big.size()) {
    long n = pair.server->Receive(buffer, sizeof buffer, 5000);
    ASSERT_GT(n, 0);
    EXPECT_LE(n, 1000);
    total += static_cast<size_t>(n);
  }
  sender.join();
  EXPECT_EQ(total, big.size());

  // Nothing to read: the receive gives up after its time-out.
  EXPECT_EQ(pair.server->Receive(buffer, sizeof buffer, 50), -1);
  // The peer's close reads as 0 bytes.
  pair.client.Abort();
  EXPECT_EQ(pair.server->Receive(buffer, sizeof buffer, 2000), 0);
}

TEST(Net, AbortWakesAPendingReceive) {
  Pair pair;
  ASSERT_TRUE(pair.Open());
  long result = 1;
  std::thread reader([&] {
    char buffer[16];
    result = pair.client.Receive(buffer, sizeof buffer, 30000);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  pair.client.Abort();
  reader.join();
  EXPECT_EQ(result, -1);
  EXPECT_FALSE(pair.client.IsConnected());
  EXPECT_FALSE(pair.client.SendAll("HELO x\r\n", 100));
}

TEST(Net, ConnectFailures) {
  std::string port;
  {
    platform::TcpListener listener;
    ASSERT_TRUE(listener.Listen());
    port = std::to_string(listener.Port());
    platform::TcpConnection aborted;
    aborted.Abort();
    EXPECT_FALSE(aborted.Connect("127.0.0.1", port, 500));
  }
  platform::TcpConnection refused;  // nothing listens there any more
  EXPECT_FALSE(refused.Connect("127.0.0.1", port, 1000));
  platform::TcpConnection unresolvable;
  EXPECT_FALSE(unresolvable.Connect("", "", 500));
}

}  // namespace
