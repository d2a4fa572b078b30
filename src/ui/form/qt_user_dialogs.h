// File dialogs and message boxes on screen.
#pragma once

#include <QFileDialog>

#include <map>

#include "ui/form/user_dialogs.h"

namespace kelmar::ui {

class QtUserDialogs : public UserDialogs {
public:
    explicit QtUserDialogs(QWidget* parent);

    std::optional<QString> AskFile(const FileDialogSpec& request, const QString& folder) override;
    std::optional<QString> AskFolder(const QString& title, const QString& folder) override;
    void Warning(const QString& text) override;
    void Information(const QString& text) override;
    void Error(const QString& text) override;
    std::optional<QString> AskPictureFile(const QString& title, const QString& filter,
                                          const QString& proposed) override;
    UnsavedAnswer AskUnsaved(const QString& text) override;
    void Help(const QString& text) override;
    bool AskPrint(QPrinter& printer) override;
    bool PreviewPrint(QPrinter& printer, const PagePainter& paint) override;

private:
    QWidget* Parent;
    // One open and one save dialog for all commands, so that what a command
    // does not set (a name, a default extension) stays as the last use left it.
    QFileDialog OpenDialog1;
    QFileDialog SaveDialog1;
    // The name of the file of each kind (its filter's first extension,
    // "sit", "wed", ...) opened or saved last, which a command that proposes
    // no name of its own offers: the site save offers the site read, never
    // the results' name with another extension.
    std::map<QString, QString> LastNameOfKind;
};

// "sit files|*.sit|All files|*.*" as Qt writes name filters; "*.*" becomes
// "*" where it would hide names without a full stop.
QStringList NameFilters(const char* filter);

}  // namespace kelmar::ui
