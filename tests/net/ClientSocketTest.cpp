#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>

#include "LoopbackPeer.h"
#include "net/ClientSocket.h"
#include "net/HostLookup.h"
#include "support/TestSupport.h"

namespace {

// Collects every packet the client cuts from the stream, in dispatch order.
struct Collector {
    explicit Collector(ConnectedClient& client) : client(client) {
        client.OnPackets = [this] {
            for (Bytes& packet : this->client.DrainQueue()) packets.push_back(packet);
        };
    }
    bool WaitFor(std::size_t count) {
        return client.PumpUntil([&] { return packets.size() >= count; });
    }
    ConnectedClient& client;
    std::vector<Bytes> packets;
};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
    return all;
}

TEST(ClientSocketFraming, PacketsOfOneReadAreDispatchedInStreamOrder) {
    ConnectedClient client;
    Collector got(client);
    const Bytes a{0xC1, 0x04, 0x02, 0xAA};
    const Bytes b{0xC2, 0x00, 0x05, 0x09, 0xBB};
    const Bytes c{0xC1, 0x03, 0x07};
    client.Peer().Write(Concat({a, b, c}));
    ASSERT_TRUE(got.WaitFor(3));
    EXPECT_EQ(got.packets, (std::vector<Bytes>{a, b, c}));
    EXPECT_EQ(client.Socket().RecvBufferLength(), 0);
}

TEST(ClientSocketFraming, SplitPacketIsMovedToTheFrontAndCompletedLater) {
    ConnectedClient client;
    Collector got(client);
    const Bytes first{0xC1, 0x05, 0x02, 0x01, 0x02};
    Bytes second{0xC2, 0x01, 0x00, 0x09};
    for (int i = 4; i < 256; ++i) second.push_back(static_cast<std::uint8_t>(i));
    client.Peer().Write(Concat({first, Bytes(second.begin(), second.begin() + 100)}));
    ASSERT_TRUE(got.WaitFor(1));
    ASSERT_TRUE(client.PumpUntil([&] { return client.Socket().RecvBufferLength() == 100; }));
    client.Peer().Write(Bytes(second.begin() + 100, second.end()));
    ASSERT_TRUE(got.WaitFor(2));
    EXPECT_EQ(got.packets[0], first);
    EXPECT_EQ(got.packets[1], second);
}

TEST(ClientSocketFraming, FewerThanThreeBytesWaitEvenWhenTheyMakeAPacket) {
    ConnectedClient client;
    Collector got(client);
    client.Peer().Write({0xC1, 0x02});
    ASSERT_TRUE(client.PumpUntil([&] { return client.Socket().RecvBufferLength() == 2; }));
    client.PumpIdle();
    EXPECT_TRUE(got.packets.empty());
    client.Peer().Write({0xC1, 0x03, 0x07});
    ASSERT_TRUE(got.WaitFor(2));
    EXPECT_EQ(got.packets, (std::vector<Bytes>{{0xC1, 0x02}, {0xC1, 0x03, 0x07}}));
}

TEST(ClientSocketFraming, BadHeadOrZeroLengthDiscardsTheBufferAndLaterDataFramesAgain) {
    ConnectedClient client;
    Collector got(client);
    client.Peer().Write({0xC3, 0x04, 0x02, 0x01, 0xC1, 0x03, 0x02});
    ASSERT_TRUE(client.PumpUntil([&] { return client.Socket().RecvBufferLength() == 0; }));
    client.PumpIdle();
    EXPECT_TRUE(got.packets.empty());

    // Packets before the zero length are kept; the rest of that read is dropped.
    client.Peer().Write({0xC1, 0x03, 0x02, 0xC1, 0x00, 0xC1, 0x03, 0x05});
    ASSERT_TRUE(got.WaitFor(1));
    client.PumpIdle();
    EXPECT_EQ(client.Socket().RecvBufferLength(), 0);
    client.Peer().Write({0xC1, 0x03, 0x09});
    ASSERT_TRUE(got.WaitFor(2));
    EXPECT_EQ(got.packets, (std::vector<Bytes>{{0xC1, 0x03, 0x02}, {0xC1, 0x03, 0x09}}));
}

TEST(ClientSocketFraming, LengthIsNeverTakenFromBytesThatHaveNotArrived) {
    ConnectedClient client;
    Collector got(client);
    // Leaves 0x01 at buffer offset 4, where the next read's lone head byte would look for
    // its length.
    client.Peer().Write({0xC1, 0x07, 0x01, 0x02, 0x01, 0x01, 0x01});
    ASSERT_TRUE(got.WaitFor(1));
    client.Peer().Write({0xC1, 0x03, 0x09, 0xC1});
    ASSERT_TRUE(got.WaitFor(2));
    ASSERT_TRUE(client.PumpUntil([&] { return client.Socket().RecvBufferLength() == 1; }));
    client.Peer().Write({0x03, 0x04});
    ASSERT_TRUE(got.WaitFor(3));
    client.PumpIdle();
    ASSERT_EQ(got.packets.size(), 3u);
    EXPECT_EQ(got.packets[2], (Bytes{0xC1, 0x03, 0x04}));
}

TEST(ClientSocketFraming, PacketLongerThanTheBufferStallsWithoutBusyLooping) {
    ConnectedClient client;
    Collector got(client);
    Bytes huge{0xC2, 0x20, 0x00, 0x09};
    huge.resize(6000, 0x55);
    client.Peer().Write(huge);
    ASSERT_TRUE(client.PumpUntil([&] { return client.Socket().RecvBufferLength() == 4096; }));
    client.PumpIdle();
    EXPECT_TRUE(got.packets.empty());
    EXPECT_EQ(client.Loop().RunFor(0), 0u) << "a stalled stream must not keep the loop busy";
}

TEST(ClientSocketQueue, TenSlotsServedLowestFirstAndTheEleventhDropped) {
    CClientSocket socket;
    for (std::uint8_t i = 0; i < 10; ++i) {
        const std::uint8_t packet[4] = {0xC1, 0x04, 0x07, i};
        ASSERT_EQ(socket.QueuePacket(packet, 4), CClientSocket::kQueued);
    }
    const std::uint8_t extra[4] = {0xC1, 0x04, 0x07, 99};
    EXPECT_EQ(socket.QueuePacket(extra, 4), CClientSocket::kQueueFull);
    std::vector<std::uint8_t> big(4097, 0);
    EXPECT_EQ(socket.QueuePacket(big.data(), 4097), CClientSocket::kPacketTooLong);

    int length = 0;
    EXPECT_EQ(socket.NextPacket(&length)[3], 0);
    EXPECT_EQ(length, 4);
    // The freed lowest slot is reused and served before the older ones above it.
    EXPECT_EQ(socket.QueuePacket(extra, 4), CClientSocket::kQueued);
    EXPECT_EQ(socket.NextPacket()[3], 99);
    for (std::uint8_t i = 1; i < 10; ++i) EXPECT_EQ(socket.NextPacket()[3], i);
    EXPECT_EQ(socket.NextPacket(), nullptr);
}

TEST(ClientSocketQueue, UndrainedStreamKeepsOnlyTheFirstTenPackets) {
    ConnectedClient client;  // no dispatch: packets stay queued
    Bytes stream;
    for (std::uint8_t i = 0; i < 11; ++i) stream.insert(stream.end(), {0xC1, 0x04, 0x07, i});
    client.Peer().Write(stream);
    ASSERT_TRUE(client.PumpUntil([&] { return client.Socket().RecvBufferLength() == 0; }));
    client.PumpIdle();
    const auto packets = client.DrainQueue();
    ASSERT_EQ(packets.size(), 10u);
    for (std::uint8_t i = 0; i < 10; ++i) EXPECT_EQ(packets[i][3], i);
}

TEST(ClientSocketSend, ClosedConnectionSendsNothing) {
    CClientSocket never;
    const std::uint8_t bytes[3] = {0xC1, 0x03, 0x09};
    EXPECT_FALSE(never.Send(bytes, 3));

    ConnectedClient client;
    client.Socket().Close();
    EXPECT_FALSE(client.Socket().Send(bytes, 3));
    EXPECT_FALSE(client.Socket().IsOpen());
    EXPECT_TRUE(client.Peer().ReadAvailable(50).empty());
}

// Sends numbered 1000-byte blocks until one is buffered; returns everything handed to Send.
Bytes FillUntilBuffered(CClientSocket& socket, int* counter) {
    Bytes all;
    for (int i = 0; i < 200000; ++i) {
        Bytes block(1000, static_cast<std::uint8_t>((*counter)++));
        all.insert(all.end(), block.begin(), block.end());
        if (!socket.Send(block.data(), static_cast<int>(block.size()))) break;
    }
    return all;
}

TEST(ClientSocketSend, BlockedBytesGoOutOnceAndInOrderWhenWritable) {
    ConnectedClient client;
    CClientSocket& socket = client.Socket();
    int counter = 0;
    Bytes expected = FillUntilBuffered(socket, &counter);
    ASSERT_GT(socket.SendBufferLength(), 0);
    ASSERT_TRUE(socket.IsOpen());
    // Later packets queue behind the buffered bytes instead of overtaking them.
    const Bytes small{0xC1, 0x03, 0x09};
    if (socket.SendBufferLength() + 3 <= CClientSocket::kBufferSize) {
        socket.Send(small.data(), 3);
        expected.insert(expected.end(), small.begin(), small.end());
    }

    Bytes received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (received.size() < expected.size() && std::chrono::steady_clock::now() < deadline) {
        Bytes part = client.Peer().ReadAvailable(5);
        received.insert(received.end(), part.begin(), part.end());
        client.Loop().RunFor(5);
    }
    client.PumpIdle();
    const Bytes rest = client.Peer().ReadAvailable(20);
    received.insert(received.end(), rest.begin(), rest.end());
    EXPECT_EQ(socket.SendBufferLength(), 0);
    ASSERT_EQ(received.size(), expected.size());
    EXPECT_TRUE(received == expected);
}

TEST(ClientSocketSend, OverflowingTheSendBufferDropsTheConnection) {
    ConnectedClient client;
    CClientSocket& socket = client.Socket();
    int counter = 0;
    FillUntilBuffered(socket, &counter);
    ASSERT_TRUE(socket.IsOpen());
    // The kernel may take more as the peer's receive window grows; sooner or later the bytes
    // left over no longer fit the send buffer.
    Bytes big(4000, 0x11);
    for (int i = 0; i < 20000 && socket.IsOpen(); ++i) socket.Send(big.data(), 4000);
    EXPECT_FALSE(socket.IsOpen());
}

TEST(ClientSocketEvents, PeerHangupStopsTheWatchButKeepsTheSocket) {
    ConnectedClient client;
    Collector got(client);
    client.Peer().Write({0xC1, 0x03, 0x02});
    ASSERT_TRUE(got.WaitFor(1));
    ::shutdown(client.Peer().Fd(), SHUT_RDWR);
    ASSERT_TRUE(client.PumpUntil([&] { return client.Loop().WatchCount() == 0; }));
    EXPECT_TRUE(client.Socket().IsOpen());
    EXPECT_EQ(client.Loop().RunFor(0), 0u);
}

TEST(ClientSocketConnect, FailuresReportFalseAndMessage144WithoutALoop) {
    std::vector<std::string> shown;
    CClientSocket lonely;
    lonely.SetMessageSink([&](const std::string& text, const std::string& caption,
                              MessageBoxIcon) { shown.push_back(caption + ":" + text); },
                          [](int number) { return "text " + std::to_string(number); });
    EXPECT_FALSE(lonely.Connect("127.0.0.1", 1));
    EXPECT_EQ(shown, (std::vector<std::string>{"Error:text 144"}));

    PollEventLoop loop;
    CClientSocket socket;
    ASSERT_TRUE(socket.CreateSocket(loop, nullptr));
    EXPECT_FALSE(
        socket.Connect("127.0.0.1", static_cast<std::uint16_t>(testsupport::FreeLoopbackPort())));
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_FALSE(socket.Connect("no-such-host.invalid", 44405));
    loop.RunFor(0);
    EXPECT_EQ(loop.WatchCount(), 0u);
}

TEST(ClientSocketConnect, CloseBeforeTheHandOverLeavesNoWatch) {
    LoopbackPeer peer;
    PollEventLoop loop;
    CClientSocket socket;
    ASSERT_TRUE(socket.CreateSocket(loop, nullptr));
    ASSERT_TRUE(socket.Connect("127.0.0.1", static_cast<std::uint16_t>(peer.Port())));
    socket.Close();
    loop.RunFor(0);
    EXPECT_EQ(loop.WatchCount(), 0u);
    EXPECT_FALSE(socket.IsOpen());
}

TEST(ClientSocketConnect, AConnectThatCannotCompleteIsAbandonedAtOnce) {
    // A listener whose accept queue is full drops further connection requests, so the next
    // connect stays pending.
    LoopbackPeer peer(0);
    std::vector<int> fillers;
    for (int i = 0; i < 3; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<std::uint16_t>(peer.Port()));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
        fillers.push_back(fd);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));

    PollEventLoop loop;
    CClientSocket socket;
    ASSERT_TRUE(socket.CreateSocket(loop, nullptr));
    auto attempt = std::async(std::launch::async, [&] {
        return socket.Connect("127.0.0.1", static_cast<std::uint16_t>(peer.Port()));
    });
    const bool finishedEarly =
        attempt.wait_for(std::chrono::milliseconds(300)) == std::future_status::ready;
    const auto abandonedAt = std::chrono::steady_clock::now();
    socket.AbandonConnects();
    const bool connected = attempt.get();
    const auto waited = std::chrono::steady_clock::now() - abandonedAt;
    for (int fd : fillers) ::close(fd);
    if (finishedEarly && connected) GTEST_SKIP() << "this kernel accepted beyond the backlog";
    EXPECT_FALSE(connected);
    EXPECT_LT(waited, std::chrono::seconds(5));
    EXPECT_FALSE(socket.IsOpen());
    EXPECT_FALSE(socket.Connect("127.0.0.1", static_cast<std::uint16_t>(peer.Port())));
}

// A host-name lookup that hangs (no network, a resolver that never answers) must not hold
// the window's close: abandoning gives it up at once, and the lookup ends on its own later.
TEST(ClientSocketConnect, AHangingHostNameLookupIsAbandonedAtOnce) {
    // Shared with the lookup's thread, which outlives the abandoned Connect.
    struct Gate {
        std::mutex Mutex;
        std::condition_variable Wake;
        bool Entered = false;
        bool Release = false;
    };
    auto gate = std::make_shared<Gate>();
    PollEventLoop loop;
    CClientSocket socket;
    socket.SetResolver([gate](const std::string& host, HostAddress*) {
        std::unique_lock<std::mutex> lock(gate->Mutex);
        EXPECT_EQ(host, "connect.example.test");
        gate->Entered = true;
        gate->Wake.notify_all();
        gate->Wake.wait(lock, [&] { return gate->Release; });
        return false;
    });
    ASSERT_TRUE(socket.CreateSocket(loop, nullptr));
    auto attempt =
        std::async(std::launch::async, [&] { return socket.Connect("connect.example.test", 1); });
    {
        std::unique_lock<std::mutex> lock(gate->Mutex);
        gate->Wake.wait(lock, [&] { return gate->Entered; });
    }
    socket.AbandonConnects();
    // A generous bound only turns a hang into a failure; the resolver is still blocked.
    ASSERT_EQ(attempt.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_FALSE(attempt.get());
    {
        std::lock_guard<std::mutex> lock(gate->Mutex);
        gate->Release = true;
    }
    gate->Wake.notify_all();
}

TEST(ClientSocketConnect, HostNamesAreResolvedAndAddressLiteralsTakenAsTheyStand) {
    HostAddress address;
    int lookups = 0;
    const HostResolver resolver = [&](const std::string& host, HostAddress* out) {
        ++lookups;
        if (host != "patch.example.test") return false;
        in_addr ipv4{};
        ipv4.s_addr = htonl(0x7F000002);
        *out = HostAddress::Ipv4(ipv4);
        return true;
    };
    auto ipv4Of = [](const HostAddress& a) {
        return ntohl(reinterpret_cast<const sockaddr_in*>(&a.Storage)->sin_addr.s_addr);
    };
    EXPECT_TRUE(LookupHost("10.1.2.3", &address, resolver, nullptr));
    EXPECT_EQ(address.Family(), AF_INET);
    EXPECT_EQ(ipv4Of(address), 0x0A010203u);
    for (const char* literal : {"::1", "[::1]", "2001:db8::7"}) {
        EXPECT_TRUE(LookupHost(literal, &address, resolver, nullptr)) << literal;
        EXPECT_EQ(address.Family(), AF_INET6) << literal;
        EXPECT_EQ(address.Length, sizeof(sockaddr_in6)) << literal;
    }
    EXPECT_EQ(lookups, 0);
    EXPECT_TRUE(LookupHost("patch.example.test", &address, resolver, nullptr));
    EXPECT_EQ(ipv4Of(address), 0x7F000002u);
    EXPECT_FALSE(LookupHost("other.example.test", &address, resolver, nullptr));
    EXPECT_FALSE(LookupHost("[::1", &address, resolver, nullptr));
    EXPECT_EQ(lookups, 3);
}

TEST(ClientSocketConnect, AnIpv6ConnectServerIsReachedAndItsPacketsFramed) {
    std::unique_ptr<ConnectedClient> client;
    try {
        client = std::make_unique<ConnectedClient>(nullptr, "::1");
    } catch (const std::runtime_error& error) {
        GTEST_SKIP() << "no IPv6 loopback here: " << error.what();
    }
    Collector collector(*client);
    client->Peer().Write({0xC1, 0x04, 0x00, 0x01});
    ASSERT_TRUE(collector.WaitFor(1));
    EXPECT_EQ(collector.packets[0], (Bytes{0xC1, 0x04, 0x00, 0x01}));
    const std::uint8_t request[3] = {0xC1, 0x03, 0x09};
    client->Socket().Send(request, sizeof request);
    EXPECT_EQ(client->Peer().Read(3), (Bytes{0xC1, 0x03, 0x09}));
}

}  // namespace
