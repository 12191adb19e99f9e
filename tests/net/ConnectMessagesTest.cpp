#include "net/ConnectMessages.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "LoopbackPeer.h"
#include "RecordingEvents.h"
#include "support/ConnectPackets.h"

namespace {

using testsupport::MakePacket;

Bytes PatchServerPacket(std::uint8_t code, std::size_t size = 168) {
    return testsupport::PatchServerPacket(code, {}, size);
}

void PutAddresses(Bytes& packet, std::size_t offset, std::uint8_t flag, std::int8_t count,
                  int present) {
    packet[offset] = flag;
    packet[offset + 1] = static_cast<std::uint8_t>(count);
    for (int i = 0; i < present; ++i) {
        const std::uint32_t address = htonl(0x0A000001u + static_cast<std::uint32_t>(i));
        std::memcpy(packet.data() + offset + 2 + 4 * i, &address, 4);
    }
}

struct MessagesFixture : ::testing::Test {
    std::unique_ptr<ConnectState> state = std::make_unique<ConnectState>();
    RecordingEvents events{state.get()};
    ConnectMessages messages{*state, events};
    void Handle(const Bytes& packet) { messages.HandlePacket(packet.data(), packet.size()); }
};

TEST(ConnectMessagesGreeting, AnswersWithTheTwoRequestsInOrderAndOnlyForResultOne) {
    auto state = std::make_unique<ConnectState>();
    RecordingEvents events;
    events.Version = {2, 5, 7};
    ConnectMessages messages(*state, events);
    ConnectedClient client(&state->Connection);
    client.OnPackets = [&] { messages.DispatchPackets(); };

    // A refused greeting first: the bytes that arrive must be the answer to the second only.
    client.Peer().Write({0xC1, 0x04, 0x00, 0x00, 0xC1, 0x04, 0x00, 0x01});
    const Bytes expected{0xC1, 0x03, 0x09, 0xC1, 0x06, 0x04, 2, 5, 7};
    Bytes received;
    ASSERT_TRUE(client.PumpUntil([&] {
        const Bytes part = client.Peer().ReadAvailable(1);
        received.insert(received.end(), part.begin(), part.end());
        return received.size() >= expected.size();
    }));
    client.PumpIdle();
    const Bytes rest = client.Peer().ReadAvailable(50);
    received.insert(received.end(), rest.begin(), rest.end());
    EXPECT_EQ(received, expected);
}

TEST_F(MessagesFixture, ServerListArrivingBeforeTheGoAheadIsStoredFirst) {
    Bytes list = MakePacket(9, 504);
    for (int i = 0; i < 10; ++i) {
        const std::string name = i == 0 ? std::string(31, 'N') : "Server " + std::to_string(i);
        std::memcpy(list.data() + 4 + 50 * i, name.data(), name.size());
        std::memcpy(list.data() + 4 + 50 * i + 32, "127.0.0.1", 9);
        list[4 + 50 * i + 48] = static_cast<std::uint8_t>(i);
        list[4 + 50 * i + 49] = 0xD8;
    }
    ConnectedClient client(&state->Connection);
    client.OnPackets = [&] { messages.DispatchPackets(); };
    Bytes stream = list;
    stream.insert(stream.end(), {0xC1, 0x03, 0x02});
    client.Peer().Write(stream);
    ASSERT_TRUE(client.PumpUntil([&] { return !events.Calls.empty(); }));

    EXPECT_EQ(events.Calls, (std::vector<std::string>{"ready"}));
    EXPECT_EQ(events.NamesAtReady, std::string(31, 'N'));
    EXPECT_EQ(ServerEntryName(state->ServerEntries[3]), "Server 3");
    EXPECT_EQ(ServerEntryAddress(state->ServerEntries[3]), "127.0.0.1");
    EXPECT_EQ(state->ServerEntries[3].Port, 0xD803);
}

TEST_F(MessagesFixture, UnterminatedNamesStayWithinTheirFields) {
    Bytes list = MakePacket(9, 504);
    std::memset(list.data() + 4, 'X', 48);  // name and address of entry 0 without a NUL
    Handle(list);
    EXPECT_EQ(ServerEntryName(state->ServerEntries[0]), std::string(32, 'X'));
    EXPECT_EQ(ServerEntryAddress(state->ServerEntries[0]), std::string(16, 'X'));
}

TEST_F(MessagesFixture, FtpServerArrivesDecodedAndEndsGivenVersionMode) {
    state->LaunchMode = kLaunchGivenVersion;
    Handle(PatchServerPacket(5));
    ASSERT_EQ(events.Calls, (std::vector<std::string>{"ftp"}));
    EXPECT_FALSE(events.Ftp.Coded);
    EXPECT_EQ(events.Ftp.HostText(), "patch.example.net");
    EXPECT_EQ(events.Ftp.Port, 21);
    EXPECT_EQ(events.Ftp.UserText(), "anonymous");
    EXPECT_EQ(events.Ftp.PasswordText(), "secret");
    EXPECT_EQ(events.Ftp.VersionFileText(), "version.txt");
    EXPECT_EQ(state->LaunchMode, kLaunchNormal);
}

TEST_F(MessagesFixture, HttpServerArrivesCodedAndDecodesToTheSameTexts) {
    state->LaunchMode = kLaunchGivenVersion;
    Handle(PatchServerPacket(4));
    ASSERT_EQ(events.Calls, (std::vector<std::string>{"http server", "http start"}));
    PatchServerInfo info = events.Http;
    EXPECT_TRUE(info.Coded);
    EXPECT_NE(info.HostText(), "patch.example.net");
    info.Decode();
    EXPECT_EQ(info.HostText(), "patch.example.net");
    EXPECT_EQ(info.VersionFileText(), "version.txt");
    EXPECT_EQ(state->LaunchMode, kLaunchGivenVersion);
}

TEST_F(MessagesFixture, PatchFailuresShowMessage138) {
    events.FtpSucceeds = false;
    Handle(PatchServerPacket(5));
    EXPECT_EQ(events.Calls, (std::vector<std::string>{"ftp", "status 138", "start button"}));
    events.Calls.clear();
    events.HttpStarts = false;
    Handle(PatchServerPacket(4));
    EXPECT_EQ(events.Calls, (std::vector<std::string>{"http server", "http start", "status 138"}));
}

TEST_F(MessagesFixture, PatchServerMessagesWhileASessionRunsAreDropped) {
    events.SessionActive = true;
    state->LaunchMode = kLaunchGivenVersion;
    Bytes withList = PatchServerPacket(8, 170 + 4 * 3);
    PutAddresses(withList, 168, 1, 3, 3);
    for (const Bytes& packet : {PatchServerPacket(4), PatchServerPacket(5), withList})
        Handle(packet);
    EXPECT_TRUE(events.Calls.empty());
    EXPECT_EQ(state->AltServerValid, 0);
    EXPECT_EQ(state->LaunchMode, kLaunchGivenVersion);
    events.SessionActive = false;
    Handle(PatchServerPacket(5));
    EXPECT_EQ(events.Calls, (std::vector<std::string>{"ftp"}));
}

TEST_F(MessagesFixture, AddressListKeepsAtMostSixtyFourAndPicksOneOfThem) {
    Bytes packet = MakePacket(3, 6 + 4 * 70);
    PutAddresses(packet, 4, 1, 70, 70);
    messages.SetRandomSource([] { return 1000u; });  // 1000 mod 64 = 40
    Handle(packet);
    EXPECT_EQ(events.Calls, (std::vector<std::string>{"ready"}));
    EXPECT_EQ(state->AltServerValid, 1);
    EXPECT_EQ(ntohl(state->AltServerList[63]), 0x0A000001u + 63);
    EXPECT_STREQ(state->AltServerAddress, "10.0.0.41");
}

TEST_F(MessagesFixture, AbsentOrEmptyAddressListsClearTheFlagButStillGoAhead) {
    const std::vector<std::pair<std::uint8_t, std::int8_t>> cases = {{1, 0}, {1, -3}, {0, 5}};
    for (const auto& [flag, count] : cases) {
        state->AltServerValid = 1;
        Bytes packet = MakePacket(3, 6 + 4 * 5);
        PutAddresses(packet, 4, flag, count, 5);
        Handle(packet);
        EXPECT_EQ(state->AltServerValid, 0) << int(flag) << " " << int(count);
    }
    // A go-ahead too short to hold the list at all is still a go-ahead.
    state->AltServerValid = 1;
    Handle({0xC1, 0x03, 0x03});
    EXPECT_EQ(state->AltServerValid, 0);
    EXPECT_EQ(events.Calls.size(), 4u);
}

TEST_F(MessagesFixture, FtpServerWithListStoresTheListFirst) {
    Bytes packet = PatchServerPacket(8, 170 + 4 * 30);
    PutAddresses(packet, 168, 1, 30, 30);
    state->LaunchMode = kLaunchGivenVersion;
    Handle(packet);
    EXPECT_EQ(events.Calls, (std::vector<std::string>{"ftp"}));
    EXPECT_EQ(events.Ftp.HostText(), "patch.example.net");
    EXPECT_EQ(state->AltServerValid, 1);
    EXPECT_EQ(ntohl(state->AltServerList[29]), 0x0A000001u + 29);
    EXPECT_EQ(state->LaunchMode, kLaunchNormal);
}

TEST_F(MessagesFixture, ShortPacketsAreIgnoredAndNeverReadPastTheirEnd) {
    // Every handler, with every length short of what it reads.
    state->ServerEntries[0].Port = 7;
    for (std::uint8_t code : {0, 4, 5, 8, 9}) {
        const std::size_t needed = code == 9 ? 504 : (code == 0 ? 4 : 168);
        for (std::size_t size = 0; size < needed; ++size) {
            Bytes packet = size < 4 ? Bytes(size, 0) : MakePacket(code, size);
            if (size >= 1) packet[0] = 0xC1;
            if (size >= 3) packet[2] = code;
            // A heap copy of exactly `size` bytes lets the sanitizers catch overreads.
            auto exact = std::make_unique<std::uint8_t[]>(size);
            if (size > 0) std::memcpy(exact.get(), packet.data(), size);
            messages.HandlePacket(exact.get(), size);
        }
    }
    EXPECT_TRUE(events.Calls.empty());
    EXPECT_EQ(state->ServerEntries[0].Port, 7);

    // An address list cut short keeps only the addresses that are really there.
    Bytes packet = MakePacket(3, 6 + 4 * 2 + 3);
    PutAddresses(packet, 4, 1, 100, 2);
    Handle(packet);
    EXPECT_EQ(state->AltServerValid, 1);
    EXPECT_TRUE(std::string(state->AltServerAddress) == "10.0.0.1" ||
                std::string(state->AltServerAddress) == "10.0.0.2");
}

TEST_F(MessagesFixture, UnknownCodesAreSkipped) {
    for (std::uint8_t code : {1, 6, 7, 10, 200, 255}) Handle(MakePacket(code, 200));
    Handle(MakePacket(2, 300));  // a go-ahead may come as C2 too
    EXPECT_EQ(events.Calls, (std::vector<std::string>{"ready"}));
}

}  // namespace
