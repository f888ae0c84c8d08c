#pragma once


#include <QCoreApplication>
#include <QLocale>
#include <QString>

#include <optional>

namespace tempocalc {

class Rig;

// What Ave's tooltip and accessible description say: how Ave is filled and from what
// (the strikes, or the music heard and how sure the program is of it),
// the beat that goes out where it differs from what Ave shows, where in its bar the beat
// is now (as the tooltip shows), and the session the tempo is shared with.
class AverageTooltip {
    Q_DECLARE_TR_FUNCTIONS(tempocalc::Form1)

public:
    static QString describe(const Rig& rig, const QString& sessionLine,
                            std::optional<int> beatInBar = std::nullopt);

private:
    static QString heard(const Rig& rig, const QLocale& locale);
};

} // namespace tempocalc
