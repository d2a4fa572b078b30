// The file dialogs and message boxes the commands show. The window uses the
// real ones; tests answer them.
#pragma once

#include <QString>

#include <functional>
#include <optional>

#include "app/file_dialogs.h"

class QPrinter;

namespace kelmar::ui {

class UserDialogs {
public:
    virtual ~UserDialogs() = default;

    // Shows a file dialog starting in `folder`; nothing when it is cancelled.
    virtual std::optional<QString> AskFile(const FileDialogSpec& request, const QString& folder) = 0;

    // Shows a folder dialog titled `title` starting in `folder`; nothing when
    // it is cancelled.
    virtual std::optional<QString> AskFolder(const QString& title, const QString& folder) = 0;

    virtual void Warning(const QString& text) = 0;      // a warning with an OK button
    virtual void Information(const QString& text) = 0;  // an information with an OK button
    virtual void Error(const QString& text) = 0;        // an error that abandoned a command

    // A save dialog for a picture of the chart: `filter` as Qt writes name
    // filters ("PNG images (*.png)"), `proposed` the full path it starts
    // with. Nothing when it is cancelled.
    virtual std::optional<QString> AskPictureFile(const QString& title, const QString& filter,
                                                  const QString& proposed) = 0;
    // Results not yet saved would be lost: save them first, discard them,
    // or cancel the command that would lose them.
    enum class UnsavedAnswer { Save, Discard, Cancel };
    virtual UnsavedAnswer AskUnsaved(const QString& text) = 0;
    // The keys of the commands and where the guide is.
    virtual void Help(const QString& text) = 0;

    // The print dialog for `printer` (the printer or a file, the pages, the
    // orientation and paper, the copies), starting from what `printer` holds:
    // true when the person chose to print, with the choices set on
    // `printer`; false when they cancelled.
    virtual bool AskPrint(QPrinter& printer) = 0;
    // A preview of the pages `paint` draws on `printer`, from whose print
    // dialog the person may print: true when they printed (`printer` then
    // holds where), false when they closed it. An error raised by `paint`
    // is raised again once the preview is closed.
    using PagePainter = std::function<void(QPrinter&)>;
    virtual bool PreviewPrint(QPrinter& printer, const PagePainter& paint) = 0;
};

}  // namespace kelmar::ui
