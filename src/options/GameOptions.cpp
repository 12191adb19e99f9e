#include "options/GameOptions.h"

#include <utility>

#include "platform/CodePage.h"
#include "text/MessageNumbers.h"
#include "text/MessageTable.h"

namespace {
constexpr RegistryRoot kRoot = RegistryRoot::CurrentUser;
}

GameOptions::GameOptions(Registry& registry, MessageBoxFunction showMessage)
    : registry_(registry), showMessage_(std::move(showMessage)) {
    LoadSettings();
}

bool GameOptions::OpenKey() {
    return registry_.CreateKey(kRoot, kGameConfigKey) == Registry::Status::Ok;
}

void GameOptions::ShowKeyFailure() const {
    if (showMessage_)
        showMessage_(GetText(kMsgOptionsUnavailable), GetText(kMsgOptionsTitle),
                     MessageBoxIcon::Stop);
}

void GameOptions::LoadSettings() {
    settings_ = GameSettings{};
    if (!OpenKey()) {
        ShowKeyFailure();
        PushToControls();
        return;
    }

    std::string id;
    if (registry_.QueryString(kRoot, kGameConfigKey, "ID", &id) == Registry::Status::Ok &&
        id.size() < kIdReadBufferSize) {
        settings_.ID = id;
    } else {
        registry_.SetString(kRoot, kGameConfigKey, "ID", "");
    }

    const std::pair<const char*, std::int32_t*> numbers[] = {{"SoundOnOff", &settings_.SoundOnOff},
                                                             {"MusicOnOff", &settings_.MusicOnOff},
                                                             {"Resolution", &settings_.Resolution},
                                                             {"ColorDepth", &settings_.ColorDepth},
                                                             {"WindowMode", &settings_.WindowMode}};
    for (const auto& [name, field] : numbers) {
        std::uint32_t stored = 0;
        if (registry_.QueryDword(kRoot, kGameConfigKey, name, &stored) == Registry::Status::Ok) {
            *field = static_cast<std::int32_t>(stored);
        } else {
            registry_.SetDword(kRoot, kGameConfigKey, name, static_cast<std::uint32_t>(*field));
        }
        if (field == &settings_.Resolution && settings_.Resolution == 0) settings_.Resolution = 1;
    }
    registry_.Commit();
    PushToControls();
}

void GameOptions::PushToControls() {
    idText_ = settings_.ID;
    soundChecked_ = settings_.SoundOnOff == 1;
    musicChecked_ = settings_.MusicOnOff == 1;
    windowModeChecked_ = settings_.WindowMode == 1;
}

int GameOptions::SelectedResolution() const {
    return settings_.Resolution >= 1 && settings_.Resolution <= 4 ? settings_.Resolution : 0;
}

int GameOptions::SelectedColorDepth() const {
    return settings_.ColorDepth == 0 || settings_.ColorDepth == 1 ? settings_.ColorDepth : -1;
}

void GameOptions::SetIdText(std::string_view text) {
    idText_ = std::string(text.substr(0, kMaxIdLength));
}

void GameOptions::SetIdText(std::string_view text, const std::string& codePage) {
    idText_ = std::string(text.substr(0, FitToCharacters(text, kMaxIdLength, codePage)));
}

std::string GameOptions::FitIdBoxText(std::string_view utf8, const std::string& codePage) {
    const std::string bytes = EncodeFromUtf8(utf8, codePage);
    if (bytes.size() <= kMaxIdLength) return std::string(utf8);
    return DecodeToUtf8(
        std::string_view(bytes).substr(0, FitToCharacters(bytes, kMaxIdLength, codePage)),
        codePage);
}

void GameOptions::ChooseResolution(int choice) {
    if (choice >= 1 && choice <= 4) settings_.Resolution = choice;
}

void GameOptions::ChooseColorDepth(int depth) {
    if (depth == 0 || depth == 1) settings_.ColorDepth = depth;
}

GameOptions::SaveResult GameOptions::SaveSettings() {
    settings_.ID = idText_;
    settings_.SoundOnOff = soundChecked_ ? 1 : 0;
    settings_.MusicOnOff = musicChecked_ ? 1 : 0;
    settings_.WindowMode = windowModeChecked_ ? 1 : 0;
    if (!OpenKey()) {
        ShowKeyFailure();
        return SaveResult::KeyFailed;
    }
    ValidateSettings(settings_);

    registry_.SetString(kRoot, kGameConfigKey, "ID", settings_.ID);
    const std::pair<const char*, std::int32_t> numbers[] = {{"SoundOnOff", settings_.SoundOnOff},
                                                            {"MusicOnOff", settings_.MusicOnOff},
                                                            {"ColorDepth", settings_.ColorDepth},
                                                            {"Resolution", settings_.Resolution},
                                                            {"WindowMode", settings_.WindowMode}};
    for (const auto& [name, value] : numbers) {
        registry_.SetDword(kRoot, kGameConfigKey, name, static_cast<std::uint32_t>(value));
    }
    registry_.Commit();
    return SaveResult::Saved;
}
