#pragma once
// The news view: a web view placed as a child of a window at a rectangle its owner sets.
// It navigates when told to and reports nothing back; a failed page shows whatever the
// engine shows for it.

#include <string>

#include <gtkmm/fixed.h>
#include <gtkmm/widget.h>

class CWebBrowser {
public:
    CWebBrowser();
    ~CWebBrowser();
    CWebBrowser(const CWebBrowser&) = delete;
    CWebBrowser& operator=(const CWebBrowser&) = delete;

    // Creates the view inside `parent` at `left`, `top` with the given size.
    bool Create(Gtk::Fixed& parent, int left, int top, int width, int height);
    void Move(int left, int top, int width, int height);
    void Navigate(const std::string& url);
    void Show(bool visible);

    Gtk::Widget* Widget() { return widget_; }
    int Left() const { return left_; }
    int Top() const { return top_; }
    int Width() const { return width_; }
    int Height() const { return height_; }

private:
    Gtk::Fixed* parent_ = nullptr;
    Gtk::Widget* widget_ = nullptr;
    int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
};
