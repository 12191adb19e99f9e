#pragma once
// A WindowAdapter that remembers what the controller did to the window: the current
// visibility, enabled state and caption of every control, the background, the browser's
// place, every repaint's state and every message box, plus an ordered log of calls.

#include <map>
#include <string>
#include <vector>

#include "app/WindowAdapter.h"
#include "platform/EventLoop.h"

struct RecordedBox {
    std::string Text;
    std::string Caption;
    MessageBoxIcon Icon;
};

class RecordingWindow : public WindowAdapter {
public:
    explicit RecordingWindow(EventLoop* loop = nullptr) : loop_(loop) {}

    void ShowControl(int controlId, bool visible) override { Visible[controlId] = visible; }
    void EnableControl(int controlId, bool enabled) override { Enabled[controlId] = enabled; }
    void SetButtonCaption(int controlId, const std::string& caption, int fontWidth, int fontHeight,
                          std::uint32_t colour) override {
        Captions[controlId] = caption;
        CaptionFont = {fontWidth, fontHeight, static_cast<int>(colour)};
    }
    void MoveBrowser(int left, int top, int width, int height) override {
        Browser = {left, top, width, height};
    }
    void NavigateBrowser(const std::string& url) override { Navigations.push_back(url); }
    void SetBackgroundBitmap(int bitmapId) override { Background = bitmapId; }
    void Repaint(const WindowRect& area, const MainWindowPaintState& state) override {
        RepaintAreas.push_back(area);
        LastPaint = state;
        StatusHistory.push_back(state.StatusText);
    }
    void ShowMessageBox(const std::string& text, const std::string& caption,
                        MessageBoxIcon icon) override {
        Boxes.push_back({text, caption, icon});
    }
    void RunOptionsDialog(const std::array<std::uint8_t, 3>&) override { ++OptionsRuns; }
    void PlaySound(const std::string& path) override { Sounds.push_back(path); }
    void OpenLink(const std::string& url) override { Links.push_back(url); }
    void CloseWindow() override {
        ++Closes;
        if (loop_) loop_->Quit();
    }
    bool PumpOneEvent() override { return loop_ ? loop_->PumpOne() : false; }

    bool IsVisible(int id) const {
        auto it = Visible.find(id);
        return it != Visible.end() && it->second;
    }
    bool IsEnabled(int id) const {
        auto it = Enabled.find(id);
        return it == Enabled.end() || it->second;  // controls start enabled
    }
    // Status texts in the order they were painted, with repeats of the same text folded.
    std::vector<std::string> DistinctStatusTexts() const {
        std::vector<std::string> texts;
        for (const auto& text : StatusHistory)
            if (texts.empty() || texts.back() != text) texts.push_back(text);
        return texts;
    }

    std::map<int, bool> Visible;
    std::map<int, bool> Enabled;
    std::map<int, std::string> Captions;
    std::vector<int> CaptionFont;
    std::vector<int> Browser;
    std::vector<std::string> Navigations;
    int Background = 0;
    std::vector<WindowRect> RepaintAreas;
    std::vector<std::string> StatusHistory;
    MainWindowPaintState LastPaint;
    std::vector<RecordedBox> Boxes;
    int OptionsRuns = 0;
    std::vector<std::string> Sounds;
    std::vector<std::string> Links;
    int Closes = 0;

private:
    EventLoop* loop_;
};
