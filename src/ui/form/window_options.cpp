#include "ui/form/window_options.h"

#include <QCommandLineParser>

#include <algorithm>

namespace kelmar::ui {

WindowOptions ParseWindowOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption seedOption("seed", "State of the random source (0..4294967295) before the run.", "N");
    parser.addOption(seedOption);
    WindowOptions options;
    if (!parser.parse(arguments)) {
        options.error = parser.errorText();
        return options;
    }
    if (!parser.positionalArguments().isEmpty()) {
        options.error = "Unexpected argument '" + parser.positionalArguments().first() + "'.";
        return options;
    }
    if (parser.isSet(seedOption)) {
        const QString text = parser.value(seedOption);
        bool ok = false;
        const qulonglong value = text.toULongLong(&ok);
        // Digits only: toULongLong also takes a sign and blanks.
        const bool digits = !text.isEmpty() && std::all_of(text.begin(), text.end(), [](QChar c) { return c.isDigit(); });
        if (!ok || !digits || value > 0xFFFFFFFFull)
            options.error = "--seed needs a whole number from 0 to 4294967295, not '" + text + "'.";
        else
            options.seed = static_cast<std::uint32_t>(value);
    }
    return options;
}

}  // namespace kelmar::ui
