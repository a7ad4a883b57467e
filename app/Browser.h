// The desktop's registered handler for HTML files, as a command line.
#pragma once

#include <QString>
#include <QStringList>

// The Exec line of the desktop entry registered as the default for text/html
// (mimeapps.list in the XDG config and data directories); empty when none.
QString RegisteredHtmlCommand();

// Splits an Exec line into program and arguments, drops its field codes
// (%u, %U, %f, ...; "%%" is a literal %), and appends the URL.
QStringList BrowserCommandLine(const QString& exec, const QString& url);
