#pragma once

#include "tap_session.h"

#include <QWidget>

#include <functional>

QT_BEGIN_NAMESPACE
class QLabel;
class QLineEdit;
class QPushButton;
QT_END_NAMESPACE

namespace tempocalc {

class BeatFlash;
class OptionsMenu;
class Rig;
class StrikeButton;

// The program's one window: the tempo and average boxes, the note value, and the
// large strike button that the space bar presses. Its options menu brings the rest.
class Form1 : public QWidget {
    Q_OBJECT

public:
    // Reads seconds since local midnight; tests hand in a clock of their own.
    using Clock = std::function<double()>;

    explicit Form1(Clock clock, QWidget* parent = nullptr);
    explicit Form1(QWidget* parent = nullptr);

    const TempoState& state() const;
    const TempoFit& fit() const;
    Rig& rig() const { return *rig_; }

    // A strike at a clock reading, from the strike button or a MIDI pedal (or a test).
    void strikeAt(double reading, TapSession::Source source = TapSession::Source::pedal);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void strike();
    void notetoggle();
    void initialize();
    void about();

    // Puts the texts an operation set into the boxes.
    void showTexts(const Shown& shown);
    void reportError(int number, const QString& what);
    // Ave's tooltip and accessible description: how it is filled, from what.
    void describeAverage();
    void showMenu(const QPoint& at);

    Rig* rig_;
    OptionsMenu* menu;
    BeatFlash* flash;

    StrikeButton* Command1;
    QLineEdit* Text2;
    QLabel* Label1;
    QPushButton* Command2;
    QLineEdit* Text3;
    QPushButton* Command3;
    QLineEdit* Text1;
    QLabel* Label2;
    QPushButton* Command4;
};

} // namespace tempocalc
