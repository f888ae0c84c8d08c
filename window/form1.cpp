#include "form1.h"

#include "day_clock.h"
#include "version.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QStyleFactory>

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

QString toQString(std::string_view text) {
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

QFont labelFont(const QString& family) {
    QFont font;
    // The Korean UI face first, as on the desktops this window was first drawn for,
    // then its free look-alikes, then the desktop's own.
    font.setFamilies({family, QStringLiteral("Nanum Gothic"), QStringLiteral("Noto Sans CJK KR"),
                      font.family()});
    font.setPointSize(12);
    font.setBold(true);
    return font;
}

} // namespace

Form1::Form1(QWidget* parent) : Form1(DayClock(), parent) {}

Form1::Form1(Clock clock, QWidget* parent) : QWidget(parent) {
    setWindowTitle(tr("Tempo calculator"));
    setFixedSize(4020 / twipsPerPixel, 1815 / twipsPerPixel);

    QPalette windowPalette = palette();
    windowPalette.setColor(QPalette::Window, windowColour);
    setPalette(windowPalette);
    setAutoFillBackground(true);

    // Small enough that every caption fits its fixed-size control.
    QFont controlFont = font();
    controlFont.setPointSizeF(8);
    setFont(controlFont);

    Command1 = new StrikeButton(tr("Strike the spacebar with the music!"), std::move(clock), this);
    Command1->setGeometry(twips(240, 840, 3495, 495));
    QPalette strikePalette = Command1->palette();
    strikePalette.setColor(QPalette::Button, strikeColour);
    Command1->setPalette(strikePalette);

    Text2 = new QLineEdit(toQString(initial_tempo_text), this);
    Text2->setGeometry(twips(1320, 120, 855, 270));
    Text2->setAccessibleName(tr("Tempo"));

    Label1 = new QLabel(tr("Tempo"), this);
    Label1->setGeometry(twips(240, 120, 1215, 255));
    Label1->setFont(labelFont(QStringLiteral("Dotum")));
    QPalette blackText = Label1->palette();
    blackText.setColor(QPalette::WindowText, Qt::black);
    Label1->setPalette(blackText);

    Command2 = new QPushButton(tr("Input note toggle"), this);
    Command2->setGeometry(twips(240, 480, 1575, 255));

    Text3 = new QLineEdit(toQString(note_texts[0]), this);
    Text3->setGeometry(twips(1920, 480, 1815, 270));
    Text3->setAccessibleName(tr("Note value"));

    Command3 = new QPushButton(tr("programmed by lurano"), this);
    Command3->setGeometry(twips(1320, 1440, 2415, 255));

    Text1 = new QLineEdit(toQString(initial_average_text), this);
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
}

template <typename Operation> void Form1::perform(Operation operation) {
    Shown shown;
    QString error;
    try {
        operation(shown);
    } catch (const RunTimeError& e) {
        error = tr("Run-time error '%1':\n\n%2").arg(e.number()).arg(QString::fromUtf8(e.what()));
    } catch (const std::exception& e) {
        error = QString::fromUtf8(e.what());
    }
    // A failed operation still shows what it set before it failed.
    if (shown.text1) {
        Text1->setText(QString::fromStdString(*shown.text1));
    }
    if (shown.text2) {
        Text2->setText(QString::fromStdString(*shown.text2));
    }
    if (shown.text3) {
        Text3->setText(QString::fromStdString(*shown.text3));
    }
    if (!error.isEmpty()) {
        reportError(error);
    }
}

void Form1::reportError(const QString& message) {
    QMessageBox::critical(this, tr("Tempo calculator"), message);
    Command1->setFocus();
}

void Form1::strike() {
    const double reading = Command1->pressReading();
    const std::string separator = QLocale::system().decimalPoint().toStdString();
    perform([&](Shown& shown) { tempocalc::strike(state_, reading, shown, separator); });
}

void Form1::notetoggle() {
    perform([this](Shown& shown) { tempocalc::notetoggle(state_, shown); });
    Command1->setFocus();
}

void Form1::initialize() {
    perform([this](Shown& shown) { tempocalc::initialize(state_, shown); });
    Command1->setFocus();
}

void Form1::about() {
    QMessageBox box(QMessageBox::NoIcon,
                    QStringLiteral("ver %1").arg(QStringLiteral(TEMPOCALC_VERSION)), aboutText(),
                    QMessageBox::Ok, this);
    box.exec();
    Command1->setFocus();
}

QString aboutText() {
    return QStringLiteral("English version / programmer : lurano #mail : lurano@example.org  "
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

void setUpApplication() {
    QApplication::setApplicationName(QStringLiteral("Tempo calculator"));
    QApplication::setApplicationVersion(QStringLiteral(TEMPOCALC_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral(TEMPOCALC_APP_ID));
    // One look on every desktop, so that every caption fits its fixed-size control.
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QApplication::setWindowIcon(applicationIcon());
}

} // namespace tempocalc
