// The window on the offscreen platform: its start-up state, the port choice,
// the log, and the three buttons driving a simulated chip.
#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFontDatabase>
#include <QFrame>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "HexText.h"
#include "Recorder.h"
#include "SimulatedTarget.h"
#include "Unit1.h"

using velkor::TForm1;
using velkor::testing::Event;

namespace {

// A window whose commands go to a simulated chip through a recording port.
struct SimulatedWindow {
    explicit SimulatedWindow(const char* chip) : target(chip), port(target.port(), trace), form(&port, &target.clock())
    {
    }

    velkor::sim::SimulatedTarget target;
    velkor::testing::Trace trace;
    velkor::testing::RecordingPort port;
    TForm1 form;
};

// A port whose driver never opens, like a parallel port that is not there.
class AbsentPort final : public velkor::PortOperations {
public:
    void OpenDriver(std::uint16_t) override {}
    void CloseDriver() override {}
    void WritePortUchar(std::uint16_t, std::uint8_t) override { ++accesses; }
    std::uint8_t ReadPortUchar(std::uint16_t) override { return ++accesses, 0xFF; }
    bool ActiveHW() const override { return false; }
    std::string OpenFailure() const override { return "no parallel port at 0x378"; }

    int accesses = 0;
};

// The simulated chip's port, which posts a click on a button each time the
// driver is opened: a user clicking while the command runs.
class ClickingPort final : public velkor::PortOperations {
public:
    explicit ClickingPort(velkor::PortOperations& inner) : inner_(inner) {}

    void OpenDriver(std::uint16_t address) override
    {
        ++opens;
        for (const QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease}) {
            const QPointF centre = QRectF(clicked->rect()).center();
            QCoreApplication::postEvent(clicked, new QMouseEvent(type, centre, clicked->mapToGlobal(centre),
                                                                 Qt::LeftButton, Qt::LeftButton, Qt::NoModifier));
        }
        inner_.OpenDriver(address);
    }
    void CloseDriver() override { inner_.CloseDriver(); }
    void WritePortUchar(std::uint16_t port, std::uint8_t value) override { inner_.WritePortUchar(port, value); }
    std::uint8_t ReadPortUchar(std::uint16_t port) override { return inner_.ReadPortUchar(port); }
    bool ActiveHW() const override { return inner_.ActiveHW(); }
    std::string OpenFailure() const override { return inner_.OpenFailure(); }

    QWidget* clicked = nullptr;
    int opens = 0;

private:
    velkor::PortOperations& inner_;
};

QStringList LogLines(const TForm1& form)
{
    if (form.Memo1->document()->isEmpty()) {
        return {};
    }
    return form.Memo1->toPlainText().split(QLatin1Char('\n'));
}

void ShowAndActivate(TForm1& form)
{
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
}

// The control that has the keyboard focus, by name (the port field's own
// line edit counts as the port field).
QString FocusedControl()
{
    QWidget* widget = QApplication::focusWidget();
    if (widget != nullptr && qobject_cast<QComboBox*>(widget->parentWidget()) != nullptr) {
        widget = widget->parentWidget();
    }
    return widget != nullptr ? widget->objectName() : QString();
}

// The example program the README writes.
QByteArray BlinkHex()
{
    QFile file(QStringLiteral(VELKOR_SOURCE_DIR "/examples/blink.hex"));
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QStringList kAtmega8Identification{
    QStringLiteral("ATMEL"),
    QStringLiteral(" 【ATmega8】"),
    QStringLiteral("      28PIN"),
    QStringLiteral("      Flash  =  8192byte"),
    QStringLiteral("      SRAM   =  1024byte"),
    QStringLiteral("      EEPROM =   512byte"),
    QStringLiteral("      FUSE   =     2byte"),
};

}  // namespace

class WindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();

    void startsEmptyOnLpt1WithFocusOnReadSignature();
    void keepsPortAndLogWhenActivatedAgain();
    void commandBeforeFirstActivationKeepsItsLogAndPort();
    void laysOutControlsAsDesigned_data();
    void laysOutControlsAsDesigned();
    void textsFitTheirControls_data();
    void textsFitTheirControls();
    void tabsThroughControlsInDesignedOrder();
    void hasSixteenColourIcon();

    void portChoiceSetsAddressOnly_data();
    void portChoiceSetsAddressOnly();
    void typedPortTextChangesNothing_data();
    void typedPortTextChangesNothing();

    void logShowsLinesAsAppended_data();
    void logShowsLinesAsAppended();
    void logClearRemovesEveryLine();
    void logScrollsToNewestLineAndPaintsAtOnce();

    void everyCommandStartsWithEmptyLog_data();
    void everyCommandStartsWithEmptyLog();
    void readSignatureLogsIdentificationOnly();
    void readSignatureWithoutChipReleasesPort();
    void fuseWithEmptyFieldNeverOpensDriver_data();
    void fuseWithEmptyFieldNeverOpensDriver();
    void writeProgramsDefaultHexFile();
    void secondWriteProgramsOnlyItsOwnFile();
    void commandOnAbsentPortSaysWhyAndTouchesNothing();
    void clicksDuringCommandAreDropped_data();
    void clicksDuringCommandAreDropped();

private:
    void PutDefaultHexFile(const QByteArray& text);

    std::unique_ptr<QTemporaryDir> home_;
};

// Makes text the file that Write reads, $HOME/avrtools/avr.hex.
void WindowTest::PutDefaultHexFile(const QByteArray& text)
{
    QFile file(home_->filePath(QStringLiteral("avrtools/avr.hex")));
    QVERIFY(QDir().mkpath(QFileInfo(file).absolutePath()));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(text), text.size());
}

void WindowTest::init()
{
    // The Write command reads $HOME/avrtools/avr.hex: each case gets a home of its own.
    home_ = std::make_unique<QTemporaryDir>();
    QVERIFY(home_->isValid());
    qputenv("HOME", home_->path().toLocal8Bit());
}

void WindowTest::startsEmptyOnLpt1WithFocusOnReadSignature()
{
    SimulatedWindow window("ATmega8");
    TForm1& form = window.form;
    // Whatever happened before the first activation is reset by it.
    form.ComboBox1->setCurrentIndex(2);
    form.CommandLog().Append("before activation");
    form.show();
    form.resize(500, 300);  // as a window manager may when it adds its frame late

    ShowAndActivate(form);

    QCOMPARE(LogLines(form), QStringList());
    QCOMPARE(form.ComboBox1->currentText(), QStringLiteral("LPT1: ($378)"));
    QCOMPARE(form.Engine().PortAddress, 0x378);
    QVERIFY(form.Edit1->text().isEmpty());
    QVERIFY(form.Edit2->text().isEmpty());
    QCOMPARE(FocusedControl(), QStringLiteral("Button1"));
    QCOMPARE(form.windowTitle(), QStringLiteral("Velkor"));
    QCOMPARE(form.frameGeometry(), QRect(65, 28, 385, 409));
    QVERIFY(window.trace.events.empty());  // the port is not touched until a command
}

void WindowTest::keepsPortAndLogWhenActivatedAgain()
{
    SimulatedWindow window("ATmega8");
    TForm1& form = window.form;
    ShowAndActivate(form);
    form.ComboBox1->setCurrentIndex(2);
    form.CommandLog().Append("kept");

    QWidget otherProgram;
    otherProgram.show();
    otherProgram.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&otherProgram));
    form.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&form));

    QCOMPARE(form.Engine().PortAddress, 0x3BC);
    QCOMPARE(LogLines(form), QStringList{QStringLiteral("kept")});
}

// Without a window manager, or on a desktop that activates a new window
// late, the first click can come before the first activation.
void WindowTest::commandBeforeFirstActivationKeepsItsLogAndPort()
{
    SimulatedWindow window("ATmega8");
    TForm1& form = window.form;
    form.ComboBox1->setCurrentIndex(2);
    form.Button1->click();

    ShowAndActivate(form);

    QCOMPARE(LogLines(form), kAtmega8Identification);
    QCOMPARE(form.ComboBox1->currentText(), QStringLiteral("LPT3: ($3BC)"));
    QCOMPARE(form.Engine().PortAddress, 0x3BC);
    QCOMPARE(window.trace.Count(Event::Kind::Open), 1u);
    QCOMPARE(window.trace.events.front().address, 0x3BC);
    QCOMPARE(form.frameGeometry(), QRect(65, 28, 385, 409));
}

void WindowTest::laysOutControlsAsDesigned_data()
{
    QTest::addColumn<QString>("container");
    QTest::addColumn<QRect>("bounds");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("pixelSize");
    QTest::addColumn<bool>("bold");

    QTest::newRow("Button1") << "Form1" << QRect(112, 8, 105, 33) << "Read Signature" << 12 << false;
    QTest::newRow("Button2") << "Form1" << QRect(8, 8, 81, 57) << "Write" << 19 << true;
    QTest::newRow("Memo1") << "Form1" << QRect(8, 168, 361, 201) << "" << 12 << false;
    QTest::newRow("ComboBox1") << "Form1" << QRect(248, 24, 105, 20) << "LPT1: ($378)" << 12 << false;
    QTest::newRow("Label2") << "Form1" << QRect(240, 8, 66, 12) << "I/O Address" << 12 << false;
    QTest::newRow("Panel1") << "Form1" << QRect(8, 80, 313, 73) << "" << 12 << false;
    QTest::newRow("Button3") << "Panel1" << QRect(184, 16, 107, 41) << "Write FUSE bit" << 12 << false;
    QTest::newRow("Label3") << "Panel1" << QRect(16, 16, 66, 12) << "FUSE (High)" << 12 << false;
    QTest::newRow("Label4") << "Panel1" << QRect(16, 48, 54, 12) << "FUSE(Low)" << 12 << false;
    QTest::newRow("Edit1") << "Panel1" << QRect(96, 8, 57, 24) << "" << 16 << false;
    QTest::newRow("Edit2") << "Panel1" << QRect(96, 40, 57, 24) << "" << 16 << false;
}

void WindowTest::laysOutControlsAsDesigned()
{
    QFETCH(QString, container);
    QFETCH(QRect, bounds);
    QFETCH(QString, text);
    QFETCH(int, pixelSize);
    QFETCH(bool, bold);
    SimulatedWindow window("ATmega8");
    ShowAndActivate(window.form);
    // Resizing the window moves and stretches nothing.
    window.form.resize(600, 500);

    const auto* control = window.form.findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(control != nullptr);
    QCOMPARE(control->parentWidget()->objectName(), container);
    QCOMPARE(control->geometry(), bounds);
    const QString shown = qobject_cast<const QComboBox*>(control) != nullptr
                              ? qobject_cast<const QComboBox*>(control)->currentText()
                              : control->property("text").toString();
    QCOMPARE(shown, text);

    const QFontInfo font(control->font());
    QCOMPARE(font.pixelSize(), pixelSize);
    QCOMPARE(font.bold(), bold);
    const QStringList mappedFaces{"ＭＳ ゴシック", "MS Gothic", "IPAGothic", "Noto Sans Mono CJK JP",
                                  QFontDatabase::systemFont(QFontDatabase::FixedFont).family()};
    QVERIFY2(mappedFaces.contains(font.family()), qPrintable(font.family()));
}

void WindowTest::textsFitTheirControls_data()
{
    QTest::addColumn<int>("frame");  // room a button's frame and margins take

    QTest::newRow("Button1") << 8;
    QTest::newRow("Button2") << 8;
    QTest::newRow("Button3") << 8;
    QTest::newRow("Label2") << 0;
    QTest::newRow("Label3") << 0;
    QTest::newRow("Label4") << 0;
}

// The controls were sized for a face whose Latin letters are half an em
// wide; a wider face would cut the texts off.
void WindowTest::textsFitTheirControls()
{
    QFETCH(int, frame);
    SimulatedWindow window("ATmega8");
    const auto* control = window.form.findChild<QWidget*>(QString::fromLatin1(QTest::currentDataTag()));
    QVERIFY(control != nullptr);
    const QString text = control->property("text").toString();

    const int needed = QFontMetrics(control->font()).horizontalAdvance(text) + frame;

    QVERIFY2(needed <= control->width(), qPrintable(QString::number(needed)));
}

void WindowTest::tabsThroughControlsInDesignedOrder()
{
    SimulatedWindow window("ATmega8");
    ShowAndActivate(window.form);

    QStringList visited{FocusedControl()};
    for (int i = 0; i < 7; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        visited << FocusedControl();
    }

    QCOMPARE(visited,
             (QStringList{"Button1", "Button2", "Memo1", "ComboBox1", "Button3", "Edit1", "Edit2", "Button1"}));
}

void WindowTest::hasSixteenColourIcon()
{
    SimulatedWindow window("ATmega8");
    const QImage icon = window.form.windowIcon().pixmap(32, 32).toImage();
    QCOMPARE(icon.size(), QSize(32, 32));

    QSet<QRgb> colours;
    for (int y = 0; y < icon.height(); ++y) {
        for (int x = 0; x < icon.width(); ++x) {
            colours.insert(icon.pixel(x, y));
        }
    }
    QVERIFY(colours.size() > 2);
    QVERIFY(colours.size() <= 16);
}

namespace {

// Opens the port field's drop-down list and chooses the item in it, with
// the mouse or with the arrow keys and Enter.
void ChooseFromList(QComboBox& field, int item, bool withMouse)
{
    field.showPopup();
    QAbstractItemView& list = *field.view();
    QVERIFY(QTest::qWaitForWindowExposed(list.window()));
    if (withMouse) {
        // The list ignores a release that comes too soon after it opened.
        QTest::qWait(QApplication::doubleClickInterval() + 50);
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, list.visualRect(list.model()->index(item, 0)).center());
    } else {
        for (int row = list.currentIndex().row(); row != item; row += row < item ? 1 : -1) {
            QTest::keyClick(&list, row < item ? Qt::Key_Down : Qt::Key_Up);
        }
        QTest::keyClick(&list, Qt::Key_Return);
    }
    QVERIFY(!list.isVisible());
}

}  // namespace

void WindowTest::portChoiceSetsAddressOnly_data()
{
    QTest::addColumn<int>("item");
    QTest::addColumn<int>("address");
    QTest::addColumn<bool>("withMouse");

    QTest::newRow("LPT2: ($278)") << 1 << 0x278 << true;
    QTest::newRow("LPT3: ($3BC)") << 2 << 0x3BC << false;
}

void WindowTest::portChoiceSetsAddressOnly()
{
    QFETCH(int, item);
    QFETCH(int, address);
    QFETCH(bool, withMouse);
    SimulatedWindow window("ATmega8");
    TForm1& form = window.form;
    ShowAndActivate(form);
    form.CommandLog().Append("kept");

    ChooseFromList(*form.ComboBox1, item, withMouse);
    QCOMPARE(form.Engine().PortAddress, address);
    QCOMPARE(form.ComboBox1->currentText(), QString::fromLatin1(QTest::currentDataTag()));

    ChooseFromList(*form.ComboBox1, 0, !withMouse);
    QCOMPARE(form.Engine().PortAddress, 0x378);

    QCOMPARE(LogLines(form), QStringList{QStringLiteral("kept")});
    QVERIFY(window.trace.events.empty());
}

void WindowTest::typedPortTextChangesNothing_data()
{
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("then");  // how editing ends: a key, a click on a button, or not at all

    QTest::newRow("another item's text") << "LPT3: ($3BC)"
                                         << "";
    QTest::newRow("a bare address, Enter") << "0x3BC"
                                           << "Enter";
    QTest::newRow("a port name") << "LPT2"
                                 << "";
    QTest::newRow("an item's exact text, Enter") << "LPT3: ($3BC)"
                                                 << "Enter";
    QTest::newRow("an item's text in lower case, Tab") << "lpt3: ($3bc)"
                                                       << "Tab";
    QTest::newRow("an item's exact text, button click") << "LPT1: ($378)"
                                                        << "click";
    QTest::newRow("an item's prefix, Enter") << "lpt3"
                                             << "Enter";
    QTest::newRow("an item's prefix, Tab") << "LPT1"
                                           << "Tab";
    QTest::newRow("an item's prefix, button click") << "lpt3"
                                                    << "click";
}

// Typing changes the field's text only: the address stays where the last
// item chosen from the list put it, also once editing ends.
void WindowTest::typedPortTextChangesNothing()
{
    QFETCH(QString, typed);
    QFETCH(QString, then);
    SimulatedWindow window("ATmega8");
    TForm1& form = window.form;
    ShowAndActivate(form);
    form.ComboBox1->setCurrentIndex(1);

    QLineEdit* field = form.ComboBox1->lineEdit();
    QTest::mouseClick(field, Qt::LeftButton);
    QCOMPARE(FocusedControl(), QStringLiteral("ComboBox1"));
    field->selectAll();
    QTest::keyClick(field, Qt::Key_Delete);
    QTest::keyClicks(field, typed);
    if (then == QStringLiteral("Enter")) {
        QTest::keyClick(field, Qt::Key_Return);
    } else if (then == QStringLiteral("Tab")) {
        QTest::keyClick(field, Qt::Key_Tab);
    } else if (then == QStringLiteral("click")) {
        QTest::mouseClick(form.Button1, Qt::LeftButton);
    }

    QCOMPARE(form.Engine().PortAddress, 0x278);
    QCOMPARE(form.ComboBox1->currentIndex(), 1);
    QCOMPARE(field->text(), typed);
    QCOMPARE(form.ComboBox1->count(), 3);
    if (then == QStringLiteral("click")) {
        QCOMPARE(window.trace.Count(Event::Kind::Open), 1u);
        QCOMPARE(window.trace.events.front().address, 0x278);
    }
}

void WindowTest::logShowsLinesAsAppended_data()
{
    QTest::addColumn<QStringList>("appended");
    QTest::addColumn<QStringList>("shown");

    QTest::newRow("one line") << QStringList{"ATMEL"} << QStringList{"ATMEL"};
    QTest::newRow("empty text between lines") << QStringList{"a", "", "b"} << QStringList{"a", "", "b"};
    QTest::newRow("empty first line") << QStringList{"", "x"} << QStringList{"", "x"};
    QTest::newRow("two empty lines") << QStringList{"", ""} << QStringList{"", ""};
    QTest::newRow("CR LF pair") << QStringList{"done", "\r\n--- Write AVR ---"}
                                << QStringList{"done", "", "--- Write AVR ---"};
    QTest::newRow("full-width brackets") << QStringList{" 【ATmega8】"} << QStringList{" 【ATmega8】"};
}

void WindowTest::logShowsLinesAsAppended()
{
    QFETCH(QStringList, appended);
    QFETCH(QStringList, shown);
    SimulatedWindow window("ATmega8");

    for (const QString& text : appended) {
        window.form.CommandLog().Append(text.toStdString());
    }

    QCOMPARE(LogLines(window.form), shown);
    QCOMPARE(window.form.Memo1->document()->blockCount(), shown.size());
}

void WindowTest::logClearRemovesEveryLine()
{
    SimulatedWindow window("ATmega8");
    velkor::Log& log = window.form.CommandLog();
    log.Append("old");
    log.Append("");

    log.Clear();
    QCOMPARE(LogLines(window.form), QStringList());
    log.Append("new");

    QCOMPARE(LogLines(window.form), QStringList{QStringLiteral("new")});
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
        }
        return false;
    }
};

void WindowTest::logScrollsToNewestLineAndPaintsAtOnce()
{
    SimulatedWindow window("ATmega8");
    ShowAndActivate(window.form);
    QPlainTextEdit& memo = *window.form.Memo1;
    PaintCounter counter;
    memo.viewport()->installEventFilter(&counter);

    // No event loop runs between the lines, as during a command.
    for (int line = 1; line <= 100; ++line) {
        window.form.CommandLog().Append("line " + std::to_string(line));
    }

    QCOMPARE(counter.paints, 100);
    QScrollBar& scrollBar = *memo.verticalScrollBar();
    QVERIFY(scrollBar.maximum() > 0);
    QCOMPARE(scrollBar.value(), scrollBar.maximum());
    const QTextBlock last = memo.document()->lastBlock();
    QCOMPARE(last.text(), QStringLiteral("line 100"));
    QVERIFY(memo.viewport()->rect().contains(memo.cursorRect(QTextCursor(last)).center()));
}

void WindowTest::everyCommandStartsWithEmptyLog_data()
{
    QTest::addColumn<QString>("button");

    QTest::newRow("Read Signature") << "Button1";
    QTest::newRow("Write") << "Button2";
    QTest::newRow("Write FUSE bit") << "Button3";
}

void WindowTest::everyCommandStartsWithEmptyLog()
{
    QFETCH(QString, button);
    SimulatedWindow window("ATmega8");
    TForm1& form = window.form;
    ShowAndActivate(form);
    form.CommandLog().Append("stale line");
    auto* pushButton = form.findChild<QPushButton*>(button);

    QTest::mouseClick(pushButton, Qt::LeftButton);
    const QStringList first = LogLines(form);
    QTest::mouseClick(pushButton, Qt::LeftButton);

    QVERIFY(!first.isEmpty());
    QVERIFY(!first.contains(QStringLiteral("stale line")));
    QCOMPARE(LogLines(form), first);
}

void WindowTest::readSignatureLogsIdentificationOnly()
{
    SimulatedWindow window("ATmega8");
    ShowAndActivate(window.form);

    QTest::mouseClick(window.form.Button1, Qt::LeftButton);

    QCOMPARE(LogLines(window.form), kAtmega8Identification);
    QCOMPARE(window.target.port().DataRegister(), 0x84);
    QVERIFY(!window.target.port().ActiveHW());
    QCOMPARE(window.trace.Count(Event::Kind::Open), 1u);
    QCOMPARE(window.trace.events.front().address, 0x378);
    QCOMPARE(window.trace.events.back().kind, Event::Kind::Close);
}

void WindowTest::readSignatureWithoutChipReleasesPort()
{
    SimulatedWindow window("none");
    ShowAndActivate(window.form);

    QTest::mouseClick(window.form.Button1, Qt::LeftButton);

    QCOMPARE(LogLines(window.form), QStringList{QStringLiteral("Program enable fault.")});
    QCOMPARE(window.target.port().DataRegister(), 0x84);
    QVERIFY(!window.target.port().ActiveHW());
    QCOMPARE(window.trace.Count(Event::Kind::Open), 1u);
    QCOMPARE(window.trace.Count(Event::Kind::Close), 1u);
    QCOMPARE(window.trace.events.back().kind, Event::Kind::Close);
}

void WindowTest::fuseWithEmptyFieldNeverOpensDriver_data()
{
    QTest::addColumn<QString>("high");
    QTest::addColumn<QString>("low");

    QTest::newRow("high empty") << ""
                                << "E1";
    QTest::newRow("low empty") << "D9"
                               << "";
    QTest::newRow("both empty") << ""
                                << "";
}

void WindowTest::fuseWithEmptyFieldNeverOpensDriver()
{
    QFETCH(QString, high);
    QFETCH(QString, low);
    SimulatedWindow window("ATmega8");
    TForm1& form = window.form;
    ShowAndActivate(form);
    QTest::keyClicks(form.Edit1, high);
    QTest::keyClicks(form.Edit2, low);

    QTest::mouseClick(form.Button3, Qt::LeftButton);

    QCOMPARE(LogLines(form), QStringList{QStringLiteral("Error")});
    QVERIFY(window.trace.events.empty());
}

void WindowTest::writeProgramsDefaultHexFile()
{
    PutDefaultHexFile(BlinkHex());
    SimulatedWindow window("ATmega8");
    ShowAndActivate(window.form);

    QTest::mouseClick(window.form.Button2, Qt::LeftButton);

    const QStringList lines = LogLines(window.form);
    QVERIFY2(!lines.isEmpty(), "empty log");
    QCOMPARE(lines.back(), QStringLiteral("---done.---"));
    QVERIFY(lines.contains(QStringLiteral("--- Write AVR ---")));
    // The first record begins with the reset vector, a relative jump (12 C0).
    QVERIFY(lines.contains(QStringLiteral("   0: 12 C0 19 C0 18 C0 17 C0 16 C0 15 C0 14 C0 13 C0 ")));
    const std::vector<std::uint8_t>& flash = window.target.chip()->Flash();
    QCOMPARE(flash.at(0), 0x12);
    QCOMPARE(flash.at(1), 0xC0);
    QCOMPARE(window.target.port().DataRegister(), 0x84);
    QVERIFY(!window.target.port().ActiveHW());
}

// The second file gives two bytes of the page the first one filled: the
// rest of that page must stay erased, not get the first file's bytes again.
void WindowTest::secondWriteProgramsOnlyItsOwnFile()
{
    using velkor::testing::DataRecord;
    using velkor::testing::EndOfFileRecord;
    using velkor::testing::JoinLines;
    SimulatedWindow window("ATmega8");
    ShowAndActivate(window.form);
    const std::vector<std::uint8_t> firstPage(64, 0x5A);
    const std::vector<std::uint8_t> secondBytes{0x12, 0xC0};
    PutDefaultHexFile(
        QByteArray::fromStdString(JoinLines({DataRecord(0x00, std::span(firstPage).first(32)),
                                             DataRecord(0x20, std::span(firstPage).last(32)), EndOfFileRecord()},
                                            "\n")));
    QTest::mouseClick(window.form.Button2, Qt::LeftButton);
    QCOMPARE(window.target.chip()->Flash().at(63), 0x5A);

    PutDefaultHexFile(QByteArray::fromStdString(JoinLines({DataRecord(0x00, secondBytes), EndOfFileRecord()}, "\n")));
    QTest::mouseClick(window.form.Button2, Qt::LeftButton);

    QCOMPARE(LogLines(window.form).back(), QStringLiteral("---done.---"));
    std::vector<std::uint8_t> expected(window.target.chip()->Flash().size(), 0xFF);
    std::copy(secondBytes.begin(), secondBytes.end(), expected.begin());
    const std::vector<std::uint8_t>& flash = window.target.chip()->Flash();
    const auto difference = std::mismatch(flash.begin(), flash.end(), expected.begin()).first;
    QCOMPARE(difference - flash.begin(), static_cast<std::ptrdiff_t>(flash.size()));
}

void WindowTest::commandOnAbsentPortSaysWhyAndTouchesNothing()
{
    AbsentPort port;
    velkor::testing::NullClock clock;
    TForm1 form(&port, &clock);
    ShowAndActivate(form);

    QTest::mouseClick(form.Button1, Qt::LeftButton);

    const QStringList lines = LogLines(form);
    QCOMPARE(lines.size(), 1);
    QVERIFY2(lines.front().contains(QStringLiteral("no parallel port at 0x378")), qPrintable(lines.front()));
    QCOMPARE(port.accesses, 0);
}

void WindowTest::clicksDuringCommandAreDropped_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<QString>("clickedDuring");
    QTest::addColumn<QString>("lastLine");  // of the command's own log

    const QString identified = kAtmega8Identification.back();
    QTest::newRow("Read Signature, clicked again") << "Button1"
                                                   << "Button1" << identified;
    QTest::newRow("Read Signature, Write FUSE bit clicked") << "Button1"
                                                            << "Button3" << identified;
    QTest::newRow("Write, clicked again") << "Button2"
                                          << "Button2"
                                          << "---done.---";
    QTest::newRow("Write FUSE bit, clicked again") << "Button3"
                                                   << "Button3"
                                                   << "Complete";
}

void WindowTest::clicksDuringCommandAreDropped()
{
    QFETCH(QString, command);
    QFETCH(QString, clickedDuring);
    QFETCH(QString, lastLine);
    PutDefaultHexFile(BlinkHex());
    velkor::sim::SimulatedTarget target("ATmega8");
    ClickingPort port(target.port());
    TForm1 form(&port, &target.clock());
    ShowAndActivate(form);
    form.Edit1->setText(QStringLiteral("D9"));
    form.Edit2->setText(QStringLiteral("E1"));
    port.clicked = form.findChild<QPushButton*>(clickedDuring);

    QTest::mouseClick(form.findChild<QPushButton*>(command), Qt::LeftButton);
    QCoreApplication::processEvents();

    QCOMPARE(port.opens, 1);
    QCOMPARE(LogLines(form).back(), lastLine);
}

QTEST_MAIN(WindowTest)
#include "WindowTest.moc"
