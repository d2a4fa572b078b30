// A year position bound to an edit box: the position follows the number in
// the box, and setting the position writes it into the box. The spinner
// itself takes no room on screen.
#pragma once

#include <QWidget>

class QLineEdit;

namespace kelmar::ui {

class UpDownSpinner : public QWidget {
    Q_OBJECT

public:
    UpDownSpinner(QLineEdit& buddy, int minimum, int maximum, QWidget* parent = nullptr);

    // The number in the box, kept within the range; the last valid position
    // while the box holds no number.
    int Position() const;
    // Kept within the range, then written into the box.
    void SetPosition(int position);
    int Minimum() const { return Min; }
    int Maximum() const { return Max; }

private:
    QLineEdit& Buddy;
    int Min;
    int Max;
    int LastPosition;
};

}  // namespace kelmar::ui
