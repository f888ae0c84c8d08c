#include "strike_button.h"

namespace tempocalc {

StrikeButton::StrikeButton(const QString& text, Clock clock, QWidget* parent)
    : QPushButton(text, parent), clock_(std::move(clock)) {
    // pressed also comes from click() with no event behind it; then it is now.
    connect(this, &QPushButton::pressed, this,
            [this] { pressReading_ = arrival_ ? *arrival_ : clock_(); });
}

void StrikeButton::keyPressEvent(QKeyEvent* event) {
    arrival_ = clock_();
    QPushButton::keyPressEvent(event);
    arrival_.reset();
}

void StrikeButton::mousePressEvent(QMouseEvent* event) {
    arrival_ = clock_();
    QPushButton::mousePressEvent(event);
    arrival_.reset();
}

} // namespace tempocalc
