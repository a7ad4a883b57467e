// Placeholder until the frame pipeline lands: every grab fails.
#include "session/CCameraDlg.h"

int CCameraDlg::GrabFrame(const QString&)
{
    SetStatus(QStringLiteral("Could not grab frame..."));
    return 0;
}
HGLOBAL CCameraDlg::StampCaption(HGLOBAL, std::time_t, const CUpload&) { return nullptr; }
