#include "strike_button.h"

#include <QKeyEvent>
#include <QMouseEvent>

namespace tempocalc {

StrikeButton::StrikeButton(const QString& text, Clock clock, QWidget* parent)
    : QPushButton(text, parent), clock_(std::move(clock)) {
    // Only a press that puts the button down counts (not a held key's repeats). pressed
    // also comes from click() with no event behind it; then it is now, with no stamp.
    connect(this, &QPushButton::pressed, this, [this] {
        const Arrival arrival = arrival_.value_or(Arrival{clock_(), 0});
        arrivalReading_ = arrival.reading;
        pressReading_ = pressTime_.reading(arrival.reading, arrival.stampMs);
    });
}

void StrikeButton::keyPressEvent(QKeyEvent* event) {
    // X sends a held key's repeats as a release and a press of one instant, which Qt
    // marks as repeats only when both already wait in its queue; on a busy machine they
    // come apart. A press of the key just released, at the very instant of the release,
    // is such a repeat however late it comes, and the release after it finds the button
    // up, so it clicks nothing.
    if (lastKeyRelease_ && event->timestamp() != 0 &&
        event->timestamp() == lastKeyRelease_->stampMs && event->key() == lastKeyRelease_->key) {
        QKeyEvent repeat(event->type(), event->key(), event->modifiers(), event->nativeScanCode(),
                         event->nativeVirtualKey(), event->nativeModifiers(), event->text(), true,
                         event->count(), event->device());
        repeat.setTimestamp(event->timestamp());
        QPushButton::keyPressEvent(&repeat);
        event->setAccepted(repeat.isAccepted());
        return;
    }
    arrival_ = Arrival{clock_(), event->timestamp()};
    QPushButton::keyPressEvent(event);
    arrival_.reset();
}

void StrikeButton::keyReleaseEvent(QKeyEvent* event) {
    lastKeyRelease_ = KeyRelease{event->key(), event->timestamp()};
    QPushButton::keyReleaseEvent(event);
}

void StrikeButton::mousePressEvent(QMouseEvent* event) {
    arrival_ = Arrival{clock_(), event->timestamp()};
    QPushButton::mousePressEvent(event);
    arrival_.reset();
}

} // namespace tempocalc
