#pragma once
// The options dialog without its window: the settings record, what each control shows, what
// the player's input does to it, and loading and saving through the registry store. A front
// end shows this model and forwards clicks; it makes no decisions of its own.
//
// Life of one dialog: construct (loads at once, before any window exists) → the front end
// shows the controls from the getters → the player's input goes to the setters and the
// Choose* operations → Enter or the Save button calls SaveSettings and the dialog closes
// whatever it returns; Cancel, Escape and the close button simply drop the object (nothing is
// written). Every click plays the click sound; that is the front end's job.
//
// Check boxes show a stored 1 as checked and anything else (0, 2, -1, 7, ...) as unchecked;
// Save writes what the box shows. The radio groups show the stored choice, or none at all
// when the stored value is out of range, in which case Save stores the default unless the
// player picks one.
//
// GUI thread only.

#include <cstdint>
#include <string>
#include <string_view>

#include "options/GameSettings.h"
#include "platform/MessageBox.h"
#include "platform/Registry.h"

class GameOptions {
public:
    enum class SaveResult { Saved, KeyFailed };

    // Loads at once (LoadSettings). A failure to open the key shows messages 200 (text) and
    // 201 (caption) through `showMessage` and keeps the defaults.
    GameOptions(Registry& registry, MessageBoxFunction showMessage);

    // Defaults, then the stored values; absent or unreadable values are written back from
    // the defaults. A stored Resolution of 0 counts as 1.
    void LoadSettings();

    // The record as loaded or as last saved.
    const GameSettings& Settings() const { return settings_; }

    // What the controls show.
    const std::string& IdText() const { return idText_; }
    bool SoundChecked() const { return soundChecked_; }
    bool MusicChecked() const { return musicChecked_; }
    bool WindowModeChecked() const { return windowModeChecked_; }
    // 1..4, or 0 when no resolution button is selected.
    int SelectedResolution() const;
    // 0 (16-bit) or 1 (32-bit), or -1 when no colour button is selected.
    int SelectedColorDepth() const;

    // The player's input. The account name is cut to kMaxIdLength bytes.
    void SetIdText(std::string_view text);
    // The same, never cutting a character of `codePage` (the deployment's) in half.
    void SetIdText(std::string_view text, const std::string& codePage);
    // What the ID box may show of `utf8`: the longest run of whole characters that takes at
    // most kMaxIdLength bytes in `codePage`, so that what the player sees is what Save keeps
    // (a double-byte character counts two).
    static std::string FitIdBoxText(std::string_view utf8, const std::string& codePage);
    void SetSoundChecked(bool checked) { soundChecked_ = checked; }
    void SetMusicChecked(bool checked) { musicChecked_ = checked; }
    void SetWindowModeChecked(bool checked) { windowModeChecked_ = checked; }
    void ChooseResolution(int choice);  // 1..4; other numbers are ignored
    void ChooseColorDepth(int depth);   // 0 or 1; other numbers are ignored

    // Takes the control states, opens the key (failure: messages 200/201, nothing written,
    // KeyFailed), validates and writes all six values. The front end plays the click sound
    // on Saved and closes the dialog in both cases.
    SaveResult SaveSettings();

private:
    bool OpenKey();
    void PushToControls();
    void ShowKeyFailure() const;

    Registry& registry_;
    MessageBoxFunction showMessage_;
    GameSettings settings_;
    std::string idText_;
    bool soundChecked_ = true;
    bool musicChecked_ = true;
    bool windowModeChecked_ = false;
};
