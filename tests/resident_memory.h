#pragma once

#include <QByteArray>
#include <QFile>

namespace tempocalc {

// Resident memory of this process in KiB, or -1 where /proc does not tell.
inline long residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').front().toLong();
        }
    }
    return -1;
}

} // namespace tempocalc
