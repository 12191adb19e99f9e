#pragma once
// ConnectServerEvents that records every call, for the message tests.

#include <string>
#include <vector>

#include "net/ConnectServerEvents.h"
#include "net/ConnectState.h"

class RecordingEvents : public ConnectServerEvents {
public:
    explicit RecordingEvents(const ConnectState* state = nullptr) : state_(state) {}

    void OnConnectReady() override {
        Calls.push_back("ready");
        if (state_ != nullptr) NamesAtReady = ServerEntryName(state_->ServerEntries[0]);
    }
    void SetStatusMessage(int number) override {
        Calls.push_back("status " + std::to_string(number));
    }
    void ShowAndEnableStartButton() override { Calls.push_back("start button"); }
    std::array<std::uint8_t, 3> ClientVersion() const override { return Version; }
    void SetHttpPatchServer(const PatchServerInfo& info) override {
        Calls.push_back("http server");
        Http = info;
    }
    bool StartHttpPatch() override {
        Calls.push_back("http start");
        return HttpStarts;
    }
    bool RunFtpPatch(const PatchServerInfo& info) override {
        Calls.push_back("ftp");
        Ftp = info;
        return FtpSucceeds;
    }

    bool PatchSessionActive() const override { return SessionActive; }

    std::vector<std::string> Calls;
    bool SessionActive = false;
    std::array<std::uint8_t, 3> Version{1, 2, 3};
    bool HttpStarts = true;
    bool FtpSucceeds = true;
    PatchServerInfo Http;
    PatchServerInfo Ftp;
    std::string NamesAtReady;

private:
    const ConnectState* state_;
};
