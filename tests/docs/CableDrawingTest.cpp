// The cable drawing against the README's wiring table: the drawing is
// well-formed XML and labels every wire of the table with all of its pins,
// so the picture and the table cannot drift apart.
#include <QFile>
#include <QRegularExpression>
#include <QStringList>
#include <QXmlStreamReader>

#include <gtest/gtest.h>

#include <vector>

namespace {

QString ReadSourceFile(const QString& path)
{
    QFile file(QStringLiteral(VELKOR_SOURCE_DIR "/") + path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        ADD_FAILURE() << "cannot read " << qPrintable(path);
        return {};
    }
    return QString::fromUtf8(file.readAll());
}

struct WiringRow {
    QString signal;
    QString portPins;
    QString sixPin;
    QString tenPin;
};

// The first table under "## Wiring": Signal | Port pin (DB-25) | 6-pin | 10-pin.
std::vector<WiringRow> ReadWiringTable(const QString& readme)
{
    std::vector<WiringRow> rows;
    const qsizetype section = readme.indexOf(QStringLiteral("\n## Wiring\n"));
    if (section < 0) {
        return rows;
    }
    bool inTable = false;
    for (const QString& line : readme.mid(section + 1).split(QLatin1Char('\n')).mid(1)) {
        if (line.startsWith(QLatin1String("## ")) || (inTable && !line.startsWith(QLatin1Char('|')))) {
            break;
        }
        if (!line.startsWith(QLatin1Char('|'))) {
            continue;
        }
        const bool headerOrRule = !inTable || line.startsWith(QLatin1String("|---"));
        inTable = true;
        QStringList cells = line.split(QLatin1Char('|'));
        for (QString& cell : cells) {
            cell = cell.trimmed();
        }
        if (!headerOrRule && cells.size() == 6) {
            rows.push_back({cells[1], cells[2], cells[3], cells[4]});
        }
    }
    return rows;
}

// The text of every <text> element, its <tspan>s included.
QStringList TextsOf(const QString& svg)
{
    QStringList texts;
    QXmlStreamReader reader(svg);
    while (!reader.atEnd()) {
        if (reader.readNext() == QXmlStreamReader::StartElement && reader.name() == QLatin1String("text")) {
            texts << reader.readElementText(QXmlStreamReader::IncludeChildElements).simplified();
        }
    }
    EXPECT_FALSE(reader.hasError()) << qPrintable(reader.errorString()) << " at line " << reader.lineNumber();
    return texts;
}

TEST(CableDrawing, LabelsEveryWireOfTheWiringTableWithAllItsPins)
{
    const std::vector<WiringRow> rows = ReadWiringTable(ReadSourceFile(QStringLiteral("README.md")));
    QStringList signalNames;
    for (const WiringRow& row : rows) {
        signalNames << row.signal;
    }
    ASSERT_EQ(signalNames.join(QLatin1Char(' ')), QStringLiteral("SCK MOSI RESET MISO GND"));

    const QStringList texts = TextsOf(ReadSourceFile(QStringLiteral("docs/cable.svg")));
    for (const WiringRow& row : rows) {
        const QRegularExpression label(
            QStringLiteral("^%1 pins? %2 → 6-pin: %3, 10-pin: %4$")
                .arg(QRegularExpression::escape(row.signal), QRegularExpression::escape(row.portPins),
                     QRegularExpression::escape(row.sixPin), QRegularExpression::escape(row.tenPin)));
        EXPECT_TRUE(texts.indexOf(label) >= 0) << "no label \"" << qPrintable(label.pattern()) << "\"";
    }
}

}  // namespace
