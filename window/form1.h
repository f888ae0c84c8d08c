#pragma once

#include "settings.h"
#include "strike_button.h"
#include "tempo_engine.h"
#include "tempo_fit.h"

#include <QWidget>

#include <functional>
#include <optional>

QT_BEGIN_NAMESPACE
class QAction;
class QLabel;
class QMenu;
class QLocale;
class QTranslator;
class QLineEdit;
class QPushButton;
QT_END_NAMESPACE

namespace tempocalc {

class LinkSession;
class MidiTap;
struct MidiPort;

// The program's one window: the tempo and average boxes, the note value, and the
// large strike button that the space bar presses.
class Form1 : public QWidget {
    Q_OBJECT

public:
    // Reads seconds since local midnight; tests hand in a clock of their own.
    using Clock = std::function<double()>;

    explicit Form1(Clock clock, QWidget* parent = nullptr);
    explicit Form1(QWidget* parent = nullptr);

    const TempoState& state() const { return state_; }
    const TempoFit& fit() const { return fit_; }

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void strike();
    // A strike at a clock reading, from the strike button or a MIDI pedal.
    void strikeAt(double reading);
    void notetoggle();
    void initialize();
    void about();

    // Runs one operation on the state, puts the texts it set into the boxes and
    // reports a failure; the window goes on either way.
    template <typename Operation> void perform(Operation operation);
    void reportError(const QString& message);

    // Ave by the chosen method, from what the engine and the fit hold.
    std::string averageText() const;
    void chooseAverage(AverageMethod method);
    void describeAverage();
    void showMenu(const QPoint& at);
    void shareWithLink(bool on);
    void describeLink();
#if TEMPOCALC_HAVE_MIDI
    void fillMidiMenu();
    void chooseMidiPort(const std::optional<MidiPort>& port);
#endif

    TempoState state_;
    TempoFit fit_;
    Settings settings_;

    QMenu* menu;
    QAction* meanAction;
    QAction* lineAction;
    QAction* copyAction;
    QAction* linkAction = nullptr; // when built with Link
    LinkSession* link = nullptr;
    QMenu* midiMenu = nullptr; // when built with MIDI
    MidiTap* midi = nullptr;

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

// The window's icon group: the three small images and the scalable artwork.
QIcon applicationIcon();

// The program's name and version, which --version prints too; needs only a
// QCoreApplication.
void nameApplication();

// Names, version, translations, style and icon of the running application; call
// once after the QApplication is made, before the window.
void setUpApplication();

// Loads the window's translation for the first of the locale's languages that has
// one, and Qt's own for the same language. Everyone else gets English, the window's
// own language, whose translation holds only its plural forms; so does a user who
// puts English before another language. Returns whether a translation was loaded.
bool loadTranslations(const QLocale& locale, QTranslator& window, QTranslator& qt);

// The about box's one-line text.
QString aboutText();

} // namespace tempocalc
