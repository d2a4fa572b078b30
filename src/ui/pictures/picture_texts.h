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

// "PNG images (*.png)": the name filter of a save dialog for one kind.
QString PictureNameFilter(const QString& kind, const QString& extension);

// `fileName` as typed, with `extension` added when its last part has no
// extension of its own ("chart" -> "chart.png", "a.b/chart" -> "a.b/chart.png");
// a name with another extension is kept, as the user wrote it.
QString WithPictureExtension(const QString& fileName, const QString& extension);

// File "NAME" saved.
QString PictureSavedMessage(const QString& fileName);

}  // namespace kelmar::ui
