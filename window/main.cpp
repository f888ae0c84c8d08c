#include "application.h"
#include "form1.h"
#include "headless.h"
#include "options_menu.h"
#if TEMPOCALC_HAVE_LISTEN
#include "listen_file.h"
#endif

#include <QApplication>
#include <QCommandLineParser>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <utility>

namespace {

constexpr const char* noDisplay =
    "tempo-calculator: no display to open the window on; run it in a desktop session, "
    "or without one under a virtual X server: xvfb-run tempo-calculator\n";

bool displayNamed() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

// Until the toolkit is up, its messages are held back: when it cannot start, they
// are the diagnosis, and a display that is named but cannot be reached is said in
// one plain line instead.
QStringList heldBack;
bool displayUnreachable = false;

void printHeldBack() {
    for (const QString& line : std::as_const(heldBack)) {
        std::fprintf(stderr, "%s\n", qPrintable(line));
    }
}

void startupMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    const QLatin1String category(context.category ? context.category : "");
    if ((category == QLatin1String("qt.qpa.xcb") &&
         message.contains(QLatin1String("could not connect to display"))) ||
        (category.startsWith(QLatin1String("qt.qpa.wayland")) &&
         message.contains(QLatin1String("Failed to create wl_display")))) {
        displayUnreachable = true;
    }
    heldBack << qFormatLogMessage(type, context, message);
    if (type == QtFatalMsg) {
        if (displayUnreachable) {
            std::fputs(noDisplay, stderr);
        } else {
            printHeldBack();
        }
        std::exit(EXIT_FAILURE);
    }
}

void describeOptions(QCommandLineParser& parser) {
    QString description =
        QStringLiteral("Measures the tempo of music: press the space bar on every beat.\n\n"
                       "The window's menu (right-click, the Menu key or Shift+F10):");
    for (const QString& entry : tempocalc::OptionsMenu::entryNames()) {
        description += QStringLiteral("\n  ") + entry;
    }
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOption({QStringLiteral("headless"),
                      QStringLiteral("Runs without a window, as a stage box; --headless --help "
                                     "lists its options.")});
#if TEMPOCALC_HAVE_LISTEN
    parser.addOption({QStringLiteral("listen"),
                      QStringLiteral("Listens to an audio file and prints, without a window, one "
                                     "line a beat heard: its time in seconds and the tempo."),
                      QStringLiteral("FILE")});
    parser.addOption({QStringLiteral("taps"),
                      QStringLiteral("With --listen: the player's strikes, one time in seconds a "
                                     "line."),
                      QStringLiteral("FILE")});
#endif
}

} // namespace

int main(int argc, char* argv[]) {
    // Listening to a file and the stage box need no display, and no toolkit for one.
    const auto given = [&](std::string_view option) {
        for (int i = 1; i < argc; ++i) {
            const std::string_view word(argv[i]);
            if (word.starts_with(option) &&
                (word.size() == option.size() || word[option.size()] == '=')) {
                return true;
            }
        }
        return false;
    };
    // Taps without a file to listen to belong to listening too, which says what is missing.
    if (given("--listen") || (given("--taps") && !given("--headless"))) {
#if TEMPOCALC_HAVE_LISTEN
        if (const int status = tempocalc::runListen(argc, argv);
            status != tempocalc::listen_asks_help) {
            return status;
        }
#else
        std::fputs("tempo-calculator: this build cannot listen (built without aubio)\n", stderr);
        return 2;
#endif
    } else if (given("--headless")) {
        return tempocalc::runHeadless(argc, argv);
    }
    // --help and --version answer without a display. Qt's own options (-platform,
    // -style) are not known yet, so only these two are acted on here.
    {
        QStringList arguments;
        for (int i = 0; i < argc; ++i) {
            arguments << QString::fromLocal8Bit(argv[i]);
        }
        QCommandLineParser early;
        describeOptions(early);
        // Qt's own options (-reverse, -stylesheet FILE) are words, not bundles of -h or -v.
        early.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        (void)early.parse(arguments);
        if (early.isSet(QStringLiteral("help")) || early.isSet(QStringLiteral("version"))) {
            QCoreApplication core(argc, argv);
            tempocalc::nameApplication();
            if (early.isSet(QStringLiteral("help"))) {
                early.showHelp(EXIT_SUCCESS);
            }
            early.showVersion();
        }
    }

    if (!displayNamed()) {
        std::fputs(noDisplay, stderr);
        return EXIT_FAILURE;
    }
    const QtMessageHandler defaultHandler = qInstallMessageHandler(startupMessages);
    QApplication app(argc, argv);
    qInstallMessageHandler(defaultHandler);
    printHeldBack();

    tempocalc::setUpApplication();
    QCommandLineParser parser;
    describeOptions(parser);
    parser.process(app); // an unknown option is reported, and the program ends

    tempocalc::Form1 form;
    form.show();
    return app.exec();
}
