#pragma once

#include <QObject>

QT_BEGIN_NAMESPACE
class QAction;
class QMenu;
QT_END_NAMESPACE

namespace tempocalc {

class Rig;

// "Send MIDI clock (JACK)", "Click on the beat (JACK)" and, where the program was built
// to listen, "Listen on JACK" in the menu. While no JACK
// server runs they stay as the user left them and say that they wait for JACK; while
// the client opens or closes they say so.
class JackEntry : public QObject {
    Q_OBJECT

public:
    JackEntry(QMenu* menu, Rig& rig);

private:
    void describe();

    Rig& rig_;
    QAction* clock_entry_;
    QAction* click_entry_;
    QAction* listen_entry_ = nullptr;
};

} // namespace tempocalc
