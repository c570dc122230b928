#include "Help.h"

#include <CLI/CLI.hpp>

#include <sstream>

namespace velkor {

namespace {

constexpr std::size_t kUsageWidth = 78;

class HelpFormatter final : public CLI::Formatter {
public:
    // The program's own usage names its options one by one, as the README
    // does; a command's usage keeps the library's form.
    std::string make_usage(const CLI::App* app, std::string name) const override
    {
        if (app->get_parent() != nullptr) {
            return CLI::Formatter::make_usage(app, name);
        }
        std::string usage = "Usage: " + name;
        std::size_t lineStart = 0;
        const auto addWord = [&](const std::string& word) {
            if (usage.size() - lineStart + word.size() + 1 > kUsageWidth) {
                lineStart = usage.size() + 1;
                usage += "\n" + std::string(name.size() + 7, ' ');
            } else {
                usage += ' ';
            }
            usage += word;
        };
        for (const CLI::Option* option : app->get_options([](const CLI::Option* o) { return o->nonpositional(); })) {
            if (option == app->get_help_ptr() || option == app->get_version_ptr()) {
                continue;  // listed below; they run no command
            }
            const std::string& value = option->get_type_name();
            addWord("[" + option->get_name() + (value.empty() ? "" : " " + value) + "]");
        }
        addWord("COMMAND");
        return usage + "\nOptions may stand before or after the command.\n";
    }

    // A command with its arguments: "fuse HIGH LOW", "write [HEXFILE]".
    std::string make_subcommand(const CLI::App* command) const override
    {
        std::string synopsis = command->get_name();
        for (const CLI::Option* argument :
             command->get_options([](const CLI::Option* o) { return o->get_positional(); })) {
            synopsis += " " + make_option_usage(argument);
        }
        std::stringstream out;
        CLI::detail::format_help(out, synopsis, command->get_description(), column_width_);
        return out.str();
    }
};

constexpr const char* kFooter = R"(PORT  lpt1 | lpt2 | lpt3 | an I/O base address in hex (0x378, 0xD010, ...) |
      /dev/parportN (default lpt1); `velkor-cli ports` lists the ports
CHIP  a device-table or catalogue name (any case; `velkor-cli --all-chips chips`
      lists them), or none
FREQ  16k .. 20M: 16k, 128k, 1M, 8M, 20M, 3.6864M or plain Hz

Standard output carries exactly the lines of the command's log; hints and
progress go to standard error. Exit status: 0 success, 1 the command failed,
2 usage error.

Examples:
  velkor-cli --simulate ATmega8 signature
  velkor-cli write examples/blink.hex --port lpt2
  velkor-cli --simulate ATmega8 --sim-state chip.json fuse d9 e4)";

}  // namespace

void ConfigureHelp(CLI::App& app)
{
    app.formatter(std::make_shared<HelpFormatter>());
    for (CLI::App* command : app.get_subcommands({})) {
        command->group("Commands");
    }
    app.footer(kFooter);
}

}  // namespace velkor
