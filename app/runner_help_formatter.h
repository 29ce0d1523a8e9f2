#pragma once
#include <CLI/CLI.hpp>
#include <cstddef>
#include <string>
#include <vector>

// --help as the option definitions give it: a usage synopsis made from the
// options, their relations and groups, then each group's options with their
// descriptions, then the footer.
class RunnerHelpFormatter : public CLI::Formatter {
public:
    RunnerHelpFormatter() { column_width(24); }

    // The synopsis first, then what the program does; one empty line after each
    // group of options.
    std::string make_usage(const CLI::App* app, std::string name) const override
    {
        return UsageSynopsis(*app, name) + "\n" + app->get_description() + "\n\n";
    }
    std::string make_description(const CLI::App*) const override { return ""; }
    std::string make_group(std::string group, bool positional, std::vector<const CLI::Option*> options) const override
    {
        std::string text = group + ":\n";
        for (const CLI::Option* option : options) text += make_option(option, positional);
        return text;
    }
    // The relations between options show in the synopsis; an option's line holds its
    // name and value.
    std::string make_option_opts(const CLI::Option* option) const override
    {
        return option->get_type_name().empty() ? std::string() : " " + option->get_type_name();
    }

    // "usage: NAME" and every option, wrapped under the first: [--x N] for an
    // option, [--x N]... for one that repeats, [--a | --b] for two that exclude each
    // other given next to each other, [--x N --y DIR] for two that need each other,
    // and [--x F [--y N]] for options that need --x.
    static std::string UsageSynopsis(const CLI::App& app, const std::string& name);
};

