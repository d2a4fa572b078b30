// The controls of the main window, by the names the window's commands and
// tests know them by (each is also the control's Qt object name). The
// window creates and owns them; the commands connect to their signals.
#pragma once

class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QSlider;
class QSplitter;
class QTabWidget;
class QToolButton;
class QWidget;

namespace kelmar::ui {

class LineChart;
class StringGrid;
class UpDownSpinner;

struct TMainFormControls {
    // Tool bar, left to right.
    QToolButton* SaveResultsButton = nullptr;  // "Save file"
    QToolButton* InitialiseButton = nullptr;   // "Initialisation"
    QLabel* StepLabel = nullptr;               // "Step (years):"
    QSlider* StepSlider = nullptr;             // step slider
    QLineEdit* StepYearsBox = nullptr;         // step box: years per Step
    QToolButton* StepButton = nullptr;         // "Step"
    QLabel* ChartViewLabel = nullptr;          // "Data on the chart:"
    QComboBox* ChartViewBox = nullptr;         // chart view
    QLabel* YearLabel = nullptr;               // "Select year:"
    QSlider* YearSlider = nullptr;             // year slider
    QLineEdit* YearBox = nullptr;              // year box
    UpDownSpinner* YearSpinner = nullptr;      // year position bound to YearBox
    QToolButton* ExitButton = nullptr;         // "Exit"

    // Left pane and chart.
    QSplitter* PaneSplitter = nullptr;
    QTabWidget* Pages = nullptr;
    LineChart* Chart = nullptr;

    // "Input" page.
    QRadioButton* ObservedWeatherButton = nullptr;    // "Weather from file"
    QRadioButton* SimulatedWeatherButton = nullptr;   // "Simulated weather"
    QPushButton* OpenObservedFilesButton = nullptr;   // "Open files" beside "Weather from file"
    QPushButton* OpenSimulatedFilesButton = nullptr;  // "Open files" beside "Simulated weather"
    QLabel* FileSummaryLabel = nullptr;               // file summary
    StringGrid* InputWeatherGrid = nullptr;           // input weather
    QPushButton* SaveWeatherButton = nullptr;         // "Save File"

    // "Site params" page.
    StringGrid* SiteGrid = nullptr;
    QRadioButton* SaturationYesButton = nullptr;  // Saturation "Yes"
    QRadioButton* SaturationNoButton = nullptr;   // Saturation "No"
    QRadioButton* PermafrostYesButton = nullptr;  // Permafrost "Yes"
    QRadioButton* PermafrostNoButton = nullptr;   // Permafrost "No"
    QComboBox* ForestTypeBox = nullptr;           // forest type
    QPushButton* SaveSiteButton = nullptr;        // "Save file"

    // "Climatology" page.
    StringGrid* ClimatologyGrid = nullptr;
    QPushButton* GenerateClimatologyButton = nullptr;  // "Generate file"
    QPushButton* SaveClimatologyButton = nullptr;      // "Save file"
    // The scenario the next run is made under: a temperature change (degC,
    // added) and a precipitation factor; empty boxes change nothing.
    QLineEdit* ScenarioDeltaT = nullptr;
    QLineEdit* ScenarioPrecFactor = nullptr;

    // "Results" page.
    StringGrid* ResultsGrid = nullptr;

    // Status panel.
    QLabel* YearCountLabel = nullptr;    // "    0 Year", then the released years
    QLabel* NoticeLabel = nullptr;       // notices
    QLabel* StatusMessage = nullptr;     // what the last command did (a file written, nothing to show)
    QLabel* RandomStateLabel = nullptr;  // "Random state N" of the last run
};

}  // namespace kelmar::ui
