// Start-up: the one window, on the parallel port or on a simulated chip.
#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>

#include <cstdio>
#include <memory>
#include <stdexcept>

#include "SimulatedTarget.h"
#include "Unit1.h"

namespace {

constexpr int kUsageError = 2;

int UsageError(const QString& message)
{
    std::fprintf(stderr, "velkor: %s\n", qPrintable(message));
    return kUsageError;
}

}  // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("velkor"));
    QApplication::setApplicationVersion(QStringLiteral(VELKOR_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Programs Atmel AVR microcontrollers in-system through the parallel port."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption simulate(
        QStringLiteral("simulate"),
        QStringLiteral("Run the commands on a simulated CHIP (a device-table name, ATmega328P, "
                       "ATmega32, or none) instead of the parallel port."),
        QStringLiteral("CHIP"));
    parser.addOption(simulate);
    if (!parser.parse(QApplication::arguments()))
        return UsageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp();
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return UsageError(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    std::unique_ptr<velkor::sim::SimulatedTarget> target;
    if (parser.isSet(simulate)) {
        const QString chip = parser.value(simulate);
        try {
            target = std::make_unique<velkor::sim::SimulatedTarget>(chip.toStdString());
        } catch (const std::invalid_argument&) {
            return UsageError(QStringLiteral("unknown chip \"%1\" for --simulate").arg(chip));
        }
    }

    velkor::TForm1 window(target ? &target->port() : nullptr, target ? &target->clock() : nullptr);
    velkor::Form1 = &window;
    window.show();
    const int exitCode = QApplication::exec();
    velkor::Form1 = nullptr;
    return exitCode;
}
