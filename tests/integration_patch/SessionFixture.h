#pragma once
// A game directory, a recording window and an engine for the session tests.

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include "integration_patch/PatchRepo.h"
#include "patch/PatchEngine.h"
#include "patch/RecordingPatchHost.h"
#include "platform/GamePath.h"
#include "platform/ProfileFile.h"
#include "support/TestSupport.h"

namespace patchtest {

// Records like RecordingPatchHost and lets a test act inside a pump, the way a button
// handler runs inside the session.
class SessionHost : public RecordingPatchHost {
public:
    std::function<void(int pumps)> OnPump;
    bool PumpOneEvent() override {
        ++Pumps;
        if (OnPump) OnPump(Pumps);
        return false;
    }
};

class SessionFixture : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::create_directories(Game() / "Temp"); }
    std::filesystem::path Game() const { return top_ / "game"; }
    std::filesystem::path Server() const { return top_ / "server"; }
    // A fresh engine, as at the window's start, reading config.ini.
    PatchEngine& NewEngine() {
        host_ = std::make_unique<SessionHost>();
        engine_ = std::make_unique<PatchEngine>(*host_, GamePath(Game()), launch_);
        engine_->LoadLocalVersion();
        return *engine_;
    }
    SessionHost& Host() { return *host_; }
    std::string ConfigVersion(const char* key = "Version") const {
        char buffer[32] = {};
        GetPrivateProfileStringA("LOGIN", key, "none", buffer, sizeof buffer,
                                 Game() / "config.ini");
        return buffer;
    }
    int LastStatus() const {
        return host_->StatusMessages.empty() ? 0 : host_->StatusMessages.back();
    }
    // Everything under the top directory outside the game and server trees.
    std::vector<std::string> Strays() const {
        std::vector<std::string> strays;
        for (const std::string& name : testsupport::ListTree(top_.Path())) {
            if (name.rfind("game/", 0) != 0 && name.rfind("server/", 0) != 0)
                strays.push_back(name);
        }
        return strays;
    }

    testsupport::TempDir top_;
    LaunchSettings launch_;  // how the launcher was started, for the next NewEngine
    std::unique_ptr<SessionHost> host_;
    std::unique_ptr<PatchEngine> engine_;
};

}  // namespace patchtest
