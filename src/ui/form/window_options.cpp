#include "ui/form/window_options.h"

#include <QCommandLineParser>

#include <algorithm>

namespace kelmar::ui {

WindowOptions ParseWindowOptions(const QStringList& arguments) {
    QCommandLineParser parser;
    const QCommandLineOption seedOption("seed", "State of the random source (0..4294967295) before the run.", "N");
    const QCommandLineOption helpOption(QStringList{"h", "help"}, "Show the options and stop.");
    const QCommandLineOption versionOption(QStringList{"v", "version"}, "Show the version and stop.");
    const QCommandLineOption regionOption("region", "A batch's folder to show as a map.", "DIR");
    parser.addOptions({seedOption, regionOption, helpOption, versionOption});
    WindowOptions options;
    const bool parsed = parser.parse(arguments);
    // Asked for help or the version, the person gets it whatever else the line holds.
    if (parser.isSet(helpOption)) {
        options.help = true;
        return options;
    }
    if (parser.isSet(versionOption)) {
        options.version = true;
        return options;
    }
    if (!parsed) {
        options.error = parser.errorText();
        return options;
    }
    if (!parser.positionalArguments().isEmpty()) {
        options.error = "Unexpected argument '" + parser.positionalArguments().first() + "'.";
        return options;
    }
    if (parser.isSet(regionOption)) {
        options.region = parser.value(regionOption);
        if (options.region.isEmpty()) options.error = "--region needs the folder of a batch.";
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

QString WindowHelpText() {
    return QStringLiteral(
        "Usage: kelmar [--seed N] [--region DIR]\n"
        "  or:  kelmar --help | --version\n"
        "\n"
        "The window of KELMAR: the temperature and moisture of the organic forest floor\n"
        "and of the mineral soil of a forest site, month by month over up to 500 years,\n"
        "driven by an observed monthly weather record (.wed) or by the weather generator\n"
        "from a climatology (.cld). Open a site (.sit) and the weather on the Input page,\n"
        "step through the years, read the chart, edit and save the site and the\n"
        "climatology, and save the results as .csv.\n"
        "\n"
        "Options:\n"
        "  --seed N       start the random source in state N (0..4294967295), so that a\n"
        "                 run seen in the window can be repeated: \"kelmar-cli simulate\n"
        "                 ... --seed N\" computes the same results. Without it the state\n"
        "                 comes from the clock; the status bar shows the state of a run\n"
        "  --region DIR   also show the results of the batch in the folder DIR (of\n"
        "                 \"kelmar-cli batch\") as a map of its sites; Ctrl+R opens one\n"
        "                 from the window\n"
        "  -h, --help     show this text and stop\n"
        "  -v, --version  show the version and stop\n"
        "\n"
        "Qt's own options are understood as well, e.g. \"-platform offscreen\" (no\n"
        "display) or \"-style NAME\". File dialogs open in the folder the program was\n"
        "started in, then in the folder of the file chosen last.\n"
        "\n"
        "Exit status: 0 when the window was closed, 2 for a command line that cannot be\n"
        "understood.\n");
}

QString WindowVersionText() { return QStringLiteral("kelmar " KELMAR_VERSION "\n"); }

QString ProgramVersion() { return QStringLiteral(KELMAR_VERSION); }

}  // namespace kelmar::ui
