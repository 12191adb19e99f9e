#pragma once
// Asynchronous playback of a WAV file through a GStreamer playbin. Each sound runs on its own
// pipeline that frees itself at its end or on any error; a missing file, a missing plug-in
// or no sound device simply plays nothing.

#include <filesystem>

class ClickSound {
public:
    // Starts playing `file` and returns at once.
    static void Play(const std::filesystem::path& file);
};
