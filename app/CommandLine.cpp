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
    {"timelapse", false, true,
     [](CommandLine& c, const QString& day) {
         c.timelapse = true;
         c.timelapseDay = day;
     }},
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
        // A missing value stays empty for the option's own check to report.
        QString value;
        if (option->takesValue && i + 1 < arguments.size())
            value = arguments[++i];
        option->apply(line, value);
    }
    return line;
}
