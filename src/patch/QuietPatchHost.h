#pragma once
// A patch host with no window: lets the operator tools run the launcher's own patch engine
// steps (reading version lists) and keeps the last status message, which tells why a step
// failed.

#include <string>

#include "patch/PatchHost.h"

class QuietPatchHost : public PatchHost {
public:
    int LastStatusMessage() const { return lastStatus_; }

    std::string MessageText(int messageNumber) override;
    void SetStatusText(int messageNumber) override { lastStatus_ = messageNumber; }
    void SetStatusText(const std::string&) override {}
    void SetBarRange(PatchBar, int) override {}
    void SetBarPosition(PatchBar, int) override {}
    int GetBarPosition(PatchBar) override { return 0; }
    int GetBarPercent(PatchBar) override { return 1; }
    void UpdateProgressText() override {}
    void RefreshWindow() override {}
    bool PumpOneEvent() override { return false; }
    void ShowMessageBox(const std::string&, const std::string&, MessageBoxIcon) override {}
    void ShowFormattedMessage(const std::string&) override {}
    void OnConnectReady() override {}
    void ShowStartButton() override {}
    void HideStartButton() override {}
    void CloseMainWindow() override {}
    void StartGameAfterPatch() override {}
    void CloseConnectServerConnection() override {}

private:
    int lastStatus_ = 0;
};
