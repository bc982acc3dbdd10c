// Messages.cpp: the message box and the default handling of a handler's error.
#include "updater/ui/Messages.h"

#include <QApplication>
#include <QMessageBox>
#include <exception>

namespace velmoran {

namespace {

std::function<void(const std::string&)>& Handler() {
    static std::function<void(const std::string&)> handler;
    return handler;
}

void Show(const std::string& text, QMessageBox::Icon icon) {
    if (Handler()) {
        Handler()(text);
        return;
    }
    QMessageBox box(icon, QString::fromUtf8(kApplicationTitle), QString::fromStdString(text),
                    QMessageBox::Ok, QApplication::activeWindow());
    box.exec();
}

} // namespace

void ShowMessageBox(const std::string& text) {
    Show(text, QMessageBox::NoIcon);
}

void ShowErrorBox(const std::string& text) {
    Show(text, QMessageBox::Critical);
}

void SetMessageBoxHandler(std::function<void(const std::string&)> handler) {
    Handler() = std::move(handler);
}

void RunHandler(const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& e) {
        ShowErrorBox(e.what());
    }
}

} // namespace velmoran
