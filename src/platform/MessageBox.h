#pragma once
// Message boxes as the core raises them. The core never draws one itself: whoever starts it
// (the window front end, the terminal front end, a test, a tool) injects the function that
// shows, prints or records the box. Texts are bytes in the deployment's code page.

#include <functional>
#include <string>

enum class MessageBoxIcon { None, Stop, Information, Warning };

using MessageBoxFunction =
    std::function<void(const std::string& text, const std::string& caption, MessageBoxIcon icon)>;
