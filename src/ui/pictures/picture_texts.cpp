#include "ui/pictures/picture_texts.h"

namespace kelmar::ui {

QString ChartPictureName(const QDateTime& localTime, const QString& extension) {
    // Format strings read digits only, so no locale enters the name.
    return localTime.toString(QStringLiteral("dd.MM.yyyy_HH.mm.ss")) + extension;
}

QString PictureSavedMessage(const QString& fileName) {
    return QStringLiteral("File \"%1\" saved.").arg(fileName);
}

}  // namespace kelmar::ui
