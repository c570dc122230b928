#pragma once

#include <QWidget>

#include <functional>

#include "Clock.h"
#include "MemoLog.h"
#include "PortIO.h"
#include "Programmer.h"

class QComboBox;
class QFrame;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace velkor {

// The program's one window: the port choice, the two fuse fields, the three
// command buttons and the log. Every command runs to its end inside its
// click handler, on this thread.
class TForm1 : public QWidget {
    Q_OBJECT

public:
    // The commands reach the port through DLPortIO1 and wait in real time,
    // unless another port or clock is given (a simulated target's).
    explicit TForm1(PortOperations* port = nullptr, Clock* clock = nullptr);

    Programmer& Engine() { return programmer_; }
    Log& CommandLog() { return log_; }

    QPushButton* const Button1;   // "Read Signature"
    QPushButton* const Button2;   // "Write"
    QPlainTextEdit* const Memo1;  // the log
    QComboBox* const ComboBox1;   // the port choice
    QLabel* const Label2;
    QFrame* const Panel1;        // holds the fuse controls
    QPushButton* const Button3;  // "Write FUSE bit"
    QLabel* const Label3;
    QLabel* const Label4;
    QLineEdit* const Edit1;  // high fuse byte
    QLineEdit* const Edit2;  // low fuse byte
    TDLPortIO DLPortIO1;

public slots:
    void Form1Active();
    void ComboBox1Change();
    void Button1Click();
    void Button2Click();
    void Button3Click();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void SetUpWindow();
    void SetUpControls();
    void SetTabOrder();
    void ConnectEvents();
    void FitFrameToOuterBounds();
    void RunCommand(const std::function<void()>& command);

    SystemClock systemClock_;
    MemoLog log_;
    Programmer programmer_;
    bool activatedOnce_ = false;
    bool commandRan_ = false;  // a command ran before the first activation: its start-up step is needless
};

// The one window, once start-up has created it.
extern TForm1* Form1;

}  // namespace velkor
