#pragma once

#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>

#include <chrono>

QT_BEGIN_NAMESPACE
class QFrame;
class QLabel;
class QVBoxLayout;
class QWidget;
QT_END_NAMESPACE

namespace tempocalc {

// One-line notices under a window, for what the user should know but need not answer:
// a setting that could not be read, a server that is not running. They never take the
// keyboard focus, so the space bar goes on striking while they show; each goes after
// a few seconds, and all of them at a click. A cause is told once a run, however
// often it comes up.
class Notices : public QObject {
    Q_OBJECT

public:
    explicit Notices(QWidget* window, std::chrono::milliseconds lasting = std::chrono::seconds(10));

    // Shows text unless cause was shown before in this run; while the window is
    // hidden, the notice waits for it to show. Returns whether it is new.
    bool show(const QString& cause, const QString& text);
    // The texts showing or waiting to show, oldest first.
    QStringList texts() const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void reveal();
    void remove(QLabel* line);
    void clear();
    void place();

    QWidget* window_;
    std::chrono::milliseconds lasting_;
    QFrame* panel_;
    QVBoxLayout* lines_;
    QSet<QString> causes_;
};

} // namespace tempocalc
