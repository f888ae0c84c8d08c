#include "application.h"

#include "version.h"

#include <QApplication>
#include <QEvent>
#include <QIcon>
#include <QLabel>
#include <QLayout>
#include <QLibraryInfo>
#include <QLocale>
#include <QScreen>
#include <QStyleFactory>
#include <QTranslator>

namespace tempocalc {
namespace {

// The engine's words, which the window shows in the user's language; numbers stay
// as the engine writes them.
const char* const engineWords[] = {
    QT_TRANSLATE_NOOP("tempocalc::Form1", "average"),
    QT_TRANSLATE_NOOP("tempocalc::Form1", "tempo"),
    QT_TRANSLATE_NOOP("tempocalc::Form1", "1/4 note"),
    QT_TRANSLATE_NOOP("tempocalc::Form1", "1/8 note"),
    QT_TRANSLATE_NOOP("tempocalc::Form1", "1/12 note"),
};

} // namespace

QString shownText(std::string_view text) {
    for (const char* word : engineWords) {
        if (text == word) {
            return QCoreApplication::translate("tempocalc::Form1", word);
        }
    }
    return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

bool OneLineMessageBox::event(QEvent* event) {
    const bool handled = QMessageBox::event(event);
    if (event->type() == QEvent::Show || event->type() == QEvent::LayoutRequest) {
        keepOnOneLine();
    }
    return handled;
}

void OneLineMessageBox::keepOnOneLine() {
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

QString aboutText() {
    return QCoreApplication::translate(
        "tempocalc::Form1", "English version / programmer : lurano #mail : lurano@example.org  "
                            "Special thanks : everyone who tapped along and counted the beats");
}

void showAbout(QWidget* parent) {
    OneLineMessageBox box(QMessageBox::NoIcon,
                          QStringLiteral("ver %1").arg(QStringLiteral(TEMPOCALC_VERSION)),
                          aboutText(), QMessageBox::Ok, parent);
    box.exec();
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
