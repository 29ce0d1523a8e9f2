#include "app/runner_help_formatter.h"

#include <algorithm>

namespace {

constexpr std::size_t kUsageWidth = 110;

// The items after `lead`, one space apart, a line broken before an item that
// would pass the width and the next line indented under the first item.
std::string WrapUnder(const std::string& lead, const std::vector<std::string>& items)
{
    std::string text = lead;
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i > 0 && text.size() - lineStart + 1 + items[i].size() > kUsageWidth) {
            text += "\n";
            lineStart = text.size();
            text += std::string(lead.size(), ' ');
        } else if (i > 0) {
            text += " ";
        }
        text += items[i];
    }
    return text + "\n";
}

}  // namespace

std::string RunnerHelpFormatter::UsageSynopsis(const CLI::App& app, const std::string& name)
{
    std::vector<const CLI::Option*> options = app.get_options();
    // The program's own questions come last.
    std::stable_partition(options.begin(), options.end(), [&](const CLI::Option* o) {
        return o != app.get_help_ptr() && o != app.get_version_ptr();
    });
    const auto needs = [](const CLI::Option* a, const CLI::Option* b) {
        return a->get_needs().count(const_cast<CLI::Option*>(b)) > 0;
    };
    const auto excludes = [](const CLI::Option* a, const CLI::Option* b) {
        return a->get_excludes().count(const_cast<CLI::Option*>(b)) > 0;
    };
    const auto word = [](const CLI::Option* o) {
        return o->get_name() + (o->get_type_name().empty() ? "" : " " + o->get_type_name());
    };
    std::vector<std::string> items;
    std::vector<const CLI::Option*> placed;
    const auto isPlaced = [&](const CLI::Option* o) {
        return std::find(placed.begin(), placed.end(), o) != placed.end();
    };
    for (std::size_t i = 0; i < options.size(); ++i) {
        const CLI::Option* o = options[i];
        if (isPlaced(o)) continue;
        placed.push_back(o);
        std::string item = word(o);
        const CLI::Option* next = i + 1 < options.size() ? options[i + 1] : nullptr;
        const CLI::Option* partner = nullptr;
        for (const CLI::Option* p : options)
            if (p != o && !isPlaced(p) && needs(o, p) && needs(p, o)) partner = p;
        if (partner) {
            item += " " + word(partner);
            placed.push_back(partner);
        } else if (next && excludes(o, next) && excludes(next, o)) {
            item += " | " + word(next);
            placed.push_back(next);
        } else {
            for (const CLI::Option* p : options)
                if (p != o && !isPlaced(p) && needs(p, o) && !needs(o, p)) {
                    item += " [" + word(p) + "]";
                    placed.push_back(p);
                }
        }
        item = "[" + item + "]";
        if (o->get_expected_max() >= CLI::detail::expected_max_vector_size) item += "...";
        items.push_back(item);
    }
    return WrapUnder("usage: " + name + " ", items);
}
