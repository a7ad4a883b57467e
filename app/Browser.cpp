#include "Browser.h"

#include <QDir>
#include <QFile>
#include <QProcess>

namespace
{

QStringList ConfigDirs()
{
    QStringList dirs;
    QString home = qEnvironmentVariable("XDG_CONFIG_HOME");
    dirs << (home.isEmpty() ? QDir::homePath() + QStringLiteral("/.config") : home);
    QString rest = qEnvironmentVariable("XDG_CONFIG_DIRS", QStringLiteral("/etc/xdg"));
    dirs << rest.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    return dirs;
}

QStringList ApplicationDirs()
{
    QStringList dirs;
    QString home = qEnvironmentVariable("XDG_DATA_HOME");
    dirs << (home.isEmpty() ? QDir::homePath() + QStringLiteral("/.local/share") : home);
    QString rest =
        qEnvironmentVariable("XDG_DATA_DIRS", QStringLiteral("/usr/local/share:/usr/share"));
    dirs << rest.split(QLatin1Char(':'), Qt::SkipEmptyParts);
    for (QString& d : dirs)
        d += QStringLiteral("/applications");
    return dirs;
}

// Reads "key=value" lines of one group without QSettings' list splitting.
QString GroupValue(const QString& file, const QString& group, const QString& key)
{
    QFile f(file);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {};
    bool inGroup = false;
    while (!f.atEnd()) {
        const QString line = QString::fromUtf8(f.readLine()).trimmed();
        if (line.startsWith(QLatin1Char('['))) {
            inGroup = line == QLatin1Char('[') + group + QLatin1Char(']');
            continue;
        }
        const int eq = line.indexOf(QLatin1Char('='));
        if (inGroup && eq > 0 && line.left(eq).trimmed() == key)
            return line.mid(eq + 1).trimmed();
    }
    return {};
}

QString DefaultHtmlEntry()
{
    QStringList places = ConfigDirs();
    places << ApplicationDirs();
    for (const QString& dir : places) {
        const QString value =
            GroupValue(dir + QStringLiteral("/mimeapps.list"),
                       QStringLiteral("Default Applications"), QStringLiteral("text/html"));
        const QString first = value.split(QLatin1Char(';'), Qt::SkipEmptyParts).value(0);
        if (!first.isEmpty())
            return first;
    }
    return {};
}

} // namespace

QString RegisteredHtmlCommand()
{
    const QString entry = DefaultHtmlEntry();
    if (entry.isEmpty() || entry.contains(QLatin1Char('/')))
        return {};
    for (const QString& dir : ApplicationDirs()) {
        const QString exec = GroupValue(dir + QLatin1Char('/') + entry,
                                        QStringLiteral("Desktop Entry"), QStringLiteral("Exec"));
        if (!exec.isEmpty())
            return exec;
    }
    return {};
}

QStringList BrowserCommandLine(const QString& exec, const QString& url)
{
    QStringList args = QProcess::splitCommand(exec);
    QStringList out;
    for (const QString& arg : args) {
        QString kept;
        for (int i = 0; i < arg.size(); ++i) {
            if (arg[i] == QLatin1Char('%') && i + 1 < arg.size()) {
                if (arg[i + 1] == QLatin1Char('%'))
                    kept += QLatin1Char('%');
                ++i; // a field code: the URL is appended instead
                continue;
            }
            kept += arg[i];
        }
        if (!kept.isEmpty())
            out << kept;
    }
    if (!out.isEmpty())
        out << url;
    return out;
}
