#pragma once
// The main window's and the options dialog's fixed layout: which picture each control wears,
// where it sits, and where the painted texts and bars go. Positions are client pixels.

#include <array>

#include "ui/WindowRect.h"

// Control ids of the main window.
namespace ControlId {
inline constexpr int Option = 2000;
inline constexpr int Connect = 2001;  // the start button
inline constexpr int SmallClose = 2004;
inline constexpr int CloseBig = 2010;
inline constexpr int Link2 = 2020;
inline constexpr int Link1 = 2021;
inline constexpr int Link4 = 2022;
inline constexpr int Link3 = 2023;
inline constexpr int Exit = 2028;
inline constexpr int Browser = 1004;
inline constexpr int FirstServer = 6501;  // 6501..6510
}  // namespace ControlId

namespace skin {

// Background pictures.
inline constexpr int kServerViewBackground = 140;
inline constexpr int kProgressViewBackground = 163;
inline constexpr int kOptionsBackground = 110;
inline constexpr int kProgressBarPicture = 162;
inline constexpr int kIconPicture = 128;
// The colour key: pixels of exactly this colour are cut out of a window.
inline constexpr unsigned kColourKey = 0x00FF00;

struct ButtonSpec {
    int Id;
    int X;
    int Y;
    int Normal;
    int Pressed;
    int Focus;
    int Disabled;
};

// The main window's plain bitmap buttons.
inline constexpr std::array<ButtonSpec, 9> kMainButtons{{
    {ControlId::Link1, 237, 337, 154, 155, 154, 154},
    {ControlId::Link2, 300, 337, 152, 153, 152, 152},
    {ControlId::Link3, 365, 337, 156, 157, 156, 156},
    {ControlId::Link4, 430, 337, 158, 159, 158, 158},
    {ControlId::Exit, 493, 337, 160, 161, 160, 160},
    {ControlId::SmallClose, 561, 3, 144, 145, 144, 144},
    {ControlId::Option, 238, 136, 104, 104, 104, 104},
    {ControlId::Connect, 343, 136, 105, 105, 105, 105},
    {ControlId::CloseBig, 456, 136, 106, 106, 106, 106},
}};

// Server buttons 6501..6510: i = 0..9.
inline constexpr int kServerButtonCount = 10;
inline constexpr ButtonSpec ServerButton(int i) {
    return {ControlId::FirstServer + i, 227 + (i % 2) * 169, 17 + (i / 2) * 29, 149, 148, 149, 148};
}
inline constexpr int kServerButtonWidth = 164;
inline constexpr int kServerButtonHeight = 26;

// Where the news view sits in the server view and in the progress view.
inline constexpr WindowRect kServerViewNews{228, 167, 564, 330};
inline constexpr WindowRect kProgressViewNews{225, 176, 563, 360};

// The areas the controller asks to repaint when a painted text changes.
inline constexpr WindowRect kStatusArea{226, 47, 563, 68};
inline constexpr WindowRect kTitleArea{383, 19, 563, 40};
inline constexpr WindowRect kPercentArea{226, 71, 563, 124};
inline constexpr WindowRect kWholeWindow{0, 0, 580, 380};

// Progress bars and the painted texts of the progress view.
inline constexpr std::array<std::array<int, 2>, 2> kBarOrigins{{{225, 74}, {225, 102}}};
inline constexpr int kStatusCentreX = 394;
inline constexpr int kStatusTop = 50;
inline constexpr int kTitleCentreX = 473;
inline constexpr int kTitleTop = 22;
// The patch step caption ("Patch #2/5") sits left of the title plate, light on the dark panel.
inline constexpr int kCaptionCentreX = 300;
inline constexpr int kCaptionTop = 22;
inline constexpr unsigned kCaptionColour = 0xE6ECF2;
inline constexpr std::array<std::array<int, 2>, 2> kPercentOrigins{{{394, 79}, {394, 108}}};
inline constexpr unsigned kPercentColour = 0xDC2180;  // RGB(220, 33, 128)
inline constexpr int kTextFontWidth = 6;
inline constexpr int kTextFontHeight = 12;
// The face the painted texts ask for ("SimSun" in its own script, as UTF-8).
inline constexpr const char* kTextFontFace = "\xE5\xAE\x8B\xE4\xBD\x93";

// The options dialog.
namespace options {
inline constexpr int kIdEdit = 1006;
inline constexpr int kSave = 1008;
inline constexpr int kCancel = 2;
inline constexpr int kClose = 2005;
inline constexpr std::array<int, 4> kResolutionIds{1044, 1045, 1046, 1047};
inline constexpr std::array<std::array<int, 2>, 4> kResolutionPositions{
    {{32, 240}, {108, 240}, {190, 240}, {278, 240}}};
inline constexpr std::array<int, 2> kColourIds{1023, 1024};
inline constexpr std::array<std::array<int, 2>, 2> kColourPositions{{{32, 320}, {143, 320}}};
inline constexpr int kSoundBox = 1007;
inline constexpr int kMusicBox = 1010;
inline constexpr int kWindowModeBox = 1005;
inline constexpr std::array<int, 2> kSoundBoxAt{32, 398};
inline constexpr std::array<int, 2> kMusicBoxAt{143, 398};
inline constexpr std::array<int, 2> kWindowModeBoxAt{286, 216};
inline constexpr int kBoxSize = 13;
inline constexpr std::array<int, 4> kEditRect{144, 136, 170, 14};
inline constexpr ButtonSpec kSaveButton{kSave, 116, 443, 112, 111, 112, 112};
inline constexpr ButtonSpec kCancelButton{kCancel, 194, 443, 137, 138, 137, 137};
inline constexpr ButtonSpec kCloseButton{kClose, 353, 18, 144, 145, 144, 144};
inline constexpr int kIdMaxLength = 10;
}  // namespace options

}  // namespace skin
