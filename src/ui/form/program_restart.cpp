#include "ui/form/program_restart.h"

#include <QCoreApplication>
#include <QProcess>

namespace kelmar::ui {

bool QtProgramRestart::StartDetached(const QString& program) { return QProcess::startDetached(program, {}); }

void QtProgramRestart::Quit() { QCoreApplication::quit(); }

}  // namespace kelmar::ui
