#include "form1.h"

#include "application.h"
#include "average_tooltip.h"
#include "beat_flash.h"
#include "day_clock.h"
#include "notice.h"
#include "options_menu.h"
#include "rig.h"
#include "settings_notice.h"
#include "strike_button.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QFont>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>

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

Form1::Form1(Clock clock, QWidget* parent)
    : QWidget(parent),
      rig_(new Rig(clock, Settings::load(), QLocale::system().decimalPoint().toStdString(), this)) {
    // Settings that cannot be read or saved, and a JACK server that is not there, are
    // told once without a box that would take the keys, and the window goes on.
    auto* notices = new Notices(this);
    SettingsNotice::watch(rig_->settings(), *notices);
    connect(rig_, &Rig::notice, notices, &Notices::show);

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

    menu = new OptionsMenu(*rig_, this);
    Command1 = new StrikeButton(tr("Strike the spacebar with the music!"), clock, this);
    Command1->setGeometry(twips(240, 840, 3495, 495));
    Command1->setToolTip(tr("Press the space bar on every beat. Right-click, the Menu key or "
                            "Shift+F10 opens the options."));
    QPalette strikePalette = Command1->palette();
    strikePalette.setColor(QPalette::Button, strikeColour);
    strikePalette.setColor(QPalette::ButtonText, Qt::black);
    Command1->setPalette(strikePalette);
    flash = new BeatFlash(Command1, strikeColour, std::move(clock), this);
    flash->setEnabled(rig_->settings().flash);

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

    connect(rig_, &Rig::shown, this, &Form1::showTexts);
    connect(rig_, &Rig::failed, this, &Form1::reportError);
    connect(rig_, &Rig::gridChanged, flash, &BeatFlash::setGrid);
    connect(rig_, &Rig::heardChanged, this, &Form1::describeAverage);
    connect(menu, &OptionsMenu::flashChosen, flash, &BeatFlash::setEnabled);
    connect(menu, &OptionsMenu::sessionChanged, this, &Form1::describeAverage);
    // Ctrl+C anywhere in the window; a text box with a selection copies that instead.
    addAction(menu->copyAction());
    addAction(menu->markAction()); // Return, while the window has the focus
    connect(menu->copyAction(), &QAction::triggered, this,
            [this] { QGuiApplication::clipboard()->setText(Text1->text()); });
    // Right-click on a box opens the window's menu too.
    for (QLineEdit* box : {Text1, Text2, Text3}) {
        box->setContextMenuPolicy(Qt::NoContextMenu);
    }
    // Where in its bar the beat is, as the tooltip shows.
    Text1->installEventFilter(this);
    describeAverage();
}

bool Form1::eventFilter(QObject* watched, QEvent* event) {
    if (watched == Text1 && event->type() == QEvent::ToolTip) {
        Text1->setToolTip(
            AverageTooltip::describe(*rig_, menu->sessionLine(), rig_->beatInBarNow()));
    }
    return QWidget::eventFilter(watched, event);
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

const TempoState& Form1::state() const {
    return rig_->session().state();
}

const TempoFit& Form1::fit() const {
    return rig_->session().fit();
}

void Form1::showTexts(const Shown& shown) {
    if (shown.text1) {
        Text1->setText(shownText(*shown.text1));
    }
    if (shown.text2) {
        Text2->setText(shownText(*shown.text2));
    }
    if (shown.text3) {
        Text3->setText(shownText(*shown.text3));
    }
    describeAverage();
}

void Form1::reportError(int number, const QString& what) {
    const QString message = number == RunTimeError::division_by_zero ? tr("Division by zero")
                            : number == RunTimeError::overflow       ? tr("Overflow")
                                                                     : what;
    QMessageBox::critical(this, windowTitle(),
                          number > 0 ? tr("Run-time error '%1':\n\n%2").arg(number).arg(message)
                                     : message);
    Command1->setFocus();
}

void Form1::strike() {
    strikeAt(Command1->pressReading(), TapSession::Source::button);
}

void Form1::strikeAt(double reading, TapSession::Source source) {
    rig_->strike(reading, source);
}

void Form1::notetoggle() {
    rig_->notetoggle();
    Command1->setFocus();
}

void Form1::initialize() {
    rig_->initialize();
    Command1->setFocus();
}

void Form1::about() {
    showAbout(this);
    Command1->setFocus();
}

void Form1::describeAverage() {
    const QString description = AverageTooltip::describe(*rig_, menu->sessionLine());
    Text1->setToolTip(description);
    Text1->setAccessibleDescription(description);
}

} // namespace tempocalc
