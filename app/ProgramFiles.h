// Files beside the program: its folder and the read probe used for them.
#pragma once

#include <QString>

// The path up to and including its last '\' (else its last '/'); empty when
// it holds neither.
QString DirectoryOf(const QString& path);
// Whether the file exists and can be opened for reading.
bool CanOpenForReading(const QString& path);
