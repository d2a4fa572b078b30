#include "ui/widgets/updown_spinner.h"

#include <QLineEdit>

#include <algorithm>

namespace kelmar::ui {

UpDownSpinner::UpDownSpinner(QLineEdit& buddy, int minimum, int maximum, QWidget* parent)
    : QWidget(parent), Buddy(buddy), Min(minimum), Max(maximum), LastPosition(minimum) {
    setFixedWidth(0);
    connect(&Buddy, &QLineEdit::textChanged, this, [this] { LastPosition = Position(); });
}

int UpDownSpinner::Position() const {
    const QString text = Buddy.text().trimmed();
    if (text.isEmpty()) return LastPosition;
    bool ok = false;
    const qlonglong number = text.toLongLong(&ok);
    // Only digits can be typed, so a text that does not convert is a number
    // too long for any integer: beyond the range.
    if (!ok) return Max;
    return static_cast<int>(std::clamp<qlonglong>(number, Min, Max));
}

void UpDownSpinner::SetPosition(int position) {
    LastPosition = std::clamp(position, Min, Max);
    Buddy.setText(QString::number(LastPosition));
}

}  // namespace kelmar::ui
