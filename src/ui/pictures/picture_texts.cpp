#include "ui/pictures/picture_texts.h"

#include <QFileInfo>

namespace kelmar::ui {

QString ChartPictureName(const QDateTime& localTime, const QString& extension) {
    // Format strings read digits only, so no locale enters the name.
    return localTime.toString(QStringLiteral("dd.MM.yyyy_HH.mm.ss")) + extension;
}

QString PictureSavedMessage(const QString& fileName) {
    return QStringLiteral("File \"%1\" saved.").arg(fileName);
}

QString PictureNameFilter(const QString& kind, const QString& extension) {
    return QStringLiteral("%1 (*%2)").arg(kind, extension);
}

QString WithPictureExtension(const QString& fileName, const QString& extension) {
    if (!QFileInfo(fileName).suffix().isEmpty()) return fileName;
    // A name typed with its full stop ("chart.") takes the extension after it, not a second one.
    return fileName.endsWith('.') && extension.startsWith('.') ? fileName + extension.mid(1) : fileName + extension;
}

}  // namespace kelmar::ui
