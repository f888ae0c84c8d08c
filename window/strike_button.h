#pragma once

#include <QPushButton>

#include <functional>
#include <optional>

namespace tempocalc {

// A push button that knows when it went down. The clock is read as the key or mouse
// press reaches the button, before the button repaints itself as pressed: that
// instant, not the click on release, is when the beat was struck.
class StrikeButton : public QPushButton {
public:
    using Clock = std::function<double()>;

    StrikeButton(const QString& text, Clock clock, QWidget* parent = nullptr);

    // The clock reading of the latest press, which a click completes.
    double pressReading() const { return pressReading_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    Clock clock_;
    std::optional<double> arrival_; // while a press event is being handled
    double pressReading_ = 0;
};

} // namespace tempocalc
