#include "form1.h"

#include "day_clock.h"
#if TEMPOCALC_HAVE_LINK
#include "link_session.h"
#endif
#if TEMPOCALC_HAVE_MIDI
#include "midi_tap.h"
#endif
#include "number_text.h"
#include "version.h"

#include <QActionGroup>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyleFactory>
#include <QTranslator>

#include <exception>

namespace tempocalc {
namespace {

// The window is laid out in twips, 1440 to the inch: 15 to a logical pixel.
constexpr int twipsPerPixel = 15;

QRect twips(int left, int top, int width, int height) {
    return {left / twipsPerPixel, top / twipsPerPixel, width / twipsPerPixel,
            height / twipsPerPixel};
}

const QColor windowColour(255, 224, 192);
const QColor strikeColour(128, 255, 128);

// The engine's words, which the window shows in the user's language; numbers stay
// as the engine writes them.
const char* const engineWords[] = {
    QT_TRANSLATE_NOOP("tempocalc::Form1", "average"),
    QT_TRANSLATE_NOOP("tempocalc::Form1", "tempo"),
    QT_TRANSLATE_NOOP("tempocalc::Form1", "1/4 note"),
    QT_TRANSLATE_NOOP("tempocalc::Form1", "1/8 note"),
    QT_TRANSLATE_NOOP("tempocalc::Form1", "1/12 note"),
};

QString shownText(std::string_view text) {
    for (const char* word : engineWords) {
        if (text == word) {
            return QCoreApplication::translate("tempocalc::Form1", word);
        }
    }
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QString errorDescription(const RunTimeError& error) {
    switch (error.number()) {
    case RunTimeError::division_by_zero:
        return Form1::tr("Division by zero");
    case RunTimeError::overflow:
        return Form1::tr("Overflow");
    default:
        return QString::fromUtf8(error.what());
    }
}

// A message box whose text stays on one line whenever the screen can hold it:
// QMessageBox wraps any text wider than about half the screen, each time it is shown
// or laid out again.
class OneLineMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    bool event(QEvent* event) override {
        const bool handled = QMessageBox::event(event);
        if (event->type() == QEvent::Show || event->type() == QEvent::LayoutRequest) {
            keepOnOneLine();
        }
        return handled;
    }

private:
    void keepOnOneLine() {
        auto* label = findChild<QLabel*>(QStringLiteral("qt_msgbox_label"));
        if (label == nullptr || !label->wordWrap()) {
            return;
        }
        label->setWordWrap(false);
        layout()->activate();
        const QSize oneLine = layout()->totalSizeHint();
        if (oneLine.width() <= screen()->availableGeometry().width()) {
            setFixedSize(oneLine);
        } else {
            label->setWordWrap(true);
        }
    }
};

std::string decimalSeparator() {
    return QLocale::system().decimalPoint().toStdString();
}

QFont labelFont(const QString& family) {
    QFont font;
    // The Korean UI face first, as on the desktops this window was first drawn for,
    // then its free look-alikes, then the desktop's own.
    font.setFamilies(
        {family, QStringLiteral("NanumGothic"), QStringLiteral("Noto Sans CJK KR"), font.family()});
    font.setPointSize(12);
    font.setBold(true);
    return font;
}

} // namespace

Form1::Form1(QWidget* parent) : Form1(DayClock(), parent) {}

Form1::Form1(Clock clock, QWidget* parent) : QWidget(parent), settings_(Settings::load()) {
    setWindowTitle(tr("Tempo calculator"));
    setFixedSize(4020 / twipsPerPixel, 1815 / twipsPerPixel);

    // Where the window fixes a background, it fixes dark text on it too, so that a
    // dark desktop theme cannot put light text on it. The boxes and the other
    // buttons keep the theme's colours, background and text alike.
    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, windowColour);
    windowPalette.setColor(QPalette::WindowText, Qt::black);
    setPalette(windowPalette);
    setAutoFillBackground(true);

    // Small enough that every caption fits its fixed-size control.
    QFont controlFont = font();
    controlFont.setPointSizeF(8);
    setFont(controlFont);

#if TEMPOCALC_HAVE_MIDI
    midi = new MidiTap(clock, this);
#endif
    Command1 = new StrikeButton(tr("Strike the spacebar with the music!"), std::move(clock), this);
    Command1->setGeometry(twips(240, 840, 3495, 495));
    QPalette strikePalette = Command1->palette();
    strikePalette.setColor(QPalette::Button, strikeColour);
    strikePalette.setColor(QPalette::ButtonText, Qt::black);
    Command1->setPalette(strikePalette);

    Text2 = new QLineEdit(shownText(initial_tempo_text), this);
    Text2->setGeometry(twips(1320, 120, 855, 270));
    Text2->setAccessibleName(tr("Tempo"));

    Label1 = new QLabel(tr("Tempo"), this);
    Label1->setGeometry(twips(240, 120, 1215, 255));
    Label1->setFont(labelFont(QStringLiteral("Dotum")));

    Command2 = new QPushButton(tr("Input note toggle"), this);
    Command2->setGeometry(twips(240, 480, 1575, 255));

    Text3 = new QLineEdit(shownText(note_texts[0]), this);
    Text3->setGeometry(twips(1920, 480, 1815, 270));
    Text3->setAccessibleName(tr("Note value"));

    Command3 = new QPushButton(tr("programmed by lurano"), this);
    Command3->setGeometry(twips(1320, 1440, 2415, 255));

    Text1 = new QLineEdit(shownText(initial_average_text), this);
    Text1->setGeometry(twips(2880, 120, 855, 270));
    Text1->setAccessibleName(tr("Average"));

    Label2 = new QLabel(tr("Ave"), this);
    Label2->setGeometry(twips(2280, 120, 615, 255));
    Label2->setFont(labelFont(QStringLiteral("Gulim")));

    Command4 = new QPushButton(tr("initialize"), this);
    Command4->setGeometry(twips(240, 1440, 975, 255));

    // The text boxes overlap the ends of their captions and are drawn over them.
    Text2->raise();
    Text1->raise();

    Command1->setObjectName(QStringLiteral("Command1"));
    Command2->setObjectName(QStringLiteral("Command2"));
    Command3->setObjectName(QStringLiteral("Command3"));
    Command4->setObjectName(QStringLiteral("Command4"));
    Text1->setObjectName(QStringLiteral("Text1"));
    Text2->setObjectName(QStringLiteral("Text2"));
    Text3->setObjectName(QStringLiteral("Text3"));
    Label1->setObjectName(QStringLiteral("Label1"));
    Label2->setObjectName(QStringLiteral("Label2"));
    setObjectName(QStringLiteral("Form1"));

    setTabOrder(Command1, Text2);
    setTabOrder(Text2, Command2);
    setTabOrder(Command2, Text3);
    setTabOrder(Text3, Command3);
    setTabOrder(Command3, Text1);
    setTabOrder(Text1, Command4);
    Command1->setFocus();

    connect(Command1, &QPushButton::clicked, this, &Form1::strike);
    connect(Command2, &QPushButton::clicked, this, &Form1::notetoggle);
    connect(Command3, &QPushButton::clicked, this, &Form1::about);
    connect(Command4, &QPushButton::clicked, this, &Form1::initialize);

    // The window's options: how Ave is filled, and copying it.
    menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("contextMenu"));
    auto* methods = new QActionGroup(this);
    meanAction = methods->addAction(tr("Mean of the tempos"));
    lineAction = methods->addAction(tr("Line through the strikes"));
    for (QAction* method : {meanAction, lineAction}) {
        method->setCheckable(true);
        menu->addAction(method);
    }
    (settings_.average == AverageMethod::line ? lineAction : meanAction)->setChecked(true);
    connect(meanAction, &QAction::triggered, this, [this] { chooseAverage(AverageMethod::mean); });
    connect(lineAction, &QAction::triggered, this, [this] { chooseAverage(AverageMethod::line); });
    menu->addSeparator();
    copyAction = menu->addAction(tr("Copy average"));
    copyAction->setShortcut(QKeySequence::Copy);
    // Ctrl+C anywhere in the window; a text box with a selection copies that instead.
    addAction(copyAction);
    connect(copyAction, &QAction::triggered, this,
            [this] { QGuiApplication::clipboard()->setText(Text1->text()); });
#if TEMPOCALC_HAVE_LINK
    // Ableton Link: nothing touches the network until the user turns it on.
    menu->addSeparator();
    linkAction = menu->addAction(QString());
    linkAction->setCheckable(true);
    link = new LinkSession(this);
    connect(linkAction, &QAction::triggered, this, &Form1::shareWithLink);
    connect(link, &LinkSession::peersChanged, this, &Form1::describeLink);
    connect(link, &LinkSession::sessionTempoChanged, this, &Form1::describeAverage);
    linkAction->setChecked(settings_.link);
    link->setEnabled(settings_.link);
    describeLink();
#endif
#if TEMPOCALC_HAVE_MIDI
    // Strikes from a MIDI pedal or pad, on the port chosen here.
#if !TEMPOCALC_HAVE_LINK
    menu->addSeparator();
#endif
    midiMenu = menu->addMenu(tr("Tap from MIDI"));
    midiMenu->setObjectName(QStringLiteral("midiMenu"));
    connect(midiMenu, &QMenu::aboutToShow, this, &Form1::fillMidiMenu);
    connect(midi, &MidiTap::strikeAt, this, &Form1::strikeAt);
    connect(midi, &MidiTap::learnedChanged, this, [this] {
        const std::optional<MidiMessage> learned = midi->learned();
        settings_.midiMessage = learned ? learned->toString() : QString();
        settings_.save();
    });
    midi->setLearned(MidiMessage::fromString(settings_.midiMessage));
    if (!settings_.midiPort.isEmpty()) {
        midi->open({settings_.midiApi, settings_.midiPort});
    }
#endif
    // Right-click on a box opens the window's menu too.
    for (QLineEdit* box : {Text1, Text2, Text3}) {
        box->setContextMenuPolicy(Qt::NoContextMenu);
    }
    describeAverage();
}

void Form1::contextMenuEvent(QContextMenuEvent* event) {
    showMenu(event->reason() == QContextMenuEvent::Mouse
                 ? event->globalPos()
                 : Command1->mapToGlobal(Command1->rect().center()));
}

void Form1::keyPressEvent(QKeyEvent* event) {
    // Shift+F10 opens the menu as the Menu key does.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        showMenu(Command1->mapToGlobal(Command1->rect().center()));
        return;
    }
    QWidget::keyPressEvent(event);
}

void Form1::showMenu(const QPoint& at) {
    menu->exec(at);
    Command1->setFocus();
}

std::string Form1::averageText() const {
    if (settings_.average == AverageMethod::line) {
        return average_text(fit_.tempo().value_or(0.0), decimalSeparator());
    }
    return average_text(state_.avetempo, decimalSeparator());
}

void Form1::chooseAverage(AverageMethod method) {
    settings_.average = method;
    settings_.save();
    // Both estimates are always kept: the box shows the other one at once.
    if (state_.tapcount > 0) {
        Text1->setText(shownText(averageText()));
    }
    describeAverage();
}

void Form1::shareWithLink(bool on) {
#if TEMPOCALC_HAVE_LINK
    settings_.link = on;
    settings_.save();
    link->setEnabled(on);
    describeLink();
    describeAverage();
#else
    (void)on;
#endif
}

void Form1::describeLink() {
#if TEMPOCALC_HAVE_LINK
    linkAction->setText(link->isEnabled()
                            ? tr("Share tempo with Link (%n peers)", nullptr, link->peers())
                            : tr("Share tempo with Link"));
#endif
}

#if TEMPOCALC_HAVE_MIDI
void Form1::fillMidiMenu() {
    midiMenu->clear();
    int systems = 0;
    const QList<MidiPort> ports = midi->ports(&systems);
    const std::optional<MidiPort> chosen = midi->chosen();
    if (systems == 0 && !chosen) {
        midiMenu->addAction(tr("No MIDI inputs"))->setEnabled(false);
        return;
    }
    // The system in brackets only where ports of more than one are listed.
    QStringList apis;
    for (const MidiPort& port : ports) {
        if (!apis.contains(port.api)) {
            apis << port.api;
        }
    }
    const auto label = [&](const MidiPort& port) {
        return apis.size() > 1 ? QStringLiteral("%1 (%2)").arg(port.name, port.systemName())
                               : port.name;
    };
    auto* choices = new QActionGroup(midiMenu);
    const auto add = [&](const QString& text, const std::optional<MidiPort>& port) {
        QAction* entry = midiMenu->addAction(text);
        entry->setCheckable(true);
        entry->setChecked(port == chosen);
        choices->addAction(entry);
        connect(entry, &QAction::triggered, this, [this, port] { chooseMidiPort(port); });
    };
    add(tr("None"), std::nullopt);
    for (const MidiPort& port : ports) {
        add(label(port), port);
    }
    if (chosen && !ports.contains(*chosen)) {
        // Unplugged: choosing it again once it is back listens to it again.
        add(tr("%1 (missing)").arg(label(*chosen)), chosen);
    }
    midiMenu->addSeparator();
    QAction* learn = midiMenu->addAction(tr("Learn tap…"));
    learn->setEnabled(midi->isOpen());
    connect(learn, &QAction::triggered, midi, &MidiTap::learn);
}

void Form1::chooseMidiPort(const std::optional<MidiPort>& port) {
    if (port) {
        midi->open(*port);
        settings_.midiPort = port->name;
        settings_.midiApi = port->api;
    } else {
        // Nothing strikes any more, and what was learned is forgotten.
        midi->close();
        midi->setLearned(std::nullopt);
        settings_.midiPort.clear();
        settings_.midiApi.clear();
        settings_.midiMessage.clear();
    }
    settings_.save();
}
#endif

void Form1::describeAverage() {
    const QLocale locale;
    QString description;
    if (settings_.average == AverageMethod::line) {
        const std::optional<double> tempo = fit_.tempo();
        const std::optional<double> error = fit_.standard_error();
        if (tempo && error) {
            description =
                tr("%1 ± %2 BPM over %n strikes", nullptr, fit_.strikes())
                    .arg(locale.toString(*tempo, 'f', 2), locale.toString(*error, 'f', 2));
        } else if (tempo) {
            description = tr("%1 BPM over two strikes").arg(locale.toString(*tempo, 'f', 2));
        } else {
            description = tr("A line through the strikes, from the second strike on");
        }
    } else if (state_.tapcount > 1) {
        description = tr("Mean of the tempos: %1 BPM (intervals: %n)", nullptr, state_.tapcount - 1)
                          .arg(locale.toString(state_.avetempo, 'f', 3));
    } else {
        description = tr("The mean of the tempos, from the second strike on");
    }
#if TEMPOCALC_HAVE_LINK
    if (const std::optional<double> session = link ? link->sessionTempo() : std::nullopt) {
        description +=
            QLatin1Char('\n') + tr("Link session: %1 BPM").arg(locale.toString(*session, 'f', 2));
    }
#endif
    Text1->setToolTip(description);
    Text1->setAccessibleDescription(description);
}

template <typename Operation> void Form1::perform(Operation operation) {
    Shown shown;
    QString error;
    try {
        operation(shown);
    } catch (const RunTimeError& e) {
        error = tr("Run-time error '%1':\n\n%2").arg(e.number()).arg(errorDescription(e));
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
    }
    // A failed operation still shows what it set before it failed.
    if (shown.text1) {
        Text1->setText(shownText(*shown.text1));
    }
    if (shown.text2) {
        Text2->setText(shownText(*shown.text2));
    }
    if (shown.text3) {
        Text3->setText(shownText(*shown.text3));
    }
    if (!error.isEmpty()) {
        reportError(error);
    }
}

void Form1::reportError(const QString& message) {
    QMessageBox::critical(this, windowTitle(), message);
    Command1->setFocus();
}

void Form1::strike() {
    strikeAt(Command1->pressReading());
}

void Form1::strikeAt(double reading) {
    const std::string separator = decimalSeparator();
    std::optional<std::string> shownAverage; // once the strike is made
    perform([&](Shown& shown) {
        try {
            tempocalc::strike(state_, reading, shown, separator);
        } catch (const RunTimeError& e) {
            // Past its clock step only the strike count can overflow: the strike was made.
            if (e.number() == RunTimeError::overflow && state_.prevtime == reading) {
                fit_.add(reading, state_.notemode);
            }
            throw;
        }
        fit_.add(reading, state_.notemode);
        if (settings_.average == AverageMethod::line) {
            shown.text1 = averageText();
        }
        shownAverage = shown.text1;
    });
#if TEMPOCALC_HAVE_LINK
    // The session follows exactly what Ave shows, once it shows a tempo.
    const bool aveHasTempo =
        settings_.average == AverageMethod::line ? fit_.strikes() >= 2 : state_.tapcount >= 2;
    if (shownAverage && aveHasTempo && link->isEnabled()) {
        if (const std::optional<double> tempo = average_value(*shownAverage, separator)) {
            link->publishTempo(*tempo);
        }
    }
#endif
    describeAverage();
}

void Form1::notetoggle() {
    perform([this](Shown& shown) { tempocalc::notetoggle(state_, shown); });
    Command1->setFocus();
}

void Form1::initialize() {
    perform([this](Shown& shown) { tempocalc::initialize(state_, shown); });
    fit_.reset();
    describeAverage();
    Command1->setFocus();
}

void Form1::about() {
    OneLineMessageBox box(QMessageBox::NoIcon,
                          QStringLiteral("ver %1").arg(QStringLiteral(TEMPOCALC_VERSION)),
                          aboutText(), QMessageBox::Ok, this);
    box.exec();
    Command1->setFocus();
}

QString aboutText() {
    return Form1::tr("English version / programmer : lurano #mail : lurano@example.org  "
                     "Special thanks : everyone who tapped along and counted the beats");
}

QIcon applicationIcon() {
    QIcon icon;
    icon.addFile(QStringLiteral(":/icons/tempo-32-monochrome.png"));
    icon.addFile(QStringLiteral(":/icons/tempo-32-16colours.png"));
    icon.addFile(QStringLiteral(":/icons/tempo-16-16colours.png"));
    icon.addFile(QStringLiteral(":/icons/org.example.TempoCalculator.svg"));
    return icon;
}

bool loadTranslations(const QLocale& locale, QTranslator& window, QTranslator& qt) {
    for (const QString& language : locale.uiLanguages()) {
        if (language.startsWith(QLatin1String("en"))) {
            break; // the window's own language goes before any later one
        }
        if (window.load(QLocale(language), QStringLiteral("tempo-calculator"), QStringLiteral("_"),
                        QStringLiteral(":/i18n"))) {
            // Qt's own, for the buttons of the message boxes; the window works without.
            (void)qt.load(QLocale(language), QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath));
            return true;
        }
    }
    // English, the window's own language, for everyone else: its plural forms.
    return window.load(QStringLiteral(":/i18n/tempo-calculator_en.qm"));
}

void nameApplication() {
    // The name under which the program keeps its files, as on the command line.
    QCoreApplication::setApplicationName(QStringLiteral("tempo-calculator"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TEMPOCALC_VERSION));
}

void setUpApplication() {
    nameApplication();
    QGuiApplication::setDesktopFileName(QStringLiteral(TEMPOCALC_APP_ID));
    auto* window = new QTranslator(qApp);
    auto* qt = new QTranslator(qApp);
    if (loadTranslations(QLocale(), *window, *qt)) {
        QCoreApplication::installTranslator(window);
        QCoreApplication::installTranslator(qt);
    }
    // One look on every desktop, so that every caption fits its fixed-size control.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setWindowIcon(applicationIcon());
}

} // namespace tempocalc
