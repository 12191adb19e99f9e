#include "gtk/WebBrowser.h"

#include <webkit2/webkit2.h>

CWebBrowser::CWebBrowser() = default;

CWebBrowser::~CWebBrowser() = default;  // the parent owns the widget

bool CWebBrowser::Create(Gtk::Fixed& parent, int left, int top, int width, int height) {
    if (widget_) return true;
    GtkWidget* view = webkit_web_view_new();
    if (!view) return false;
    widget_ = Gtk::manage(Glib::wrap(view));
    parent_ = &parent;
    left_ = left;
    top_ = top;
    parent.put(*widget_, left, top);
    Move(left, top, width, height);
    widget_->show();
    return true;
}

void CWebBrowser::Move(int left, int top, int width, int height) {
    left_ = left;
    top_ = top;
    width_ = width;
    height_ = height;
    if (!widget_ || !parent_) return;
    parent_->move(*widget_, left, top);
    widget_->set_size_request(width, height);
}

void CWebBrowser::Navigate(const std::string& url) {
    if (!widget_) return;
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(widget_->gobj()), url.c_str());
}

void CWebBrowser::Show(bool visible) {
    if (!widget_) return;
    if (visible) {
        widget_->show();
    } else {
        widget_->hide();
    }
}
