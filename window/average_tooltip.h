#pragma once

#include "tap_session.h"

#include <QCoreApplication>
#include <QString>

namespace tempocalc {

// What Ave's tooltip and accessible description say: how Ave is filled and from what,
// the beat that goes out where it differs from what Ave shows, and the session the
// tempo is shared with.
class AverageTooltip {
    Q_DECLARE_TR_FUNCTIONS(tempocalc::Form1)

public:
    static QString describe(const TapSession& session, const QString& sessionLine);
};

} // namespace tempocalc
