// File dialogs and message boxes on screen.
#pragma once

#include <QFileDialog>

#include "ui/form/user_dialogs.h"

namespace kelmar::ui {

class QtUserDialogs : public UserDialogs {
public:
    explicit QtUserDialogs(QWidget* parent);

    std::optional<QString> AskFile(const FileDialogSpec& request, const QString& folder) override;
    void Warning(const QString& text) override;
    void Information(const QString& text) override;
    void Error(const QString& text) override;

private:
    QWidget* Parent;
    // One open and one save dialog for all commands, so that what a command
    // does not set (a name, a default extension) stays as the last use left it.
    QFileDialog OpenDialog1;
    QFileDialog SaveDialog1;
    // The last name chosen in each dialog, offered by a command that
    // proposes none of its own.
    QString LastOpenName;
    QString LastSaveName;
};

// "sit files|*.sit|All files|*.*" as Qt writes name filters; "*.*" becomes
// "*" where it would hide names without a full stop.
QStringList NameFilters(const char* filter);

}  // namespace kelmar::ui
