// The desktop's registered handler for HTML files, as a command line.
#pragma once

#include <QString>
#include <QStringList>

// The Exec line of the desktop's default handler for text/html, found as the
// desktop finds it: mimeapps.list (desktop-specific ones first) in the XDG
// config and data directories, then defaults.list, then the added
// associations, then the MIME cache, each entry that is not installed
// falling through to the next. Without any, the desktop's opener (xdg-open)
// on PATH; empty when there is none either.
QString RegisteredHtmlCommand();

// Splits an Exec line into program and arguments, drops its field codes
// (%u, %U, %f, ...; "%%" is a literal %), and appends the URL.
QStringList BrowserCommandLine(const QString& exec, const QString& url);
