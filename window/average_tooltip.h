#pragma once

#include "tap_session.h"

#include <QCoreApplication>
#include <QString>

#include <optional>

namespace tempocalc {

// What Ave's tooltip and accessible description say: how Ave is filled and from what,
// the beat that goes out where it differs from what Ave shows, where in its bar the beat
// is now (as the tooltip shows), and the session the tempo is shared with.
class AverageTooltip {
    Q_DECLARE_TR_FUNCTIONS(tempocalc::Form1)

public:
    static QString describe(const TapSession& session, const QString& sessionLine,
                            std::optional<int> beatInBar = std::nullopt);
};

} // namespace tempocalc
