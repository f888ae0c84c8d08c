#include "form1.h"

#include <QApplication>
#include <QStringList>

#include <cstdio>
#include <cstdlib>
#include <utility>

namespace {

constexpr const char* noDisplay =
    "tempo-calculator: no display to open the window on; run it in a desktop session, "
    "or without one under a virtual X server: xvfb-run tempo-calculator\n";

bool displayReachable() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return !qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") ||
           !qEnvironmentVariableIsEmpty("DISPLAY") ||
           !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

// A display that is named but cannot be reached fails inside the toolkit. Until the
// toolkit is up, hold its messages back so that such a failure reads as one plain line.
QStringList heldBack;

void startupMessages(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtFatalMsg) {
        std::fputs(noDisplay, stderr);
        std::exit(EXIT_FAILURE);
    }
    heldBack << message;
}

} // namespace

int main(int argc, char* argv[]) {
    if (!displayReachable()) {
        std::fputs(noDisplay, stderr);
        return EXIT_FAILURE;
    }
    const QtMessageHandler defaultHandler = qInstallMessageHandler(startupMessages);
    QApplication app(argc, argv);
    qInstallMessageHandler(defaultHandler);
    for (const QString& message : std::as_const(heldBack)) {
        std::fprintf(stderr, "%s\n", qPrintable(message));
    }

    tempocalc::setUpApplication();

    tempocalc::Form1 form;
    form.show();
    return app.exec();
}
