#include "Arguments.h"

Arguments::Arguments(int argc, char** argv, const std::set<std::string>& flags)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--", 0) != 0 || arg == "--") {
            positional.push_back(arg);
            continue;
        }
        const std::string name = arg.substr(2);
        if (flags.count(name)) {
            switches.insert(name);
        } else if (i + 1 < argc) {
            options.emplace(name, argv[++i]);
        } else {
            problem = "选项 " + arg + " 缺少值";
        }
    }
}

std::optional<std::string> Arguments::option(const std::string& name) const
{
    auto it = options.find(name);
    if (it == options.end())
        return std::nullopt;
    return it->second;
}

std::vector<std::string> Arguments::all(const std::string& name) const
{
    std::vector<std::string> values;
    for (auto [it, end] = options.equal_range(name); it != end; ++it)
        values.push_back(it->second);
    return values;
}
