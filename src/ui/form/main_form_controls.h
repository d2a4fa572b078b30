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
    QToolButton* SaveBtn = nullptr;       // "Save file"
    QToolButton* InitBtn = nullptr;       // "Initialisation"
    QLabel* Label1 = nullptr;             // "Step (years):"
    QSlider* TrackBar1 = nullptr;         // step slider
    QLineEdit* Edit1 = nullptr;           // step box: years per Step
    QToolButton* StepBtn = nullptr;       // "Step"
    QLabel* Label2 = nullptr;             // "Data on the chart:"
    QComboBox* ComboBox1 = nullptr;       // chart view
    QLabel* Label6 = nullptr;             // "Select year:"
    QSlider* TrackBar2 = nullptr;         // year slider
    QLineEdit* Edit4 = nullptr;           // year box
    UpDownSpinner* UpDown2 = nullptr;     // year position bound to Edit4
    QToolButton* SpeedButton1 = nullptr;  // "Exit"

    // Left pane and chart.
    QSplitter* Splitter1 = nullptr;
    QTabWidget* PageControl1 = nullptr;
    LineChart* Chart1 = nullptr;

    // "Input" page.
    QRadioButton* RadioButton2 = nullptr;  // "Weather from file"
    QRadioButton* RadioButton1 = nullptr;  // "Simulated weather"
    QPushButton* RunBtn = nullptr;         // "Open files" beside "Weather from file"
    QPushButton* OpenBtn = nullptr;        // "Open files" beside "Simulated weather"
    QLabel* Label3 = nullptr;              // file summary
    StringGrid* Grid9 = nullptr;           // input weather
    QPushButton* SaveWedBtn = nullptr;     // "Save File"

    // "Site params" page.
    StringGrid* Grid2 = nullptr;
    QRadioButton* RadioButton4 = nullptr;  // Saturation "Yes"
    QRadioButton* RadioButton5 = nullptr;  // Saturation "No"
    QRadioButton* RadioButton6 = nullptr;  // Permafrost "Yes"
    QRadioButton* RadioButton7 = nullptr;  // Permafrost "No"
    QComboBox* ComboBox2 = nullptr;        // forest type
    QPushButton* SaveSoiBtn = nullptr;     // "Save file"

    // "Climatology" page.
    StringGrid* Grid3 = nullptr;
    QPushButton* LoadCliBtn = nullptr;  // "Generate file"
    QPushButton* SaveCliBtn = nullptr;  // "Save file"
    // The scenario the next run is made under: a temperature change (degC,
    // added) and a precipitation factor; empty boxes change nothing.
    QLineEdit* ScenarioDeltaT = nullptr;
    QLineEdit* ScenarioPrecFactor = nullptr;

    // "Results" page.
    StringGrid* Grid1 = nullptr;

    // Status panel.
    QLabel* YearCountLabel = nullptr;  // "    0 Year", then the released years
    QLabel* Label5 = nullptr;          // notices
    QLabel* StatusMessage = nullptr;   // what the last command did (a file written, nothing to show)
    QLabel* RandomStateLabel = nullptr;  // "Random state N" of the last run
};

}  // namespace kelmar::ui
