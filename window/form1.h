#pragma once

#include "settings.h"
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

    const TempoState& state() const { return session_.state(); }
    const TempoFit& fit() const { return session_.fit(); }

    // A strike at a clock reading, from the strike button or a MIDI pedal (or a test).
    void strikeAt(double reading, TapSession::Source source = TapSession::Source::pedal);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void strike();
    void notetoggle();
    void initialize();
    void about();
    void chooseAverage(AverageMethod method);

    // Runs one operation of the session, puts the texts it set into the boxes and
    // reports a failure; the window goes on either way.
    template <typename Operation> void perform(Operation operation);
    void reportError(const QString& message);
    // Ave's tooltip and accessible description: how it is filled, from what.
    void describeAverage();
    void showMenu(const QPoint& at);
    // The tempo that Ave shows and where its beats fall, to all that follow them.
    void share();

    Settings settings_;
    TapSession session_;
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
