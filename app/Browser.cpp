#include "Browser.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>

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

// The desktops named by $XDG_CURRENT_DESKTOP, lower-cased, for their own lists.
QStringList DesktopNames()
{
    return qEnvironmentVariable("XDG_CURRENT_DESKTOP")
        .toLower()
        .split(QLatin1Char(':'), Qt::SkipEmptyParts);
}

// The Exec line of an installed, visible desktop entry; empty when none.
QString ExecOf(const QString& entry)
{
    if (entry.isEmpty() || entry.contains(QLatin1Char('/')))
        return {};
    const QString group = QStringLiteral("Desktop Entry");
    for (const QString& dir : ApplicationDirs()) {
        const QString file = dir + QLatin1Char('/') + entry;
        if (!QFile::exists(file))
            continue;
        // The first entry found by its id decides, even when it hides the others.
        if (GroupValue(file, group, QStringLiteral("Hidden")) == QLatin1String("true"))
            return {};
        return GroupValue(file, group, QStringLiteral("Exec"));
    }
    return {};
}

// The first entry of a ';' list that is installed; missing ones fall through.
QString FirstInstalledExec(const QString& list)
{
    for (const QString& entry : list.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QString exec = ExecOf(entry.trimmed());
        if (!exec.isEmpty())
            return exec;
    }
    return {};
}

QString HtmlExecFrom(const QStringList& files, const QString& group)
{
    for (const QString& file : files) {
        const QString exec =
            FirstInstalledExec(GroupValue(file, group, QStringLiteral("text/html")));
        if (!exec.isEmpty())
            return exec;
    }
    return {};
}

QStringList InEach(const QStringList& dirs, const QString& name)
{
    QStringList files;
    for (const QString& dir : dirs)
        files << dir + QLatin1Char('/') + name;
    return files;
}

} // namespace

QString RegisteredHtmlCommand()
{
    // The user's and the desktop's choices, desktop-specific lists first.
    QStringList lists;
    for (const QString& dir : ConfigDirs() + ApplicationDirs()) {
        for (const QString& desktop : DesktopNames())
            lists << dir + QLatin1Char('/') + desktop + QStringLiteral("-mimeapps.list");
        lists << dir + QStringLiteral("/mimeapps.list");
    }
    const QString defaults = QStringLiteral("Default Applications");
    QString exec = HtmlExecFrom(lists, defaults);
    if (exec.isEmpty())
        exec = HtmlExecFrom(InEach(ApplicationDirs(), QStringLiteral("defaults.list")), defaults);
    if (exec.isEmpty())
        exec = HtmlExecFrom(lists, QStringLiteral("Added Associations"));
    if (exec.isEmpty())
        exec = HtmlExecFrom(InEach(ApplicationDirs(), QStringLiteral("mimeinfo.cache")),
                            QStringLiteral("MIME Cache"));
    if (!exec.isEmpty())
        return exec;
    // Nobody chose a handler: the desktop's own opener decides.
    const QString opener = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    return opener.isEmpty() ? QString() : QLatin1Char('"') + opener + QLatin1Char('"');
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
