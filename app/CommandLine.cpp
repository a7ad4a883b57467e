#include "CommandLine.h"

#include "service/HealthReport.h"

#include <algorithm>

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
    {"profile", false, true,
     [](CommandLine& c, const QString& name) {
         // Given twice it would be a guess which settings were meant.
         if (!c.profile.isEmpty() || !c.profileError.isEmpty()) {
             c.profile.clear();
             c.profileError = QStringLiteral("The option -profile may be given only once.");
             return;
         }
         c.profileError = ProfileNameProblem(name);
         if (c.profileError.isEmpty())
             c.profile = name;
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
            line.messageArguments << i;
            continue;
        }
        const QString text = arg.mid(1);
        const Option* option = FindOption(text);
        if (!option) {
            line.messages << QStringLiteral("Unknown command line option '-%1'.").arg(text);
            line.messageArguments << i;
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

void ForgetArguments(CommandLine& line, const QList<int>& taken)
{
    for (int m = int(line.messages.size()) - 1; m >= 0; --m) {
        if (taken.contains(line.messageArguments[m])) {
            line.messages.removeAt(m);
            line.messageArguments.removeAt(m);
        }
    }
}

QString ProfileNameProblem(const QString& name)
{
    constexpr int kMaxLength = 64;
    if (name.isEmpty())
        return QStringLiteral("The option -profile needs a name (for example -profile door).");
    const auto allowed = [](QChar c) {
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
               (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
               (c >= QLatin1Char('0') && c <= QLatin1Char('9')) || c == QLatin1Char('-') ||
               c == QLatin1Char('_') || c == QLatin1Char('.');
    };
    // A leading '-' would read as an option here and in a unit's command line.
    const bool ok = name.size() <= kMaxLength && !name.startsWith(QLatin1Char('.')) &&
                    !name.startsWith(QLatin1Char('-')) &&
                    std::all_of(name.begin(), name.end(), allowed);
    if (ok)
        return {};
    // Shown in a terminal and a journal: a name of control characters must
    // not steer either, nor a long one flood them.
    QString shown = EscapeControls(name.left(kMaxLength + 1));
    if (name.size() > kMaxLength + 1)
        shown += QStringLiteral("...");
    return QStringLiteral("The profile name '%1' is not allowed: a profile name has at most %2 "
                          "letters (a-z, A-Z), digits, '-', '_' and '.', and does not start "
                          "with '.' or '-'.")
        .arg(shown)
        .arg(kMaxLength);
}
