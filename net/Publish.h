// One picture published to every enabled destination in one upload: the
// [FTP] settings first, then [Destination 2..4], each with its own smaller
// copy when it asks for one.
#pragma once

#include "CUpload.h"

#include <QString>
#include <QTemporaryFile>
#include <QVector>

// A destination with its number as the settings name it (1 is [FTP]).
struct NumberedDestination {
    int number;
    FtpDestination d;
};

// What one destination's upload came to. server is as status lines show it.
struct DestinationOutcome {
    int number = 0;
    QString server;
    bool ok = false;
    QString reason; // the status line that told the failure
};

// The enabled destinations in order.
QVector<NumberedDestination> EnabledDestinations(const CUpload& u);

// Over one dial-up connection: one failing destination never stops the next;
// an Abort does, leaving the rest out of the result.
QVector<DestinationOutcome> PublishToAll(CUpload& u);

// The last line of an upload that failed somewhere: each failing
// destination's number, server and reason.
QString FailedUploadLine(const QVector<DestinationOutcome>& outcomes, const QString& started);

// The picture scaled down, aspect kept, to at most maxWidth pixels wide and
// encoded at quality, in a temporary file of our own removed with the object;
// a picture no wider is used as it is.
class SmallerCopy
{
public:
    // The path to upload, or empty with the reason.
    QString Make(const QString& picture, int maxWidth, int quality, QString* error);

private:
    QTemporaryFile m_file;
};
