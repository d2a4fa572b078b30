// The programs that show saved pictures and printed pages outside KELMAR
// (pdftoppm, rsvg-convert, wmf2gd and wmf2svg, all installed by
// scripts/install-deps.sh), run on a file and their drawing read back.
#pragma once

#include <QImage>
#include <QProcess>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <string>

namespace kelmar::ui::testing {

// The tool's path, or empty when it is not installed.
inline QString ViewerTool(const char* name) { return QStandardPaths::findExecutable(QString::fromUtf8(name)); }

// Runs `program` with `arguments`; false (with the test failed) when it
// does not end well.
inline bool RunTool(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0) {
        ADD_FAILURE() << program.toStdString() << " " << arguments.join(' ').toStdString() << " failed: "
                      << process.errorString().toStdString() << "\n"
                      << process.readAllStandardError().toStdString();
        return false;
    }
    return true;
}

// The one page of `pdf` as pdftoppm draws it at `dotsPerInch`.
inline QImage PdfPage(const QString& pdftoppm, const std::string& pdf, int dotsPerInch) {
    const QString prefix = QString::fromStdString(pdf + ".page");
    if (!RunTool(pdftoppm, {"-png", "-singlefile", "-r", QString::number(dotsPerInch), QString::fromStdString(pdf), prefix}))
        return {};
    return QImage(prefix + ".png").convertToFormat(QImage::Format_RGB32);
}

// The smallest rectangle holding every pixel that is not white paper.
inline QRect InkBox(const QImage& image) {
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixel(x, y) != qRgb(255, 255, 255)) box |= QRect(x, y, 1, 1);
    return box;
}

}  // namespace kelmar::ui::testing
