#include "notice.h"

#include <QAccessible>
#include <QEvent>
#include <QFrame>
#include <QLabel>
#include <QScreen>
#include <QTimer>
#include <QToolTip>
#include <QVBoxLayout>

#include <algorithm>

namespace tempocalc {

Notices::Notices(QWidget* window, std::chrono::milliseconds lasting)
    : QObject(window), window_(window), lasting_(lasting) {
    // A tool tip's kind of window: no window system gives it the focus, and it shows
    // over whatever is under it.
    panel_ =
        new QFrame(window, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus);
    panel_->setObjectName(QStringLiteral("notices"));
    panel_->setAttribute(Qt::WA_ShowWithoutActivating);
    panel_->setFocusPolicy(Qt::NoFocus);
    panel_->setFrameStyle(QFrame::Box | QFrame::Plain);
    QPalette colours = QToolTip::palette();
    colours.setColor(QPalette::Window, colours.color(QPalette::ToolTipBase));
    colours.setColor(QPalette::WindowText, colours.color(QPalette::ToolTipText));
    panel_->setPalette(colours);
    panel_->setAutoFillBackground(true);
    lines_ = new QVBoxLayout(panel_);
    lines_->setContentsMargins(6, 3, 6, 3);
    lines_->setSpacing(2);
    lines_->setSizeConstraint(QLayout::SetFixedSize);
    panel_->installEventFilter(this);
    window->installEventFilter(this);
}

bool Notices::show(const QString& cause, const QString& text) {
    if (causes_.contains(cause)) {
        return false;
    }
    causes_ << cause;
    auto* line = new QLabel(text, panel_);
    line->setObjectName(QStringLiteral("notice"));
    line->setTextFormat(Qt::PlainText);
    // A click anywhere on the notices closes them, text included.
    line->setAttribute(Qt::WA_TransparentForMouseEvents);
    line->setProperty("waiting", true);
    lines_->addWidget(line);
    if (window_->isVisible()) {
        reveal();
    }
    return true;
}

QStringList Notices::texts() const {
    QStringList shown;
    for (const QLabel* line : panel_->findChildren<QLabel*>(QStringLiteral("notice"))) {
        shown << line->text();
    }
    return shown;
}

bool Notices::eventFilter(QObject* watched, QEvent* event) {
    if (watched == panel_) {
        if (event->type() == QEvent::MouseButtonPress) {
            clear();
            return true;
        }
    } else {
        switch (event->type()) {
        case QEvent::Show:
            reveal();
            break;
        case QEvent::Hide:
            panel_->hide();
            break;
        case QEvent::Move:
        case QEvent::Resize:
            if (panel_->isVisible()) {
                place();
            }
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

void Notices::reveal() {
    const QList<QLabel*> lines = panel_->findChildren<QLabel*>(QStringLiteral("notice"));
    if (lines.isEmpty()) {
        return;
    }
    for (QLabel* line : lines) {
        // Each is given its time from when it can be seen.
        if (line->property("waiting").toBool()) {
            line->setProperty("waiting", false);
            QTimer::singleShot(lasting_, line, [this, line] { remove(line); });
            QAccessibleEvent alert(line, QAccessible::Alert);
            QAccessible::updateAccessibility(&alert);
        }
    }
    place();
    panel_->show();
}

void Notices::remove(QLabel* line) {
    lines_->removeWidget(line);
    line->setObjectName(QString());
    line->deleteLater(); // its own timer is calling
    if (panel_->findChildren<QLabel*>(QStringLiteral("notice")).isEmpty()) {
        panel_->hide();
    } else {
        place();
    }
}

void Notices::clear() {
    qDeleteAll(panel_->findChildren<QLabel*>(QStringLiteral("notice")));
    panel_->hide();
}

// Under the window, or over it where the screen ends; a text wider than the screen
// takes more lines.
void Notices::place() {
    const QRect screen = window_->screen()->availableGeometry();
    for (QLabel* line : panel_->findChildren<QLabel*>(QStringLiteral("notice"))) {
        line->setWordWrap(false);
        if (line->sizeHint().width() > screen.width() - 20) {
            line->setWordWrap(true);
            line->setFixedWidth(screen.width() - 20);
        }
    }
    lines_->activate();
    const QSize size = panel_->sizeHint();
    const QRect frame = window_->frameGeometry();
    QPoint at(frame.left(), frame.bottom() + 1);
    if (at.y() + size.height() > screen.bottom() + 1) {
        at.setY(std::max(screen.top(), frame.top() - size.height()));
    }
    at.setX(std::clamp(at.x(), screen.left(),
                       std::max(screen.left(), screen.right() + 1 - size.width())));
    panel_->resize(size);
    panel_->move(at);
}

} // namespace tempocalc
