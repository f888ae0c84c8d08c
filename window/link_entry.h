#pragma once

#include "settings.h"

#include <QObject>

#include <optional>

QT_BEGIN_NAMESPACE
class QAction;
class QMenu;
QT_END_NAMESPACE

namespace tempocalc {

class LinkSession;

// "Share tempo with Link" in the menu, and the Ableton Link session behind it. While
// it is on, the session follows the tempo that Ave shows, from the first one on: the
// program joins only then, so that it never imposes a tempo it does not have.
class LinkEntry : public QObject {
    Q_OBJECT

public:
    LinkEntry(QMenu* menu, Settings& settings);

    // Ave shows this tempo now (or none).
    void share(std::optional<double> bpm);

signals:
    // "Link session: 97.00 BPM" for Ave's tooltip while joined; empty otherwise.
    void sessionChanged(const QString& line);

private:
    void turn(bool on);
    void describe();

    Settings& settings_;
    QAction* action_;
    LinkSession* link_;
    std::optional<double> shown_; // what Ave shows, shared once sharing is on
};

} // namespace tempocalc
