// Start-up: the one window, on the parallel port or on a simulated chip.
#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>

#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>

#include "SckPace.h"
#include "SimulatedTarget.h"
#include "StandardDescriptors.h"
#include "Unit1.h"

namespace {

constexpr int kUsageError = 2;

int UsageError(const QString& message)
{
    std::fprintf(stderr, "velkor: %s\n", qPrintable(message));
    return kUsageError;
}

// Reads a clock option into hz, which stays empty when the option is not
// given; false when its text is no clock in the accepted range.
bool ReadClockOption(const QCommandLineParser& parser, const QCommandLineOption& option,
                     std::optional<std::uint32_t>& hz)
{
    if (!parser.isSet(option))
        return true;
    hz = velkor::ParseChipClock(parser.value(option).toStdString());
    return hz.has_value();
}

int ClockUsageError(const QCommandLineParser& parser, const QCommandLineOption& option)
{
    return UsageError(QString::fromStdString(
        velkor::ChipClockError("--" + option.names().first().toStdString(), parser.value(option).toStdString())));
}

}  // namespace

int main(int argc, char* argv[])
{
    velkor::OpenMissingStandardDescriptors();
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
    const QCommandLineOption chipClock(
        QStringLiteral("chip-clock"),
        QStringLiteral("The target's clock, 32k .. 20M (default 1M): sets the SCK pace, e.g. 128k, 8M."),
        QStringLiteral("FREQ"));
    parser.addOption(chipClock);
    const QCommandLineOption simClock(
        QStringLiteral("sim-clock"),
        QStringLiteral("With --simulate: the simulated chip's clock, 32k .. 20M (default: its factory clock)."),
        QStringLiteral("FREQ"));
    parser.addOption(simClock);
    if (!parser.parse(QApplication::arguments()))
        return UsageError(parser.errorText());
    if (parser.isSet(QStringLiteral("help")) || parser.isSet(QStringLiteral("help-all")))
        parser.showHelp();
    if (parser.isSet(QStringLiteral("version")))
        parser.showVersion();
    if (!parser.positionalArguments().isEmpty())
        return UsageError(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));

    std::optional<std::uint32_t> chipClockHz;
    std::optional<std::uint32_t> simClockHz;
    if (!ReadClockOption(parser, chipClock, chipClockHz))
        return ClockUsageError(parser, chipClock);
    if (!ReadClockOption(parser, simClock, simClockHz))
        return ClockUsageError(parser, simClock);
    if (parser.isSet(simClock) && !parser.isSet(simulate))
        return UsageError(QStringLiteral("--sim-clock needs --simulate"));

    std::unique_ptr<velkor::sim::SimulatedTarget> target;
    if (parser.isSet(simulate)) {
        const QString chip = parser.value(simulate);
        try {
            target = std::make_unique<velkor::sim::SimulatedTarget>(chip.toStdString(), simClockHz);
        } catch (const std::invalid_argument&) {
            return UsageError(QStringLiteral("unknown chip \"%1\" for --simulate").arg(chip));
        }
    }

    velkor::TForm1 window(target ? &target->port() : nullptr, target ? &target->clock() : nullptr);
    window.Engine().SckPhase = velkor::SckPhaseFor(chipClockHz.value_or(velkor::kDefaultChipClockHz));
    velkor::Form1 = &window;
    window.show();
    const int exitCode = QApplication::exec();
    velkor::Form1 = nullptr;
    return exitCode;
}
