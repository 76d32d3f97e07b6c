// host/command_line.cpp
// Splitting the command line and applying its switches.

#include "host/command_line.h"

namespace qob {

namespace {

// "M-name", "MD-name", "I-path": the text after the prefix, when there is one.
bool TakePrefixed(std::string_view token, std::string_view prefix, std::string& value) {
    if (token.size() <= prefix.size() || token.substr(0, prefix.size()) != prefix) return false;
    value = token.substr(prefix.size());
    return true;
}

}  // namespace

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> tokens;
    size_t start = 0;
    while (start <= commandLine.size()) {
        size_t bar = commandLine.find('|', start);
        if (bar == std::string_view::npos) bar = commandLine.size();
        if (bar > start) tokens.emplace_back(commandLine.substr(start, bar - start));
        start = bar + 1;
    }
    return tokens;
}

bool ApplySwitch(std::string_view token, RuntimeSwitches& switches) {
    if (TakePrefixed(token, "M-", switches.makeName) || TakePrefixed(token, "MD-", switches.makeName) ||
        token == "M") {
        switches.makeMode = true;
        switches.compileOnly = true;
        return true;
    }
    if (TakePrefixed(token, "I-", switches.includePath)) return true;
    struct Flag {
        std::string_view name;
        bool RuntimeSwitches::* flag;
    };
    static constexpr Flag kFlags[] = {
        {"P", &RuntimeSwitches::profiling},      {"Y", &RuntimeSwitches::memoryTracking},
        {"D", &RuntimeSwitches::debugMode},      {"Q", &RuntimeSwitches::quiet},
        {"C", &RuntimeSwitches::compileOnly},    {"RC", &RuntimeSwitches::recompile},
        {"ND", &RuntimeSwitches::noDefaultProgram}, {"R", &RuntimeSwitches::rangeCheck},
        {"W", &RuntimeSwitches::warnings},       {"W1", &RuntimeSwitches::parserWarnings},
        {"X", &RuntimeSwitches::explicitDeclarations}, {"CC", &RuntimeSwitches::completionList},
        {"NO", &RuntimeSwitches::optimiserOff},  {"FPC", &RuntimeSwitches::desktopPlatform},
        {"DM", &RuntimeSwitches::noErrorDisplay},
    };
    for (const Flag& entry : kFlags)
        if (token == entry.name) {
            switches.*entry.flag = true;
            return true;
        }
    struct LinkPasses {
        std::string_view name;
        int32_t count;
    };
    static constexpr LinkPasses kLinkPasses[] = {{"NL", 0}, {"L1", 1}, {"LM", 999}};
    for (const LinkPasses& entry : kLinkPasses)
        if (token == entry.name) {
            switches.linkPassCount = entry.count;
            return true;
        }
    // Accepted without a further effect.
    return token == "B" || token == "FQOC";
}

}  // namespace qob
