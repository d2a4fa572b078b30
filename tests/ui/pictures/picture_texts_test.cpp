// Picture file names from the local time, and the confirmation text.
#include <gtest/gtest.h>

#include <QLocale>

#include "ui/pictures/picture_texts.h"

namespace kelmar::ui {
namespace {

TEST(ChartPictureName, TwoDigitFieldsFixedSeparatorsAnd24HourClock) {
    struct Case {
        QDate date;
        QTime time;
        const QString& extension;
        const char* name;
    };
    const Case cases[] = {
        {{2024, 12, 8}, {21, 5, 9}, BITMAP_EXTENSION, "08.12.2024_21.05.09.bmp"},
        {{2025, 2, 1}, {9, 3, 7}, BITMAP_EXTENSION, "01.02.2025_09.03.07.bmp"},
        {{2025, 2, 1}, {9, 3, 7}, METAFILE_EXTENSION, "01.02.2025_09.03.07.wmf"},
        {{2000, 1, 1}, {0, 0, 0}, METAFILE_EXTENSION, "01.01.2000_00.00.00.wmf"},
        {{1999, 11, 30}, {12, 59, 59}, BITMAP_EXTENSION, "30.11.1999_12.59.59.bmp"},
        {{2031, 10, 10}, {23, 10, 10}, BITMAP_EXTENSION, "10.10.2031_23.10.10.bmp"},
    };
    // A locale with other date and time separators changes nothing.
    const QLocale before;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    for (const Case& c : cases) {
        const QDateTime local(c.date, c.time, Qt::LocalTime);
        EXPECT_EQ(ChartPictureName(local, c.extension).toStdString(), c.name)
            << local.toString(Qt::ISODate).toStdString();
    }
    QLocale::setDefault(before);
}

TEST(PictureSavedMessage, QuotesTheNameBetweenFixedWords) {
    EXPECT_EQ(PictureSavedMessage("08.12.2024_21.05.09.bmp").toStdString(), "File \"08.12.2024_21.05.09.bmp\" saved.");
    EXPECT_EQ(PictureSavedMessage("a %1 b.wmf").toStdString(), "File \"a %1 b.wmf\" saved.");
}

// Only a name whose last part has no extension gets the picture's; a folder
// with a full stop does not count, and an extension the user typed is kept.
TEST(WithPictureExtension, AddsTheExtensionOnlyToANameWithoutOne) {
    const struct {
        const char* typed;
        const char* saved;
    } cases[] = {{"/tmp/chart", "/tmp/chart.png"},
                 {"/tmp/a.b/chart", "/tmp/a.b/chart.png"},
                 {"/tmp/chart.png", "/tmp/chart.png"},
                 {"/tmp/chart.v2.png", "/tmp/chart.v2.png"},
                 {"/tmp/chart.jpg", "/tmp/chart.jpg"},
                 {"/tmp/chart.", "/tmp/chart.png"}};
    for (const auto& c : cases)
        EXPECT_EQ(WithPictureExtension(c.typed, ".png").toStdString(), c.saved) << "typed " << c.typed;
}

}  // namespace
}  // namespace kelmar::ui
