#include "ui/qt_user_dialogs.h"

#include <QMessageBox>

namespace kelmar::ui {

QStringList NameFilters(const char* filter) {
    const QStringList parts = QString::fromUtf8(filter).split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) filters << QString("%1 (%2)").arg(parts[i], parts[i + 1]);
    return filters;
}

QtUserDialogs::QtUserDialogs(QWidget* parent) : Parent(parent), OpenDialog1(parent), SaveDialog1(parent) {
    OpenDialog1.setObjectName("OpenDialog1");
    OpenDialog1.setAcceptMode(QFileDialog::AcceptOpen);
    OpenDialog1.setFileMode(QFileDialog::ExistingFile);
    SaveDialog1.setObjectName("SaveDialog1");
    SaveDialog1.setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1.setFileMode(QFileDialog::AnyFile);
    // The platform's own dialogs cannot keep the last name between uses everywhere.
    OpenDialog1.setOption(QFileDialog::DontUseNativeDialog);
    SaveDialog1.setOption(QFileDialog::DontUseNativeDialog);
    // A file is replaced without a question, as every save command does.
    SaveDialog1.setOption(QFileDialog::DontConfirmOverwrite);
}

std::optional<QString> QtUserDialogs::AskFile(const FileDialogSpec& request, const QString& folder) {
    QFileDialog& dialog = request.save ? SaveDialog1 : OpenDialog1;
    dialog.setWindowTitle(QString::fromUtf8(request.title));
    dialog.setNameFilters(NameFilters(request.filter));
    dialog.setDirectory(folder);
    if (*request.proposedName) dialog.selectFile(QString::fromUtf8(request.proposedName));
    if (*request.defaultExtension) {
        QString suffix = QString::fromUtf8(request.defaultExtension);
        if (suffix.startsWith('.')) suffix.remove(0, 1);
        dialog.setDefaultSuffix(suffix);
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    // The next use that proposes no name of its own offers this one.
    const QString chosen = dialog.selectedFiles().first();
    dialog.selectFile(chosen);
    return chosen;
}

void QtUserDialogs::Warning(const QString& text) { QMessageBox::warning(Parent, "Warning", text); }

void QtUserDialogs::Information(const QString& text) { QMessageBox::information(Parent, "Information", text); }

void QtUserDialogs::Error(const QString& text) { QMessageBox::critical(Parent, "Error", text); }

}  // namespace kelmar::ui
