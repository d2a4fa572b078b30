#include "ui/figures/offscreen_application.h"

#include <QApplication>

#include <cstdio>

namespace kelmar::ui {

namespace {

void PassCritical(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg) std::fprintf(stderr, "%s\n", qPrintable(message));
}

}  // namespace

OffscreenApplication::OffscreenApplication() = default;
OffscreenApplication::~OffscreenApplication() = default;

void OffscreenApplication::Ensure() {
    if (QApplication::instance()) return;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "kelmar-cli";
    static char* argv[] = {name, nullptr};
    Application = std::make_unique<QApplication>(argc, argv);
}

CriticalMessagesOnly::CriticalMessagesOnly() : Previous(qInstallMessageHandler(PassCritical)) {}

CriticalMessagesOnly::~CriticalMessagesOnly() { qInstallMessageHandler(Previous); }

}  // namespace kelmar::ui
