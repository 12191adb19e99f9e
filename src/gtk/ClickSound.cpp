#include "gtk/ClickSound.h"

#include <gst/gst.h>

#include <cstdlib>
#include <string>

namespace {

gboolean OnBusMessage(GstBus*, GstMessage* message, gpointer data) {
    auto* pipeline = static_cast<GstElement*>(data);
    switch (GST_MESSAGE_TYPE(message)) {
        case GST_MESSAGE_EOS:
        case GST_MESSAGE_ERROR:
            gst_element_set_state(pipeline, GST_STATE_NULL);
            gst_object_unref(pipeline);
            return FALSE;  // removes the watch
        default:
            return TRUE;
    }
}

bool SoundEnabled() {
    // Headless runs (tests, CI) may switch the device off altogether.
    const char* value = std::getenv("TORVANE_SOUND");
    return !(value && std::string(value) == "off");
}

}  // namespace

void ClickSound::Play(const std::filesystem::path& file) {
    std::error_code error;
    if (!SoundEnabled() || !std::filesystem::is_regular_file(file, error)) return;
    if (!gst_is_initialized()) {
        if (!gst_init_check(nullptr, nullptr, nullptr)) return;
    }
    GstElement* pipeline = gst_element_factory_make("playbin", nullptr);
    if (!pipeline) return;
    gchar* uri = gst_filename_to_uri(std::filesystem::absolute(file).c_str(), nullptr);
    if (!uri) {
        gst_object_unref(pipeline);
        return;
    }
    g_object_set(pipeline, "uri", uri, nullptr);
    g_free(uri);
    // No picture ever comes with a click, so no video sink is wanted.
    if (GstElement* fake = gst_element_factory_make("fakesink", nullptr)) {
        g_object_set(pipeline, "video-sink", fake, nullptr);
    }
    GstBus* bus = gst_element_get_bus(pipeline);
    gst_bus_add_watch(bus, &OnBusMessage, pipeline);
    gst_object_unref(bus);
    if (gst_element_set_state(pipeline, GST_STATE_PLAYING) == GST_STATE_CHANGE_FAILURE) {
        GstBus* failed = gst_element_get_bus(pipeline);
        gst_bus_remove_watch(failed);
        gst_object_unref(failed);
        gst_element_set_state(pipeline, GST_STATE_NULL);
        gst_object_unref(pipeline);
    }
}
