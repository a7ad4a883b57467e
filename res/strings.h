// The program's one table of numbered messages: the JPEG writer's error texts
// and the network failure reasons.
#pragma once

#include <QString>

// True and the text when the table has an entry for the code.
bool LookupMessageString(int code, QString* text);
