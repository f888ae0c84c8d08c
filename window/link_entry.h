#pragma once

#include <QObject>
#include <QString>

QT_BEGIN_NAMESPACE
class QAction;
class QMenu;
QT_END_NAMESPACE

namespace tempocalc {

class Rig;

// "Share tempo with Link" in the menu, which says whether the program has joined a
// session and how many peers it has, and under it "Put Link's beats on the taps".
class LinkEntry : public QObject {
    Q_OBJECT

public:
    LinkEntry(QMenu* menu, Rig& rig);

signals:
    // "Link session: 97.00 BPM" for Ave's tooltip while joined; empty otherwise.
    void sessionChanged(const QString& line);

private:
    void describe();

    Rig& rig_;
    QAction* action_;
    QAction* align_;
};

} // namespace tempocalc
