#include "ui/pictures/svg_text_runs.h"

#include <QFont>
#include <QFontMetricsF>
#include <QRegularExpression>
#include <QString>

#include <cmath>
#include <optional>
#include <vector>

namespace kelmar::ui {

namespace {

// One text element as QSvgGenerator (Qt 6) writes it, newline included:
// the paint attributes, the start (pixels), the font's attributes, the text.
const QRegularExpression TEXT_ELEMENT(
    R"RE(<text (fill="[^"]*" fill-opacity="[^"]*" stroke="none" xml:space="preserve" )x="([-+0-9.e]+)" y="([-+0-9.e]+)" (font-family="([^"]*)" font-size="([0-9.]+)" font-weight="([0-9]+)" font-style="([a-z]+)")\s*>([^<]*)</text>\n)RE");

// Where the next run may start and still be the same text: within a pixel
// of the end Qt measured, the font's size rounded to whole pixels.
constexpr double CONTINUATION_PIXELS = 1.0;

struct TextRun {
    qsizetype start = 0, end = 0;  // the element's characters in the document
    QString paint, font;           // attributes as written
    QString xText;
    double x = 0;
    QString y;                     // compared as written: one baseline, one text
    QString family, style, text;   // text still escaped
    double pixels = 0;
    int weight = 400;
};

TextRun RunOf(const QRegularExpressionMatch& m) {
    return {m.capturedStart(), m.capturedEnd(), m.captured(1), m.captured(4), m.captured(2), m.captured(2).toDouble(),
            m.captured(3),
            m.captured(5), m.captured(8), m.captured(9), m.captured(6).toDouble(), m.captured(7).toInt()};
}

// Where `run` ends on its baseline, in the font it names.
double EndOf(const TextRun& run) {
    QFont font(run.family);
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(run.pixels))));
    font.setWeight(static_cast<QFont::Weight>(run.weight));
    font.setItalic(run.style == "italic");
    font.setStyle(run.style == "oblique" ? QFont::StyleOblique : font.style());
    // The generator escapes only these four (QString::toHtmlEscaped).
    QString plain = run.text;
    plain.replace("&lt;", "<").replace("&gt;", ">").replace("&quot;", "\"").replace("&amp;", "&");
    return run.x + QFontMetricsF(font).horizontalAdvance(plain);
}

bool Continues(const TextRun& before, const TextRun& next) {
    return next.start == before.end && next.paint == before.paint && next.y == before.y &&
           std::abs(next.x - EndOf(before)) <= CONTINUATION_PIXELS;
}

}  // namespace

QByteArray JoinTextRuns(const QByteArray& svg) {
    const QString document = QString::fromUtf8(svg);
    std::vector<TextRun> runs;
    for (auto it = TEXT_ELEMENT.globalMatch(document); it.hasNext();) runs.push_back(RunOf(it.next()));

    QString joined;
    qsizetype copied = 0;
    for (std::size_t i = 0; i < runs.size();) {
        std::size_t last = i;
        while (last + 1 < runs.size() && Continues(runs[last], runs[last + 1])) ++last;
        if (last == i) {
            ++i;
            continue;
        }
        const TextRun& first = runs[i];
        QString text = first.text;
        for (std::size_t k = i + 1; k <= last; ++k)
            text += runs[k].font == first.font ? runs[k].text : "<tspan " + runs[k].font + ">" + runs[k].text + "</tspan>";
        joined += document.mid(copied, first.start - copied);
        joined += QString("<text %1x=\"%2\" y=\"%3\" %4\n >%5</text>\n")
                      .arg(first.paint, first.xText, first.y, first.font, text);
        copied = runs[last].end;
        i = last + 1;
    }
    if (copied == 0) return svg;
    joined += document.mid(copied);
    return joined.toUtf8();
}

}  // namespace kelmar::ui
