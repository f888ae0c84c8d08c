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
    arrival_ = Arrival{clock_(), event->timestamp()};
    QPushButton::keyPressEvent(event);
    arrival_.reset();
}

void StrikeButton::mousePressEvent(QMouseEvent* event) {
    arrival_ = Arrival{clock_(), event->timestamp()};
    QPushButton::mousePressEvent(event);
    arrival_.reset();
}

} // namespace tempocalc
