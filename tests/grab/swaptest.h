// The swap tests' fixture: a plain frame on the clipboard, grabs to a
// destination, and counted (or refused) renames.
#pragma once

#include "grabtest.h"

#include <QFile>
#include <cerrno>
#include <functional>

namespace grabtest
{

class Swap : public GrabFixture
{
protected:
    void SetUp() override { PutOnClipboard(dibtest::BuildDib(PlainFrame(64, 48, 24))); }

    int Grab(const QString& dest) { return WriteClipboardFrame(dlg, dest); }
    int Grab() { return Grab(Dest()); }

    // Counts exchange, park, install and restore attempts and lets a test
    // refuse some (an exchange with EBUSY).
    struct RenameLog {
        int exchange = 0, park = 0, install = 0, restore = 0;
    };
    using Refuse = std::function<bool(const char*, const char*)>;
    void CountRenames(RenameLog* log, Refuse refuse = {})
    {
        OwnFileOps& ops = OwnFiles();
        auto counted = [refuse](int* count, std::function<bool(const char*, const char*)> real) {
            return [=](const char* from, const char* to) {
                ++*count;
                return !(refuse && refuse(from, to)) && real(from, to);
            };
        };
        ops.link = counted(&log->park, LinkNoReplace);
        ops.renameOver = counted(&log->install, RenameOver);
        ops.renameNoReplace = counted(&log->restore, RenameNoReplace);
        ops.exchange = [=](const char* from, const char* to) {
            ++log->exchange;
            return refuse && refuse(from, to) ? EBUSY : ExchangeFiles(from, to);
        };
    }
    QByteArray Contents(const QString& path) const
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static bool Write(const QString& path, const QByteArray& bytes)
    {
        QFile f(path);
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
    }
    bool IsJpeg(const QString& path) const
    {
        return dibtest::DecodeJpegFile(path.toStdString()).ok;
    }
};

} // namespace grabtest
