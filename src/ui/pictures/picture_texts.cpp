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
    return QFileInfo(fileName).suffix().isEmpty() ? fileName + extension : fileName;
}

}  // namespace kelmar::ui
