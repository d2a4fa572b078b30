// Names of the chart's picture files and the message that confirms a save.
#pragma once

#include <QDateTime>
#include <QString>

namespace kelmar::ui {

inline const QString BITMAP_EXTENSION = QStringLiteral(".bmp");
inline const QString METAFILE_EXTENSION = QStringLiteral(".wmf");
inline const QString PNG_EXTENSION = QStringLiteral(".png");
inline const QString SVG_EXTENSION = QStringLiteral(".svg");
inline const QString PDF_EXTENSION = QStringLiteral(".pdf");

// "dd.mm.yyyy_hh.mm.ss" of `localTime` (24-hour clock, the second "mm" the
// minutes) followed by `extension`; the dots and the underscore are fixed,
// whatever separators the user's locale has. 08.12.2024_21.05.09.bmp
QString ChartPictureName(const QDateTime& localTime, const QString& extension);

// File "NAME" saved.
QString PictureSavedMessage(const QString& fileName);

}  // namespace kelmar::ui
