// Start-up: the one window, on the parallel port or on a simulated chip.
#include <QApplication>
#include <QCommandLineOption>
#include <QCommandLineParser>

#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "CommonOptions.h"
#include "StandardDescriptors.h"
#include "Unit1.h"

namespace {

int UsageError(const QString& message)
{
    std::fprintf(stderr, "velkor: %s\n", qPrintable(message));
    return velkor::kExitUsage;
}

// The window's command line.
struct CommandLine {
    CommandLine();
    velkor::CommonOptions Options() const;

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
    const QCommandLineOption cable{
        QStringLiteral("cable"),
        QStringLiteral("The cable between the port and the board (default built-in; velkor-cli cables lists them)."),
        QStringLiteral("NAME")};
    const QCommandLineOption cableFile{
        QStringLiteral("cable-file"),
        QStringLiteral("Your own cables, in the known cables' format (JSON); with one cable in it, that one is used."),
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
    parser.addOption(cable);
    parser.addOption(cableFile);
}

velkor::CommonOptions CommandLine::Options() const
{
    const auto text = [this](const QCommandLineOption& option) {
        return parser.isSet(option) ? std::optional<std::string>(parser.value(option).toStdString()) : std::nullopt;
    };
    const auto path = [&text](const QCommandLineOption& option) {
        const std::optional<std::string> file = text(option);
        return file ? std::optional<std::filesystem::path>(*file) : std::nullopt;
    };
    return {.chip = text(simulate),
            .chipClock = text(chipClock),
            .simClock = text(simClock),
            .allChips = parser.isSet(allChips),
            .chipFile = path(chipFile),
            .cable = text(cable),
            .cableFile = path(cableFile)};
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

// The simulated chip of --simulate, if any; its faults are said as --simulate's.
std::unique_ptr<velkor::sim::SimulatedTarget> SimulatedChip(const velkor::CommonOptions& options,
                                                            std::optional<std::uint32_t> clockHz)
{
    if (!options.chip) {
        return nullptr;
    }
    try {
        return velkor::MakeSimulatedTarget(*options.chip, clockHz);
    } catch (const velkor::UsageError& e) {
        throw velkor::UsageError(std::string("--simulate: ") + e.what());
    }
}

// The window on the parallel port or on the simulated chip; a UsageError,
// before it opens, for a fault in the options.
int RunWindow(const velkor::CommonOptions& options)
{
    velkor::ClockOption("--chip-clock", options.chipClock);  // checked before the window opens; SetPace applies it
    const std::optional<std::uint32_t> simClockHz = velkor::ClockOption("--sim-clock", options.simClock);
    if (options.simClock && !options.chip) {
        throw velkor::UsageError("--sim-clock needs --simulate");
    }
    const velkor::KnownParts known = velkor::ReadKnownParts(options);
    const std::unique_ptr<velkor::sim::SimulatedTarget> target = SimulatedChip(options, simClockHz);
    if (target) {
        target->port().UseCable(known.ChosenCable());
    }

    velkor::TForm1 window(target ? &target->port() : nullptr, target ? &target->clock() : nullptr);
    velkor::SetPace(window.Engine(), options, known.Lists());
    window.Engine().UseCable(known.ChosenCable());
    velkor::Form1 = &window;
    window.show();
    const int exitCode = QApplication::exec();
    velkor::Form1 = nullptr;
    return exitCode;
}

}  // namespace

int main(int argc, char* argv[])
{
    velkor::OpenMissingStandardDescriptors();
    AnswerHelpOrVersion(argc, argv);
    QApplication application(argc, argv);
    CommandLine commandLine;
    QCommandLineParser& parser = commandLine.parser;
    if (!parser.parse(QApplication::arguments())) {
        return UsageError(parser.errorText());
    }
    if (!parser.positionalArguments().isEmpty()) {
        return UsageError(QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
    }
    try {
        return RunWindow(commandLine.Options());
    } catch (const velkor::UsageError& e) {
        return UsageError(QString::fromStdString(e.what()));
    }
}
