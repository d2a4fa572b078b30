// Builds the window's controls with their captions, hints, sizes, colours
// and design-time state.
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpressionValidator>
#include <QSlider>
#include <QSplitter>
#include <QStyle>
#include <QStyleFactory>
#include <QStyleOptionFrame>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

#include <algorithm>
#include <vector>

#include "model/run_model.h"
#include "ui/widgets/compact_tab_style.h"
#include "ui/widgets/line_chart.h"
#include "ui/form/main_form.h"
#include "ui/widgets/string_grid.h"
#include "ui/widgets/updown_spinner.h"
#include "ui/widgets/win_color.h"

namespace kelmar::ui {

namespace {

// Window: design client size, smallest size, font.
constexpr QSize DESIGN_SIZE(784, 467);
constexpr QSize MINIMUM_SIZE(640, 400);
constexpr int WINDOW_FONT_PIXELS = 11;
// Heights of the tool bar and the status panel; width of the left pane.
constexpr int TOOL_BAR_HEIGHT = 38;
constexpr int STATUS_PANEL_HEIGHT = 32;
constexpr int LEFT_PANE_WIDTH = 234;
constexpr int LEFT_PANE_MINIMUM_WIDTH = 232;
constexpr int SPLITTER_WIDTH = 2;
// Strips below and above the grids of the tab pages.
constexpr int INPUT_TOP_STRIP_HEIGHT = 104;
constexpr int INPUT_BOTTOM_STRIP_HEIGHT = 46;
constexpr int SITE_STRIP_HEIGHT = 87;
constexpr int CLIMATOLOGY_STRIP_HEIGHT = 66;  // the buttons, then the scenario row
// Tool-bar controls: top of the boxes, size of the flat buttons.
constexpr int TOOL_TOP = 8;
constexpr int TOOL_BOX_HEIGHT = 21;
constexpr int TOOL_BUTTON_SIZE = 30;
constexpr int BUTTON_HEIGHT = 25;

const char* const FOREST_TYPES[] = {"Other", "Spruce", "Pine", "Birch", "Oak"};

// A widget whose background is the window's colour.
QWidget* Panel(const char* name, QWidget* parent = nullptr) {
    auto* panel = new QWidget(parent);
    panel->setObjectName(name);
    panel->setAutoFillBackground(true);
    return panel;
}

template <typename Widget>
Widget* Named(Widget* widget, const char* name) {
    widget->setObjectName(name);
    return widget;
}

// The tool bar: controls left to right at their design x positions, a
// control moved right only where the one before needs more room (a caption
// in a font wider than the design's). Where the window is narrower than the
// row, the two sliders give up width, so that every control stays on the bar.
class ToolBarPanel : public QWidget {
public:
    explicit ToolBarPanel(QWidget* parent) : QWidget(parent) {}

    // A control at design position x; a shrinkable one gives up width, down
    // to MINIMUM_SLIDER_WIDTH, when the bar is too narrow.
    void Add(QWidget* widget, int x, int width, int top, int height, bool shrinkable, int gapAfter) {
        widget->setParent(this);
        Entries.push_back({widget, x, width, top, height, shrinkable, gapAfter});
        LayOut();
    }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QWidget::resizeEvent(event);
        LayOut();
    }

private:
    // Narrowest a slider gets, in pixels: still a handle and a track to drag it on.
    static constexpr int MINIMUM_SLIDER_WIDTH = 36;
    // Room kept free at the bar's right end, in pixels.
    static constexpr int RIGHT_MARGIN = 4;

    struct Entry {
        QWidget* Widget;
        int X, Width, Top, Height;
        bool Shrinkable;
        int GapAfter;
    };

    // Places every control, each shrinkable one `shrink` pixels narrower
    // (never below the minimum), and returns the right end of the row.
    int Place(int shrink, bool apply) {
        int cursor = 0;
        int shrunk = 0;  // width given up by the controls placed so far
        for (const Entry& entry : Entries) {
            const int width =
                entry.Shrinkable ? std::max(MINIMUM_SLIDER_WIDTH, entry.Width - shrink) : entry.Width;
            const int left = std::max(entry.X - shrunk, cursor);
            if (apply) entry.Widget->setGeometry(left, entry.Top, width, entry.Height);
            cursor = left + width + entry.GapAfter;
            shrunk += entry.Width - width;
        }
        return cursor;
    }

    void LayOut() {
        int shrink = 0;
        const int room = width() - RIGHT_MARGIN;
        // At most a few hundred pixels: a step of one pixel is fast enough.
        while (Place(shrink, false) > room && shrink < MaxShrink()) ++shrink;
        Place(shrink, true);
    }

    int MaxShrink() const {
        int most = 0;
        for (const Entry& entry : Entries)
            if (entry.Shrinkable) most = std::max(most, entry.Width - MINIMUM_SLIDER_WIDTH);
        return most;
    }

    std::vector<Entry> Entries;
};

// Adds the tool-bar controls with their names and design geometry.
class ToolBarRow {
public:
    explicit ToolBarRow(ToolBarPanel* bar) : Bar(bar) {}

    template <typename Widget>
    Widget* Place(Widget* widget, const char* name, int x, int width, int top, int height, bool shrinkable = false,
                  int gapAfter = 0) {
        widget->setObjectName(name);
        Bar->Add(widget, x, width, top, height, shrinkable, gapAfter);
        return widget;
    }

    QToolButton* Button(const char* name, const char* hint, QStyle::StandardPixmap icon, int x) {
        auto* button = Place(new QToolButton, name, x, TOOL_BUTTON_SIZE, (TOOL_BAR_HEIGHT - TOOL_BUTTON_SIZE) / 2,
                             TOOL_BUTTON_SIZE);
        button->setAutoRaise(true);
        button->setIcon(Bar->style()->standardIcon(icon));
        button->setIconSize(QSize(20, 20));
        button->setToolTip(hint);
        return button;
    }

    QLabel* Label(const char* name, const char* text, int x, int width) {
        auto* label = new QLabel(text);
        label->setFont(Bar->font());
        label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
        return Place(label, name, x, std::max(width, label->sizeHint().width() + 3), 0, TOOL_BAR_HEIGHT);
    }

    void Separator(int x) {
        auto* line = new QFrame;
        line->setFrameShape(QFrame::VLine);
        line->setFrameShadow(QFrame::Sunken);
        Place(line, "", x, 2, 6, TOOL_BAR_HEIGHT - 12, false, 3);
    }

    QSlider* TrackBar(const char* name, int minimum, int maximum, int x, int width) {
        auto* slider = new QSlider(Qt::Horizontal);
        slider->setRange(minimum, maximum);
        slider->setValue(minimum);
        slider->setPageStep(1);
        slider->setTickPosition(QSlider::NoTicks);
        return Place(slider, name, x, width, TOOL_TOP, TOOL_BOX_HEIGHT, true);
    }

    // An edit box that takes digits only, at least `width` wide and wide
    // enough to show `shownDigits` digits whole in the bar's font.
    QLineEdit* DigitsEdit(const char* name, int x, int width, int shownDigits = 0) {
        auto* edit = new QLineEdit("1");
        edit->setValidator(new QRegularExpressionValidator(QRegularExpression("[0-9]*"), edit));
        edit->setFont(Bar->font());
        return Place(edit, name, x, std::max(width, WidthForDigits(*edit, shownDigits)), TOOL_TOP, TOOL_BOX_HEIGHT);
    }

private:
    // The box's width around `digits` digits: the text, the edit's own
    // margins (2 pixels a side in Qt's line edit), the cursor and the
    // style's frame.
    static int WidthForDigits(const QLineEdit& edit, int digits) {
        if (digits <= 0) return 0;
        constexpr int LINE_EDIT_MARGINS = 2 * 2;
        constexpr int CURSOR_WIDTH = 1;
        const QSize text(edit.fontMetrics().horizontalAdvance(QString(digits, '9')) + LINE_EDIT_MARGINS + CURSOR_WIDTH,
                         edit.fontMetrics().height());
        QStyleOptionFrame option;
        option.initFrom(&edit);
        option.lineWidth = edit.style()->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, &edit);
        return edit.style()->sizeFromContents(QStyle::CT_LineEdit, &option, text, &edit).width();
    }

    ToolBarPanel* Bar;
};

QPushButton* Button(const char* name, const char* caption, int x, int y, int width, QWidget* parent) {
    auto* button = Named(new QPushButton(caption, parent), name);
    button->setGeometry(x, y, width, BUTTON_HEIGHT);
    return button;
}

// A radio button at least `width` wide and wide enough for its caption.
QRadioButton* Radio(const char* name, const char* caption, int x, int y, int width, QWidget* parent) {
    auto* radio = Named(new QRadioButton(caption, parent), name);
    radio->setGeometry(x, y, std::max(width, radio->sizeHint().width()), 20);
    return radio;
}

QLabel* Label(const char* caption, int x, int y, int width, QWidget* parent) {
    auto* label = new QLabel(caption, parent);
    label->setGeometry(x, y, width, 20);
    return label;
}

StringGrid* Grid(const char* name, int columns, int rows, int fixedCols, int fixedRows, int colWidth,
                 QWidget* owner) {
    auto* grid = Named(new StringGrid(columns, rows, owner), name);
    grid->SetFixedCols(fixedCols);
    grid->SetFixedRows(fixedRows);
    for (int c = 0; c < columns; ++c) grid->SetColWidth(c, colWidth);
    QPalette palette = grid->palette();
    palette.setColor(QPalette::Base, WinColor(BACKGROUND_COLOR));
    grid->setPalette(palette);
    return grid;
}

// A page of the left pane: optional strips above and below, the grid in
// between (the space stays while the grid is hidden).
QWidget* GridPage(const char* name, QWidget* owner, QWidget* top, StringGrid* grid, QWidget* bottom) {
    auto* page = Panel(name, owner);
    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    if (top) layout->addWidget(top);
    auto* area = new QWidget(page);
    auto* areaLayout = new QVBoxLayout(area);
    areaLayout->setContentsMargins(0, 0, 0, 0);
    areaLayout->addWidget(grid);
    layout->addWidget(area, 1);
    if (bottom) layout->addWidget(bottom);
    return page;
}

QWidget* Strip(int height, QWidget* owner) {
    auto* strip = Panel("", owner);
    strip->setFixedHeight(height);
    return strip;
}

}  // namespace

void TMainForm::BuildWindow() {
    setWindowTitle("KELMAR");
    setMinimumSize(MINIMUM_SIZE);
    resize(DESIGN_SIZE);
    QFont windowFont = font();
    windowFont.setFamilies({"Tahoma", "Nimbus Sans", "DejaVu Sans"});
    windowFont.setPixelSize(WINDOW_FONT_PIXELS);
    setFont(windowFont);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Window, WinColor(BACKGROUND_COLOR));
    setPalette(palette);

    auto* central = Panel("ClientPanel", this);
    auto* layout = new QVBoxLayout(central);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(BuildToolBar());

    Ui.Pages = Named(new QTabWidget, "Pages");
    Ui.Pages->setAutoFillBackground(true);
    Ui.Pages->setMinimumWidth(LEFT_PANE_MINIMUM_WIDTH);
    auto* tabStyle = new CompactTabStyle(QStyleFactory::create(style()->name()));
    tabStyle->setParent(Ui.Pages);
    Ui.Pages->tabBar()->setStyle(tabStyle);
    Ui.Pages->addTab(BuildInputPage(), "Input");
    Ui.Pages->addTab(BuildSitePage(), "Site params");
    Ui.Pages->addTab(BuildClimatologyPage(), "Climatology");
    Ui.Pages->addTab(BuildResultsPage(), "Results");

    Ui.PaneSplitter = Named(new QSplitter(Qt::Horizontal), "PaneSplitter");
    Ui.PaneSplitter->setHandleWidth(SPLITTER_WIDTH);
    Ui.PaneSplitter->setChildrenCollapsible(false);
    Ui.PaneSplitter->addWidget(Ui.Pages);
    Ui.PaneSplitter->addWidget(BuildChartPanel());
    Ui.PaneSplitter->setStretchFactor(0, 0);
    Ui.PaneSplitter->setStretchFactor(1, 1);
    Ui.PaneSplitter->setSizes({LEFT_PANE_WIDTH, DESIGN_SIZE.width() - LEFT_PANE_WIDTH - SPLITTER_WIDTH});
    layout->addWidget(Ui.PaneSplitter, 1);

    layout->addWidget(BuildStatusPanel());
    setCentralWidget(central);
}

QWidget* TMainForm::BuildToolBar() {
    auto* bar = new ToolBarPanel(this);
    bar->setObjectName("ToolBar");
    bar->setAutoFillBackground(true);
    bar->setFixedHeight(TOOL_BAR_HEIGHT);
    ToolBarRow row(bar);

    Ui.SaveResultsButton = row.Button("SaveResultsButton", "Save file", QStyle::SP_DialogSaveButton, 5);
    row.Separator(37);
    Ui.InitialiseButton = row.Button("InitialiseButton", "Initialisation", QStyle::SP_BrowserReload, 40);
    Ui.StepLabel = row.Label("StepLabel", "Step (years):", 72, 61);
    Ui.StepSlider = row.TrackBar("StepSlider", 0, 10, 133, 106);
    Ui.StepYearsBox = row.DigitsEdit("StepYearsBox", 241, 27);
    // Without the digits-only rule: it would drop a typed sign or decimal
    // point silently ("2.5" becoming 25); Step refuses what is no whole number.
    Ui.StepYearsBox->setValidator(nullptr);
    Ui.StepButton = row.Button("StepButton", "Step", QStyle::SP_MediaSeekForward, 270);
    row.Separator(303);
    Ui.ChartViewLabel = row.Label("ChartViewLabel", "Data on the chart:", 308, 95);
    Ui.ChartViewBox = row.Place(new QComboBox, "ChartViewBox", 403, 108, TOOL_TOP, TOOL_BOX_HEIGHT);
    Ui.ChartViewBox->addItems({"Month by month", "Annual course"});
    Ui.YearLabel = row.Label("YearLabel", "Select year:", 514, 57);
    Ui.YearSlider = row.TrackBar("YearSlider", 1, 10, 571, 105);
    // Calendar years: up to the four digits of the last year a run may reach.
    Ui.YearBox = row.DigitsEdit("YearBox", 678, 25, 4);
    Ui.YearSpinner = row.Place(new UpDownSpinner(*Ui.YearBox, 1, LAST_RUN_YEAR), "YearSpinner", 703, 0, TOOL_TOP,
                               TOOL_BOX_HEIGHT);
    row.Separator(712);
    Ui.ExitButton = row.Button("ExitButton", "Exit", QStyle::SP_DialogCloseButton, 721);

    for (QWidget* control : std::initializer_list<QWidget*>{
             Ui.SaveResultsButton, Ui.InitialiseButton, Ui.StepLabel, Ui.StepSlider, Ui.StepYearsBox, Ui.StepButton,
             Ui.ChartViewLabel, Ui.ChartViewBox, Ui.YearLabel, Ui.YearSlider, Ui.YearBox})
        control->setEnabled(false);
    return bar;
}

QWidget* TMainForm::BuildInputPage() {
    QWidget* top = Strip(INPUT_TOP_STRIP_HEIGHT, this);
    Ui.ObservedWeatherButton = Radio("ObservedWeatherButton", "Weather from file", 8, 8, 108, top);
    Ui.SimulatedWeatherButton = Radio("SimulatedWeatherButton", "Simulated weather", 8, 32, 108, top);
    // The "Open files" buttons stand at x = 119 unless the captions need more room.
    const int buttonsLeft = std::max({119, Ui.ObservedWeatherButton->geometry().right() + 4,
                                      Ui.SimulatedWeatherButton->geometry().right() + 4});
    Ui.OpenObservedFilesButton = Button("OpenObservedFilesButton", "Open files", buttonsLeft, 7, 80, top);
    Ui.OpenObservedFilesButton->setToolTip("Open file");
    Ui.OpenSimulatedFilesButton = Button("OpenSimulatedFilesButton", "Open files", buttonsLeft, 32, 80, top);
    Ui.FileSummaryLabel = Named(Label("", 8, 60, LEFT_PANE_WIDTH - 12, top), "FileSummaryLabel");
    // The file summary, and under it a notice about the run when it has one.
    Ui.FileSummaryLabel->setGeometry(8, 60, LEFT_PANE_WIDTH - 12, INPUT_TOP_STRIP_HEIGHT - 61);
    Ui.FileSummaryLabel->setWordWrap(true);
    Ui.FileSummaryLabel->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    Ui.InputWeatherGrid = Grid("InputWeatherGrid", 6, 2, 2, 1, 55, this);
    Ui.InputWeatherGrid->SetRowSelect(true);
    Ui.InputWeatherGrid->hide();

    QWidget* bottom = Strip(INPUT_BOTTOM_STRIP_HEIGHT, this);
    Ui.SaveWeatherButton = Button("SaveWeatherButton", "Save File", 8, 11, 80, bottom);
    Ui.SaveWeatherButton->setEnabled(false);
    return GridPage("InputPage", this, top, Ui.InputWeatherGrid, bottom);
}

QWidget* TMainForm::BuildSitePage() {
    Ui.SiteGrid = Grid("SiteGrid", 2, 15, 1, 0, 100, this);
    Ui.SiteGrid->SetEditing(true);

    QWidget* strip = Strip(SITE_STRIP_HEIGHT, this);
    Label("Saturation", 8, 6, 70, strip);
    QWidget* saturation = Named(new QWidget(strip), "SaturationGroup");
    saturation->setGeometry(78, 6, 90, 20);
    Ui.SaturationYesButton = Radio("SaturationYesButton", "Yes", 0, 0, 44, saturation);
    Ui.SaturationNoButton = Radio("SaturationNoButton", "No", 46, 0, 40, saturation);
    Label("Permafrost", 8, 30, 70, strip);
    QWidget* permafrost = Named(new QWidget(strip), "PermafrostGroup");
    permafrost->setGeometry(78, 30, 90, 20);
    Ui.PermafrostYesButton = Radio("PermafrostYesButton", "Yes", 0, 0, 44, permafrost);
    Ui.PermafrostNoButton = Radio("PermafrostNoButton", "No", 46, 0, 40, permafrost);
    Label("Select Forest type:", 8, 57, 100, strip);
    Ui.ForestTypeBox = Named(new QComboBox(strip), "ForestTypeBox");
    for (const char* type : FOREST_TYPES) Ui.ForestTypeBox->addItem(type);
    Ui.ForestTypeBox->setMaxVisibleItems(5);
    Ui.ForestTypeBox->setGeometry(108, 57, 70, TOOL_BOX_HEIGHT);
    Ui.SaveSiteButton = Button("SaveSiteButton", "Save file", 164, 6, 64, strip);
    return GridPage("SitePage", this, nullptr, Ui.SiteGrid, strip);
}

QWidget* TMainForm::BuildClimatologyPage() {
    Ui.ClimatologyGrid = Grid("ClimatologyGrid", 13, 13, 1, 1, 60, this);
    Ui.ClimatologyGrid->SetEditing(true);

    QWidget* strip = Strip(CLIMATOLOGY_STRIP_HEIGHT, this);
    Ui.GenerateClimatologyButton = Button("GenerateClimatologyButton", "Generate file", 8, 7, 84, strip);
    Ui.SaveClimatologyButton = Button("SaveClimatologyButton", "Save file", 100, 7, 70, strip);
    // The scenario of the next run: boxes for numbers, left empty for no change.
    const auto box = [strip](const char* name, int x, const char* placeholder, const char* hint) {
        auto* edit = Named(new QLineEdit(strip), name);
        edit->setGeometry(x, 38, 38, TOOL_BOX_HEIGHT);
        edit->setPlaceholderText(placeholder);
        edit->setToolTip(hint);
        return edit;
    };
    QLabel* change = Label("Scenario: \u0394T, \u00b0C", 8, 38, 96, strip);
    Ui.ScenarioDeltaT = box("ScenarioDeltaT", change->x() + change->sizeHint().width() + 4, "0",
                            "Temperature change of the next run, \u00b0C, added to every month");
    QLabel* factor = Label("P \u00d7", Ui.ScenarioDeltaT->geometry().right() + 8, 38, 24, strip);
    Ui.ScenarioPrecFactor = box("ScenarioPrecFactor", factor->x() + factor->sizeHint().width() + 4, "1",
                                "Precipitation factor of the next run, multiplying every month");
    return GridPage("ClimatologyPage", this, nullptr, Ui.ClimatologyGrid, strip);
}

QWidget* TMainForm::BuildResultsPage() {
    Ui.ResultsGrid = Grid("ResultsGrid", 8, 2, 2, 1, 70, this);
    Ui.ResultsGrid->SetRowSelect(true);
    Ui.ResultsGrid->hide();
    return GridPage("ResultsPage", this, nullptr, Ui.ResultsGrid, nullptr);
}

QWidget* TMainForm::BuildChartPanel() {
    QWidget* panel = Panel("ChartPanel", this);
    auto* layout = new QVBoxLayout(panel);
    layout->setContentsMargins(0, 0, 0, 0);
    Ui.Chart = new LineChart(panel);
    Ui.Chart->hide();
    layout->addWidget(Ui.Chart);

    Ui.YearBox->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(Ui.YearBox, &QWidget::customContextMenuRequested, this, [this](const QPoint& position) {
        Ui.Chart->ContextMenu()->popup(Ui.YearBox->mapToGlobal(position));
    });
    return panel;
}

QWidget* TMainForm::BuildStatusPanel() {
    QWidget* panel = Panel("StatusPanel", this);
    panel->setFixedHeight(STATUS_PANEL_HEIGHT);
    auto* layout = new QHBoxLayout(panel);
    layout->setContentsMargins(4, 0, 8, 0);

    QFont bold = font();
    bold.setBold(true);
    Ui.YearCountLabel = Named(new QLabel(QString::fromStdString(YearCountText(0)), panel), "YearCountLabel");
    Ui.YearCountLabel->setFont(bold);
    Ui.YearCountLabel->setMinimumWidth(90);
    layout->addWidget(Ui.YearCountLabel);

    auto* separator = new QFrame(panel);
    separator->setFrameShape(QFrame::VLine);
    separator->setFrameShadow(QFrame::Sunken);
    layout->addWidget(separator);

    Ui.NoticeLabel = Named(new QLabel(panel), "NoticeLabel");
    Ui.NoticeLabel->setFont(bold);
    QPalette notice = Ui.NoticeLabel->palette();
    notice.setColor(QPalette::WindowText, WinColor(NOTICE_COLOR));
    Ui.NoticeLabel->setPalette(notice);
    layout->addWidget(Ui.NoticeLabel);

    // Long texts (a file's full path) are cut at the panel's end instead of
    // widening the window; the tooltip holds the whole text.
    Ui.StatusMessage = Named(new QLabel(panel), "StatusMessage");
    Ui.StatusMessage->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    layout->addWidget(Ui.StatusMessage, 1);

    Ui.RandomStateLabel = Named(new QLabel(panel), "RandomStateLabel");
    Ui.RandomStateLabel->setToolTip("kelmar --seed N or kelmar-cli --seed N repeats a run of this random state");
    layout->addWidget(Ui.RandomStateLabel);
    return panel;
}

}  // namespace kelmar::ui
