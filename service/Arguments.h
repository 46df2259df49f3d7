#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

// The command line: positional words, `--name value` options (repeatable) and `--flag` switches.
class Arguments {
public:
    // `flags` names the options that take no value.
    Arguments(int argc, char** argv, const std::set<std::string>& flags);

    const std::vector<std::string>& words() const { return positional; }
    std::string word(size_t index) const { return index < positional.size() ? positional[index] : std::string(); }
    std::optional<std::string> option(const std::string& name) const;
    std::vector<std::string> all(const std::string& name) const;
    bool flag(const std::string& name) const { return switches.count(name) != 0; }
    const std::string& error() const { return problem; }

private:
    std::vector<std::string> positional;
    std::multimap<std::string, std::string> options;
    std::set<std::string> switches;
    std::string problem;
};
