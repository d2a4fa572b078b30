// Texts that Qt's SVG generator splits into runs of one script come out as
// one text element per text drawn.
#include <gtest/gtest.h>

#include <QBuffer>
#include <QPainter>
#include <QSvgGenerator>

#include <functional>
#include <regex>
#include <string>
#include <vector>

#include "ui/pictures/svg_text_runs.h"

namespace kelmar::ui {
namespace {

QByteArray Drawn(const std::function<void(QPainter&)>& paint) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator generator;
    generator.setOutputDevice(&buffer);
    generator.setSize(QSize(400, 200));
    {
        QPainter painter(&generator);
        paint(painter);
    }
    return bytes;
}

// The text of each text element, its tspans' tags left out.
std::vector<std::string> Texts(const QByteArray& svg) {
    static const std::regex TEXT(R"(<text[^>]*>((?:[^<]|<tspan[^>]*>|</tspan>)*)</text>)");
    static const std::regex TAG(R"(</?tspan[^>]*>)");
    const std::string document = svg.toStdString();
    std::vector<std::string> texts;
    for (auto m = std::sregex_iterator(document.begin(), document.end(), TEXT); m != std::sregex_iterator(); ++m)
        texts.push_back(std::regex_replace((*m)[1].str(), TAG, ""));
    return texts;
}

std::string Joined(const std::vector<std::string>& texts) {
    std::string all;
    for (const std::string& t : texts) all += "[" + t + "]";
    return all;
}

TEST(JoinTextRuns, EachTextDrawnIsOneElement) {
    const QString cyrillic = QString::fromUtf8("Temperature, \u00b0\u0421");
    const struct {
        const char* name;
        std::function<void(QPainter&)> paint;
        std::vector<std::string> texts;
    } cases[] = {
        {"Latin then a Cyrillic letter", [&](QPainter& p) { p.drawText(QPointF(10, 50), cyrillic); },
         {"Temperature, \u00b0\u0421"}},
        {"turned a quarter, bold",
         [&](QPainter& p) {
             QFont bold = p.font();
             bold.setBold(true);
             p.setFont(bold);
             p.translate(20, 180);
             p.rotate(-90);
             p.drawText(QPointF(0, 0), cyrillic);
         },
         {"Temperature, \u00b0\u0421"}},
        {"Cyrillic in the middle, escaped characters",
         [](QPainter& p) { p.drawText(QPointF(10, 50), QString::fromUtf8("a < b & \u0421\u0421 > \"c\"")); },
         {"a &lt; b &amp; \u0421\u0421 &gt; &quot;c&quot;"}},
        {"two labels on one baseline stay two",
         [](QPainter& p) {
             p.drawText(QPointF(10, 50), "0");
             p.drawText(QPointF(200, 50), QString::fromUtf8("\u0421"));
         },
         {"0", "\u0421"}},
        {"one below the other stay two",
         [&](QPainter& p) {
             p.drawText(QPointF(10, 50), "Tair");
             p.drawText(QPointF(10, 70), cyrillic);
         },
         {"Tair", "Temperature, \u00b0\u0421"}},
    };
    for (const auto& c : cases) {
        const QByteArray written = Drawn(c.paint);
        const QByteArray joined = JoinTextRuns(written);
        EXPECT_EQ(Texts(joined), c.texts) << c.name << ": " << Joined(Texts(joined)) << " from Qt's "
                                          << Joined(Texts(written));
    }
}

TEST(JoinTextRuns, ADrawingWithNothingToJoinKeepsItsBytes) {
    const QByteArray written = Drawn([](QPainter& p) {
        p.drawLine(0, 0, 100, 100);
        p.drawText(QPointF(10, 50), "Precipitation, mm");
    });
    EXPECT_EQ(JoinTextRuns(written), written);
}

}  // namespace
}  // namespace kelmar::ui
