#include "CommandLine.h"

namespace
{
struct Option {
    const char* name;
    bool prefix;     // "min" also accepts -minimal, as it always has
    bool takesValue; // the value is the next argument
    void (*apply)(CommandLine& line, const QString& value);
};

const Option kOptions[] = {
    {"min", true, false, [](CommandLine& c, const QString&) { c.minimized = true; }},
    {"service", false, false, [](CommandLine& c, const QString&) { c.service = true; }},
    {"status", false, false, [](CommandLine& c, const QString&) { c.status = true; }},
};

const Option* FindOption(const QString& text)
{
    for (const Option& o : kOptions) {
        const QLatin1String name(o.name);
        if (o.prefix ? text.startsWith(name) : text == name)
            return &o;
    }
    return nullptr;
}
} // namespace

CommandLine ParseCommandLine(const QStringList& arguments)
{
    CommandLine line;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        const bool flag = arg.startsWith(QLatin1Char('-')) || arg.startsWith(QLatin1Char('/'));
        if (!flag) {
            line.messages << QStringLiteral("Unknown command line argument '%1'.").arg(arg);
            continue;
        }
        const QString text = arg.mid(1);
        const Option* option = FindOption(text);
        if (!option) {
            line.messages << QStringLiteral("Unknown command line option '-%1'.").arg(text);
            continue;
        }
        QString value;
        if (option->takesValue) {
            if (i + 1 >= arguments.size()) {
                line.messages
                    << QStringLiteral("Command line option '-%1' needs a value.").arg(text);
                continue;
            }
            value = arguments[++i];
        }
        option->apply(line, value);
    }
    return line;
}
