#pragma once

#include <QCoreApplication>
#include <QString>
#include <QStringList>

#include <gtest/gtest.h>

#include <ifaddrs.h>
#include <net/if.h>

#include <cstdio>
#include <cstdlib>

namespace tempocalc {

// Link multicasts on every interface that is up: outside a private network namespace
// these tests would send packets off the machine. They refuse before any peer exists.
class OnlyLoopback : public testing::Environment {
public:
    void SetUp() override {
        if (const QString why = outside(); !why.isEmpty()) {
            refuse(why);
        }
    }

    // Why this process may not use Link: empty inside a private network namespace.
    static QString outside() {
        QStringList others;
        ifaddrs* interfaces = nullptr;
        if (getifaddrs(&interfaces) != 0) {
            return QStringLiteral("its network interfaces cannot be listed");
        }
        for (const ifaddrs* i = interfaces; i; i = i->ifa_next) {
            if ((i->ifa_flags & IFF_UP) && !(i->ifa_flags & IFF_LOOPBACK) &&
                !others.contains(QString::fromLocal8Bit(i->ifa_name))) {
                others << QString::fromLocal8Bit(i->ifa_name);
            }
        }
        freeifaddrs(interfaces);
        return others.isEmpty() ? QString()
                                : QStringLiteral("interfaces other than loopback are up (%1)")
                                      .arg(others.join(QStringLiteral(", ")));
    }

    [[noreturn]] static void refuse(const QString& why) {
        const QString program = QCoreApplication::applicationFilePath();
        std::fprintf(stderr,
                     "%s: not run, %s: Link would send packets off this machine. Run the tests "
                     "in a private network namespace, as ctest does, or by hand: unshare --net "
                     "sh -c 'ip link set lo up && exec %s'\n",
                     qPrintable(program.section(QLatin1Char('/'), -1)), qPrintable(why),
                     qPrintable(program));
        std::_Exit(1);
    }
};

} // namespace tempocalc
