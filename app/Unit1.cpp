#include "Unit1.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QFont>
#include <QFontDatabase>
#include <QFrame>
#include <QIcon>
#include <QInputEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QWindow>

#include <array>
#include <cstdint>
#include <string>

#include "UserFolders.h"

namespace velkor {

TForm1* Form1 = nullptr;

namespace {

// Swallows every mouse, key, wheel and touch event the application would
// deliver while it lives.
class InputDiscarder final : public QObject {
public:
    InputDiscarder() { QCoreApplication::instance()->installEventFilter(this); }
    ~InputDiscarder() override { QCoreApplication::instance()->removeEventFilter(this); }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        return dynamic_cast<QInputEvent*>(event) != nullptr || event->type() == QEvent::Shortcut ||
               event->type() == QEvent::ShortcutOverride;
    }
};

// A command runs to its end without giving the event loop a turn, so the
// clicks and keys that came meanwhile are still queued when it ends. They
// are taken out of the queue and dropped here, not replayed: a double click
// on Write runs one Write, and a later click cannot replace the log before
// it is read. Everything else queued (painting, resizing) is handled.
void DiscardInputReceivedMeanwhile()
{
    const InputDiscarder discarder;
    QCoreApplication::processEvents();
}

// Screen position and size of the window including its frame and title bar.
constexpr QRect kOuterBounds(65, 28, 385, 409);

struct PrinterPort {
    const char* item;
    std::uint16_t address;
};
constexpr std::array<PrinterPort, 3> kPrinterPorts{{
    {"LPT1: ($378)", 0x378},
    {"LPT2: ($278)", 0x278},
    {"LPT3: ($3BC)", 0x3BC},
}};

// The fixed-pitch Japanese face the window was laid out for, or the closest
// one installed: every text must fit the fixed control sizes.
QString InstalledWindowFace()
{
    for (const char* family : {"ＭＳ ゴシック", "MS Gothic", "IPAGothic", "Noto Sans Mono CJK JP"}) {
        const QString name = QString::fromUtf8(family);
        if (QFontDatabase::hasFamily(name)) {
            return name;
        }
    }
    return QFontDatabase::systemFont(QFontDatabase::FixedFont).family();
}

QFont WindowFace(int pixelSize, QFont::Weight weight = QFont::Normal)
{
    QFont font(InstalledWindowFace());
    font.setPixelSize(pixelSize);
    font.setWeight(weight);
    font.setStyleHint(QFont::Monospace);
    return font;
}

void Place(QWidget& control, const char* name, const QRect& bounds)
{
    control.setObjectName(QString::fromLatin1(name));
    control.setGeometry(bounds);
}

std::string Text(const QLineEdit& field)
{
    return field.text().toStdString();
}

}  // namespace

TForm1::TForm1(PortOperations* port, Clock* clock)
    : Button1(new QPushButton(this)), Button2(new QPushButton(this)), Memo1(new QPlainTextEdit(this)),
      ComboBox1(new QComboBox(this)), Label2(new QLabel(this)), Panel1(new QFrame(this)),
      Button3(new QPushButton(Panel1)), Label3(new QLabel(Panel1)), Label4(new QLabel(Panel1)),
      Edit1(new QLineEdit(Panel1)), Edit2(new QLineEdit(Panel1)), log_(*Memo1),
      programmer_(port != nullptr ? *port : DLPortIO1, clock != nullptr ? *clock : systemClock_, log_)
{
    // The stored setting of the window's port component; only the Windows
    // driver, which installs the kernel driver from that folder, reads it.
    DLPortIO1.SetDriverPath("C:\\WINNT\\system32\\DRIVERS");
    SetUpWindow();
    SetUpControls();
    SetTabOrder();
    ConnectEvents();
}

void TForm1::SetUpWindow()
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(QStringLiteral("Velkor"));
    setWindowIcon(QIcon(QStringLiteral(":/velkor.xpm")));
    setFont(WindowFace(12));
    // A window's position includes its frame; its size does not, so the
    // size is fitted again once the platform tells the frame's width.
    move(kOuterBounds.topLeft());
    resize(kOuterBounds.size());
}

void TForm1::SetUpControls()
{
    Place(*Button1, "Button1", {112, 8, 105, 33});
    Button1->setText(QStringLiteral("Read Signature"));

    Place(*Button2, "Button2", {8, 8, 81, 57});
    Button2->setText(QStringLiteral("Write"));
    Button2->setFont(WindowFace(19, QFont::Bold));

    Place(*Memo1, "Memo1", {8, 168, 361, 201});
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setTabChangesFocus(true);

    Place(*ComboBox1, "ComboBox1", {248, 24, 105, 20});
    ComboBox1->setEditable(true);
    // Typed text must neither become an item nor select one: no insertion on
    // Enter, no completion while typing, and none of the editable combo box's
    // own matching of the text against the items when editing ends.
    ComboBox1->setInsertPolicy(QComboBox::NoInsert);
    ComboBox1->setCompleter(nullptr);
    QObject::disconnect(ComboBox1->lineEdit(), &QLineEdit::editingFinished, ComboBox1, nullptr);
    for (const PrinterPort& printerPort : kPrinterPorts) {
        ComboBox1->addItem(QString::fromLatin1(printerPort.item));
    }

    Place(*Label2, "Label2", {240, 8, 66, 12});
    Label2->setText(QStringLiteral("I/O Address"));

    Place(*Panel1, "Panel1", {8, 80, 313, 73});
    Panel1->setFrameStyle(QFrame::Panel | QFrame::Raised);

    Place(*Button3, "Button3", {184, 16, 107, 41});
    Button3->setText(QStringLiteral("Write FUSE bit"));

    Place(*Label3, "Label3", {16, 16, 66, 12});
    Label3->setText(QStringLiteral("FUSE (High)"));

    Place(*Label4, "Label4", {16, 48, 54, 12});
    Label4->setText(QStringLiteral("FUSE(Low)"));

    Place(*Edit1, "Edit1", {96, 8, 57, 24});
    Edit1->setFont(WindowFace(16));

    Place(*Edit2, "Edit2", {96, 40, 57, 24});
    Edit2->setFont(WindowFace(16));
}

void TForm1::SetTabOrder()
{
    const std::array<QWidget*, 7> order{Button1, Button2, Memo1, ComboBox1, Button3, Edit1, Edit2};
    for (std::size_t i = 1; i < order.size(); ++i) {
        QWidget::setTabOrder(order[i - 1], order[i]);
    }
    Button1->setFocus();
}

void TForm1::ConnectEvents()
{
    connect(ComboBox1, &QComboBox::currentIndexChanged, this, &TForm1::ComboBox1Change);
    connect(ComboBox1, &QComboBox::editTextChanged, this, &TForm1::ComboBox1Change);
    connect(Button1, &QPushButton::clicked, this, &TForm1::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm1::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm1::Button3Click);
}

void TForm1::FitFrameToOuterBounds()
{
    const QWindow* window = windowHandle();
    resize(kOuterBounds.size().shrunkBy(window != nullptr ? window->frameMargins() : QMargins()));
}

bool TForm1::event(QEvent* event)
{
    // Only the first activation counts: coming back from another program
    // keeps the port choice and the log.
    if (event->type() == QEvent::WindowActivate && !activatedOnce_) {
        activatedOnce_ = true;
        FitFrameToOuterBounds();
        if (!commandRan_) {
            Form1Active();
        }
    }
    return QWidget::event(event);
}

void TForm1::showEvent(QShowEvent* event)
{
    // Restoring a minimised window keeps whatever size the user gave it.
    if (!activatedOnce_) {
        FitFrameToOuterBounds();
    }
    QWidget::showEvent(event);
}

void TForm1::Form1Active()
{
    log_.Clear();
    ComboBox1->setCurrentIndex(0);
    programmer_.PortAddress = kPrinterPorts[0].address;
}

void TForm1::ComboBox1Change()
{
    // The selected item alone decides; typed text is never read.
    const int index = ComboBox1->currentIndex();
    if (index >= 0 && index < static_cast<int>(kPrinterPorts.size())) {
        programmer_.PortAddress = kPrinterPorts[static_cast<std::size_t>(index)].address;
    }
}

void TForm1::Button1Click()
{
    RunCommand([this] { programmer_.ReadSignatureCommand(); });
}

void TForm1::Button2Click()
{
    RunCommand([this] { programmer_.WriteCommand(DefaultHexFilePath()); });
}

void TForm1::Button3Click()
{
    RunCommand([this] { programmer_.WriteFuses(Text(*Edit1), Text(*Edit2)); });
}

void TForm1::RunCommand(const std::function<void()>& command)
{
    // Where the first activation comes late (no window manager, a desktop
    // that delays it), a command can run before it: the start-up step then
    // counts as done, so that it never clears this command's log or resets
    // the port it ran on.
    commandRan_ = true;
    command();
    DiscardInputReceivedMeanwhile();
}

}  // namespace velkor
