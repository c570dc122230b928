// Start-up: the one window, on the parallel port or on a simulated chip.
#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>

#include <cstdio>
#include <memory>
#include <optional>
#include <stdexcept>
#include <tuple>

#include "BuiltInCatalogue.h"
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
    if (!parser.isSet(option)) {
        return true;
    }
    hz = velkor::ParseChipClock(parser.value(option).toStdString());
    return hz.has_value();
}

int ClockUsageError(const QCommandLineParser& parser, const QCommandLineOption& option)
{
    return UsageError(QString::fromStdString(
        velkor::ChipClockError("--" + option.names().first().toStdString(), parser.value(option).toStdString())));
}

// The window's command line.
struct CommandLine {
    CommandLine();

    QCommandLineParser parser;
    const QCommandLineOption simulate{
        QStringLiteral("simulate"),
        QStringLiteral("Run the commands on a simulated CHIP (a device-table or catalogue name, "
                       "or none) instead of the parallel port."),
        QStringLiteral("CHIP")};
    const QCommandLineOption chipClock{
        QStringLiteral("chip-clock"),
        QStringLiteral("The target's clock, 16k .. 20M (default 1M): sets the SCK pace, e.g. 128k, 8M."),
        QStringLiteral("FREQ")};
    const QCommandLineOption simClock{QStringLiteral("sim-clock"),
                                      QStringLiteral("With --simulate: the simulated chip's clock whatever its fuses "
                                                     "select, 16k .. 20M (default: the clock its fuses select)."),
                                      QStringLiteral("FREQ")};
    const QCommandLineOption allChips{
        QStringLiteral("all-chips"),
        QStringLiteral("Identify the chips of the built-in catalogue too, once the device table has no match.")};
    const QCommandLineOption chipFile{
        QStringLiteral("chip-file"),
        QStringLiteral("Your own chips, in the catalogue's format (JSON), searched before the catalogue."),
        QStringLiteral("FILE")};
};

CommandLine::CommandLine()
{
    QCoreApplication::setApplicationName(QStringLiteral("velkor"));
    QCoreApplication::setApplicationVersion(QStringLiteral(VELKOR_VERSION));
    parser.setApplicationDescription(
        QStringLiteral("Programs Atmel AVR microcontrollers in-system through the parallel port."));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption(simulate);
    parser.addOption(chipClock);
    parser.addOption(simClock);
    parser.addOption(allChips);
    parser.addOption(chipFile);
}

// Answers --help and --version, and exits, before the window's application
// exists: that one needs a display, these answers do not. Any other fault in
// the command line is left to the full reading, after the window's
// application has taken out its own options (-platform and the like).
void AnswerHelpOrVersion(int argc, char* argv[])
{
    const QCoreApplication application(argc, argv);
    CommandLine commandLine;
    commandLine.parser.parse(QCoreApplication::arguments());
    if (commandLine.parser.isSet(QStringLiteral("help")) || commandLine.parser.isSet(QStringLiteral("help-all"))) {
        commandLine.parser.showHelp();
    }
    if (commandLine.parser.isSet(QStringLiteral("version"))) {
        commandLine.parser.showVersion();
    }
}

}  // namespace

int main(int argc, char* argv[])
{
    velkor::OpenMissingStandardDescriptors();
    AnswerHelpOrVersion(argc, argv);
    QApplication application(argc, argv);
    CommandLine commandLine;
    QCommandLineParser& parser = commandLine.parser;
    const auto& [simulate, chipClock, simClock, allChips, chipFile] = std::tie(
        commandLine.simulate, commandLine.chipClock, commandLine.simClock, commandLine.allChips, commandLine.chipFile);
    if (!parser.parse(QApplication::arguments())) {
        return UsageError(parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return UsageError(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
    }

    std::optional<std::uint32_t> chipClockHz;
    std::optional<std::uint32_t> simClockHz;
    if (!ReadClockOption(parser, chipClock, chipClockHz)) {
        return ClockUsageError(parser, chipClock);
    }
    if (!ReadClockOption(parser, simClock, simClockHz)) {
        return ClockUsageError(parser, simClock);
    }
    if (parser.isSet(simClock) && !parser.isSet(simulate)) {
        return UsageError(QStringLiteral("--sim-clock needs --simulate"));
    }

    std::optional<velkor::KnownChips> knownChips;
    try {
        knownChips.emplace(parser.isSet(allChips), parser.isSet(chipFile) ? std::optional<std::filesystem::path>(
                                                                                parser.value(chipFile).toStdString())
                                                                          : std::nullopt);
    } catch (const velkor::ChipFileError& e) {
        return UsageError(QStringLiteral("--chip-file %1").arg(QString::fromStdString(e.what())));
    }

    std::unique_ptr<velkor::sim::SimulatedTarget> target;
    if (parser.isSet(simulate)) {
        const QString chip = parser.value(simulate);
        try {
            target = std::make_unique<velkor::sim::SimulatedTarget>(chip.toStdString(), simClockHz);
        } catch (const std::invalid_argument& e) {
            return UsageError(QStringLiteral("--simulate: %1").arg(QString::fromStdString(e.what())));
        }
    }

    velkor::TForm1 window(target ? &target->port() : nullptr, target ? &target->clock() : nullptr);
    window.Engine().SckPhase = velkor::SckPhaseFor(chipClockHz.value_or(velkor::kDefaultChipClockHz));
    window.Engine().ChipLists = knownChips->Lists();
    velkor::Form1 = &window;
    window.show();
    const int exitCode = QApplication::exec();
    velkor::Form1 = nullptr;
    return exitCode;
}
