// "Print" and "Print preview" on the chart's menu: the dialog or the preview
// first, then one page of the chart where the person chose, and the status
// panel says where it went.
#include <QAction>
#include <QApplication>
#include <QTimer>
#include <QCoreApplication>
#include <QLabel>
#include <QMenu>
#include <QPrinter>

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <regex>
#include <string>

#include "io/io_test_support.h"
#include "model/errors.h"
#include "ui/form/main_form.h"
#include "ui/form/qt_user_dialogs.h"
#include "ui/widgets/line_chart.h"
#include "ui/ui_fixtures.h"

namespace kelmar::ui {
namespace {

using kelmar::testing::ReadBytes;
using kelmar::testing::TempDir;

// The width and height (points) of each page of a PDF that Qt wrote.
std::vector<std::pair<double, double>> PdfPages(const std::string& pdf) {
    static const std::regex MEDIA_BOX(R"(/MediaBox \[0 0 ([0-9.]+) ([0-9.]+)\])");
    std::vector<std::pair<double, double>> pages;
    for (auto m = std::sregex_iterator(pdf.begin(), pdf.end(), MEDIA_BOX); m != std::sregex_iterator(); ++m)
        pages.emplace_back(std::stod((*m)[1].str()), std::stod((*m)[2].str()));
    return pages;
}

TEST(PrintChart, TheDialogOrPreviewComesFirstAndTheStatusSaysWhereThePageWent) {
    auto model = testing::SimulatedRunModel(5);
    testing::CommandedWindow window(*model);
    window.form.resize(1000, 600);
    window.form.show();
    testing::ReleaseYears(window, 3);
    const TMainFormControls& ui = window.form.Controls();
    testing::ScriptedDialogs& dialogs = window.dialogs;
    TempDir dir;
    const QString pdf = QString::fromStdString(dir.File("chart.pdf"));
    const QString unwritable = QString::fromStdString(dir.File("missing") + "/chart.pdf");
    // No printer on a test machine: the pages start towards a PDF file of no name.
    window.commands.SetPrinterSource([] {
        auto printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
        printer->setOutputFormat(QPrinter::PdfFormat);
        return printer;
    });
    const auto toFile = [](const QString& file, QPageLayout::Orientation orientation) {
        return [file, orientation](QPrinter& printer) {
            printer.setOutputFileName(file);
            printer.setPageOrientation(orientation);
            return true;
        };
    };
    const auto printFromPreview = [](const QString& file) {
        return [file](QPrinter& printer, const UserDialogs::PagePainter& paint) {
            printer.setOutputFileName(file);
            paint(printer);
            return true;
        };
    };
    const QString before = "Before";
    const QString printedToFile = "Chart printed to file \"" + pdf + "\".";
    const struct {
        const char* name;
        const char* action;
        std::function<bool(QPrinter&)> print;  // nothing: cancelled
        std::function<bool(QPrinter&, const UserDialogs::PagePainter&)> preview;  // nothing: closed
        bool landscape;  // the page written, when one is
        QString status;
        QString error;
    } cases[] = {
        {"print, cancelled", "PrintAction", [](QPrinter&) { return false; }, {}, false, before, {}},
        {"print, portrait", "PrintAction", toFile(pdf, QPageLayout::Portrait), {}, false, printedToFile, {}},
        {"print, landscape", "PrintAction", toFile(pdf, QPageLayout::Landscape), {}, true, printedToFile, {}},
        {"print, unwritable file", "PrintAction", toFile(unwritable, QPageLayout::Portrait), {}, false, before,
         "The chart cannot be printed on \"" + unwritable + "\": the printer cannot be opened."},
        {"preview, closed", "PrintPreviewAction", {}, {}, false, before, {}},
        {"preview, printed", "PrintPreviewAction", {}, printFromPreview(pdf), false, printedToFile, {}},
        {"preview, unwritable file", "PrintPreviewAction", {}, printFromPreview(unwritable), false, before,
         "The chart cannot be printed on \"" + unwritable + "\": the printer cannot be opened."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(pdf.toStdString());
        ui.StatusMessage->setText(before);
        dialogs.errors.clear();
        dialogs.printDialogs = dialogs.previews = 0;
        dialogs.printAnswer = c.print ? c.print : [](QPrinter&) { return false; };
        dialogs.previewAnswer = c.preview;
        const bool preview = std::string(c.action) == "PrintPreviewAction";

        ui.Chart->ContextMenu()->findChild<QAction*>(c.action)->trigger();
        EXPECT_EQ(dialogs.printDialogs, preview ? 0 : 1);
        EXPECT_EQ(dialogs.previews, preview ? 1 : 0);
        EXPECT_EQ(dialogs.errors, c.error.isEmpty() ? QStringList() : QStringList{c.error});
        EXPECT_TRUE(dialogs.warnings.isEmpty() && dialogs.informations.isEmpty());
        EXPECT_EQ(ui.StatusMessage->text(), c.status);
        const bool written = std::filesystem::exists(pdf.toStdString());
        EXPECT_EQ(written, c.status == printedToFile) << "the PDF file written";
        if (!written) continue;
        const std::vector<std::pair<double, double>> pages = PdfPages(ReadBytes(pdf.toStdString()));
        ASSERT_EQ(pages.size(), 1u);
        EXPECT_EQ(pages[0].first > pages[0].second, c.landscape)
            << "page of " << pages[0].first << " x " << pages[0].second << " points";
    }
}

// The dialogs on screen, closed by the person: nothing is printed, and an
// error of the preview's painting reaches the command that asked for it.
TEST(QtPrintDialogs, ClosedDialogsPrintNothingAndAPaintingErrorReachesTheCaller) {
    QWidget parent;
    parent.resize(900, 600);
    QtUserDialogs dialogs(&parent);
    TempDir dir;
    const std::string file = dir.File("chart.pdf");
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(file));
    QTimer closer;  // the person closing whatever dialog is open
    closer.setInterval(100);
    QSize previewSize;
    QObject::connect(&closer, &QTimer::timeout, [&previewSize] {
        QWidget* dialog = QApplication::activeModalWidget();
        if (dialog == nullptr) return;
        if (dialog->windowTitle() == "Print preview") previewSize = dialog->size();
        dialog->close();
    });
    closer.start();

    EXPECT_FALSE(dialogs.AskPrint(printer));
    int painted = 0;
    EXPECT_FALSE(dialogs.PreviewPrint(printer, [&painted](QPrinter&) { ++painted; }));
    EXPECT_GE(painted, 1) << "the preview showed no page";
    // Large enough to read the page, not the tool bar's width alone.
    EXPECT_GE(previewSize.height(), 400) << "preview " << previewSize.width() << "x" << previewSize.height();
    EXPECT_EQ(kelmar::testing::ErrorText([&] {
                  dialogs.PreviewPrint(printer, [](QPrinter&) { throw KelmarError("The page cannot be drawn."); });
              }),
              "The page cannot be drawn.");
    EXPECT_FALSE(std::filesystem::exists(file)) << "printed without being asked";
}

}  // namespace
}  // namespace kelmar::ui
