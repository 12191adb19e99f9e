// Hands arbitrary packets to the connect-server message handlers: first one packet exactly
// as long as the input, then the input as a stream through the framing and the dispatch loop.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "net/ConnectMessages.h"

namespace {

class QuietEvents : public ConnectServerEvents {
public:
    void OnConnectReady() override {}
    void SetStatusMessage(int) override {}
    void ShowAndEnableStartButton() override {}
    std::array<std::uint8_t, 3> ClientVersion() const override { return {1, 2, 3}; }
    void SetHttpPatchServer(const PatchServerInfo& info) override {
        PatchServerInfo copy = info;
        copy.Decode();
        Touch(copy);
    }
    bool StartHttpPatch() override { return false; }
    bool RunFtpPatch(const PatchServerInfo& info) override {
        Touch(info);
        return false;
    }

private:
    static void Touch(const PatchServerInfo& info) {
        volatile std::size_t sink = info.HostText().size() + info.UserText().size() +
                                    info.PasswordText().size() + info.VersionFileText().size();
        (void)sink;
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    auto state = std::make_unique<ConnectState>();
    QuietEvents events;
    ConnectMessages messages(*state, events);
    messages.SetRandomSource([] { return 7u; });

    // An exact-size copy, so that any read past the packet's end is caught.
    auto exact = std::make_unique<std::uint8_t[]>(size);
    if (size > 0) std::memcpy(exact.get(), data, size);
    messages.HandlePacket(exact.get(), size);

    std::size_t offset = 0;
    while (offset < size) {
        const int taken = state->Connection.FeedReceived(
            data + offset, static_cast<int>(std::min<std::size_t>(size - offset, 1500)));
        if (taken == 0) break;
        offset += static_cast<std::size_t>(taken);
        messages.DispatchPackets();
    }
    if (state->AltServerValid && ::strnlen(state->AltServerAddress, 64) >= 64) __builtin_trap();
    return 0;
}
