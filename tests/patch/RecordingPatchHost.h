#pragma once
// A PatchHost that records what the engine shows, for the patch tests.

#include <array>
#include <string>
#include <vector>

#include "patch/PatchHost.h"

struct RecordedMessageBox {
    std::string Text;
    std::string Caption;
    MessageBoxIcon Icon = MessageBoxIcon::None;
};

class RecordingPatchHost : public PatchHost {
public:
    std::vector<int> StatusMessages;  // message numbers, in order
    std::vector<std::string> StatusTexts;
    std::vector<RecordedMessageBox> Boxes;
    std::vector<std::string> FormattedMessages;
    std::vector<std::string> Events;  // what the engine logged, in order
    std::array<int, 2> Range{};
    std::array<int, 2> Position{};
    int Pumps = 0;
    int Refreshes = 0;
    int ReadyCalls = 0;
    int CloseCalls = 0;
    int GameStarts = 0;
    int StartButtonShown = 0;
    int StartButtonHidden = 0;
    int ConnectServerClosed = 0;

    std::string MessageText(int number) override { return "msg" + std::to_string(number); }
    void SetStatusText(int number) override { StatusMessages.push_back(number); }
    void SetStatusText(const std::string& text) override { StatusTexts.push_back(text); }
    void SetBarRange(PatchBar bar, int range) override { Range[Index(bar)] = range; }
    void SetBarPosition(PatchBar bar, int position) override { Position[Index(bar)] = position; }
    int GetBarPosition(PatchBar bar) override { return Position[Index(bar)]; }
    int GetBarPercent(PatchBar bar) override {
        const int range = Range[Index(bar)] < 1 ? 1 : Range[Index(bar)];
        const int position = Position[Index(bar)] < 1 ? 1 : Position[Index(bar)];
        return position * 100 / range;
    }
    void UpdateProgressText() override {}
    void RefreshWindow() override { ++Refreshes; }
    bool PumpOneEvent() override {
        ++Pumps;
        return false;
    }
    void ShowMessageBox(const std::string& text, const std::string& caption,
                        MessageBoxIcon icon) override {
        Boxes.push_back({text, caption, icon});
    }
    void ShowFormattedMessage(const std::string& text) override {
        FormattedMessages.push_back(text);
    }
    void LogEvent(const std::string& text) override { Events.push_back(text); }
    void OnConnectReady() override { ++ReadyCalls; }
    void ShowStartButton() override { ++StartButtonShown; }
    void HideStartButton() override { ++StartButtonHidden; }
    void CloseMainWindow() override { ++CloseCalls; }
    void StartGameAfterPatch() override { ++GameStarts; }
    void CloseConnectServerConnection() override { ++ConnectServerClosed; }

private:
    static int Index(PatchBar bar) { return static_cast<int>(bar); }
};
