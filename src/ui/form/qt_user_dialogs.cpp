#include "ui/form/qt_user_dialogs.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QFileInfo>
#include <QItemSelectionModel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTimer>

#include <exception>

namespace kelmar::ui {

namespace {

// "*.*" matches only names with a full stop outside Windows; "All files"
// means every name, so Qt gets "*".
QString PlatformPattern(const QString& pattern) {
#ifndef Q_OS_WIN
    if (pattern == "*.*") return "*";
#endif
    return pattern;
}

// Closes the suggestion lists of the dialog's name box. A list opened while
// the dialog was shown (or by a change of the box's text) is a window of its
// own and would otherwise stay on screen after the dialog, taking the next
// click.
void CloseSuggestionLists(QFileDialog& dialog) {
    for (QCompleter* completer : dialog.findChildren<QCompleter*>())
        if (QAbstractItemView* popup = completer->popup(); popup != nullptr && popup->isVisible()) popup->hide();
}

// Makes a typed name win over a selection the file list made by itself: the
// folder is listed in the background, and a listing that arrives after the
// dialog opened selects the folder or the proposed file, which Enter would
// then open (or, for the folder, enter) in place of the name the person typed.
void PreferTypedNames(QFileDialog& dialog) {
    constexpr const char* CONNECTED = "kelmarPrefersTypedNames";
    if (dialog.property(CONNECTED).toBool()) return;
    auto* nameBox = dialog.findChild<QLineEdit*>("fileNameEdit");
    auto* list = dialog.findChild<QAbstractItemView*>("listView");
    if (nameBox == nullptr || list == nullptr) return;
    QObject::connect(nameBox, &QLineEdit::textEdited, &dialog, [list] {
        if (QItemSelectionModel* selection = list->selectionModel()) selection->clearSelection();
    });
    dialog.setProperty(CONNECTED, true);
}

// Puts `name` (no name: an empty box) in the dialog's name box. selectFile
// alone leaves the box as it was when the list already selects that file
// from an earlier use, or when the name is empty.
void ProposeName(QFileDialog& dialog, const QString& name) {
    if (!name.isEmpty()) dialog.selectFile(name);
    if (auto* nameBox = dialog.findChild<QLineEdit*>("fileNameEdit")) nameBox->setText(name);
}

}  // namespace

QStringList NameFilters(const char* filter) {
    const QStringList parts = QString::fromUtf8(filter).split('|');
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        filters << QString("%1 (%2)").arg(parts[i], PlatformPattern(parts[i + 1]));
    return filters;
}

QtUserDialogs::QtUserDialogs(QWidget* parent) : Parent(parent), OpenDialog1(parent), SaveDialog1(parent) {
    OpenDialog1.setObjectName("OpenDialog1");
    OpenDialog1.setAcceptMode(QFileDialog::AcceptOpen);
    // Any typed name is returned, existing or not: the readers add their
    // extension to a name without a full stop and warn about a missing file
    // themselves.
    OpenDialog1.setFileMode(QFileDialog::AnyFile);
    SaveDialog1.setObjectName("SaveDialog1");
    SaveDialog1.setAcceptMode(QFileDialog::AcceptSave);
    SaveDialog1.setFileMode(QFileDialog::AnyFile);
    // The platform's own dialogs cannot keep the last name between uses everywhere.
    OpenDialog1.setOption(QFileDialog::DontUseNativeDialog);
    SaveDialog1.setOption(QFileDialog::DontUseNativeDialog);
    // An existing file is replaced only once the person agreed: the save
    // dialog asks (QFileDialog's own question).
}

namespace {

// The kind of files a filter is for: its first pattern's extension
// ("sit files|*.sit" gives "sit"), lower case.
QString KindOf(const char* filter) {
    const QStringList parts = QString::fromUtf8(filter).split('|');
    if (parts.size() < 2) return {};
    const QString pattern = parts[1];
    const int dot = pattern.lastIndexOf('.');
    return dot < 0 ? QString() : pattern.mid(dot + 1).toLower();
}

}  // namespace

std::optional<QString> QtUserDialogs::AskFolder(const QString& title, const QString& folder) {
    // A dialog of its own: the file dialogs keep their names and filters.
    const QString chosen = QFileDialog::getExistingDirectory(Parent, title, folder, QFileDialog::ShowDirsOnly);
    if (chosen.isEmpty()) return std::nullopt;
    return chosen;
}

std::optional<QString> QtUserDialogs::AskFile(const FileDialogSpec& request, const QString& folder) {
    QFileDialog& dialog = request.save ? SaveDialog1 : OpenDialog1;
    const QString kind = KindOf(request.filter);
    dialog.setWindowTitle(QString::fromUtf8(request.title));
    dialog.setNameFilters(NameFilters(request.filter));
    dialog.setDirectory(folder);
    // A command without a proposed name offers the file of its kind opened
    // or saved last, or no name. Names are set only here, before the dialog
    // is shown, never on the hidden dialog after it closed.
    const auto last = LastNameOfKind.find(kind);
    ProposeName(dialog, *request.proposedName ? QString::fromUtf8(request.proposedName)
                        : last != LastNameOfKind.end() ? last->second
                                                       : QString());
    if (*request.defaultExtension) {
        QString suffix = QString::fromUtf8(request.defaultExtension);
        if (suffix.startsWith('.')) suffix.remove(0, 1);
        dialog.setDefaultSuffix(suffix);
    }
    PreferTypedNames(dialog);
    CloseSuggestionLists(dialog);
    const int answer = dialog.exec();
    CloseSuggestionLists(dialog);
    if (answer != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
    const QString chosen = dialog.selectedFiles().first();
    if (!kind.isEmpty()) LastNameOfKind[kind] = QFileInfo(chosen).fileName();
    return chosen;
}

void QtUserDialogs::Warning(const QString& text) { QMessageBox::warning(Parent, "Warning", text); }

void QtUserDialogs::Information(const QString& text) { QMessageBox::information(Parent, "Information", text); }

void QtUserDialogs::Error(const QString& text) { QMessageBox::critical(Parent, "Error", text); }

std::optional<QString> QtUserDialogs::AskPictureFile(const QString& title, const QString& filter,
                                                     const QString& proposed) {
    const QString chosen = QFileDialog::getSaveFileName(Parent, title, proposed, filter);
    if (chosen.isEmpty()) return std::nullopt;
    return chosen;
}

UserDialogs::UnsavedAnswer QtUserDialogs::AskUnsaved(const QString& text) {
    switch (QMessageBox::question(Parent, "Unsaved results", text,
                                  QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel,
                                  QMessageBox::Cancel)) {
    case QMessageBox::Save: return UnsavedAnswer::Save;
    case QMessageBox::Discard: return UnsavedAnswer::Discard;
    default: return UnsavedAnswer::Cancel;  // Cancel, Escape, the window's close box
    }
}

void QtUserDialogs::Help(const QString& text) { QMessageBox::information(Parent, "Help", text); }

bool QtUserDialogs::AskPrint(QPrinter& printer) {
    QPrintDialog dialog(&printer, Parent);
    dialog.setWindowTitle("Print chart");
    // The chart is one page: no selection or current page to choose from.
    dialog.setOptions(QAbstractPrintDialog::PrintToFile | QAbstractPrintDialog::PrintShowPageSize);
    dialog.setMinMax(1, 1);
    return dialog.exec() == QDialog::Accepted;
}

bool QtUserDialogs::PreviewPrint(QPrinter& printer, const PagePainter& paint) {
    QPrintPreviewDialog dialog(&printer, Parent);
    dialog.setWindowTitle("Print preview");
    // Qt sizes the preview by its tool bar alone, which leaves the page a
    // stamp; it takes most of the window instead, the whole page in view.
    if (Parent != nullptr) dialog.resize(Parent->window()->size() * 0.85);
    // Qt's event loop cannot carry an exception: the first one is kept for the caller.
    std::exception_ptr failure;
    QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [&](QPrinter* pages) {
        if (failure) return;
        try {
            paint(*pages);
        } catch (...) {
            failure = std::current_exception();
            // Queued: the preview paints while it is being shown, before its event loop runs.
            QTimer::singleShot(0, &dialog, &QDialog::reject);
        }
    });
    const bool printed = dialog.exec() == QDialog::Accepted;
    if (failure) std::rethrow_exception(failure);
    return printed;
}

}  // namespace kelmar::ui
