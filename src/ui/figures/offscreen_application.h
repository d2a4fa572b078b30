// What a module that draws with Qt needs in a process without a Qt
// application (kelmar-cli): an application on the offscreen platform,
// which needs no display, and quiet while it draws.
#pragma once

#include <QtGlobal>

#include <memory>

class QApplication;

namespace kelmar::ui {

// Makes a QApplication unless the process has one, on the offscreen
// platform unless QT_QPA_PLATFORM names another; it lives as long as this.
class OffscreenApplication {
public:
    OffscreenApplication();
    ~OffscreenApplication();
    void Ensure();

private:
    std::unique_ptr<QApplication> Application;
};

// While it lives, only Qt's critical messages reach standard error: its
// notes on the offscreen platform (no runtime folder, no window manager to
// size windows) say nothing about the picture and would only clutter the
// command's output.
class CriticalMessagesOnly {
public:
    CriticalMessagesOnly();
    ~CriticalMessagesOnly();
    CriticalMessagesOnly(const CriticalMessagesOnly&) = delete;
    CriticalMessagesOnly& operator=(const CriticalMessagesOnly&) = delete;

private:
    QtMessageHandler Previous;
};

}  // namespace kelmar::ui
