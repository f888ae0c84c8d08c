#pragma once

#include "press_time.h"

#include <QPushButton>

#include <cstdint>
#include <functional>
#include <optional>

namespace tempocalc {

// A push button that knows when it went down. The clock is read as the key or mouse
// press reaches the button, before the button repaints itself as pressed: that
// instant, not the click on release, is when the beat was struck; where the press's
// own timestamp says it went down earlier than it arrived, that is when.
class StrikeButton : public QPushButton {
public:
    using Clock = std::function<double()>;

    StrikeButton(const QString& text, Clock clock, QWidget* parent = nullptr);

    // The reading of the latest press, which a click completes.
    double pressReading() const { return pressReading_; }
    // The clock as the latest press arrived, before its timestamp was taken into account.
    double arrivalReading() const { return arrivalReading_; }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;

private:
    struct Arrival {
        double reading;
        std::uint64_t stampMs; // 0: none
    };

    Clock clock_;
    PressTimeFilter pressTime_;
    std::optional<Arrival> arrival_; // while a press event is being handled

    struct KeyRelease {
        int key;
        std::uint64_t stampMs;
    };
    std::optional<KeyRelease> lastKeyRelease_;
    double pressReading_ = 0;
    double arrivalReading_ = 0;
};

} // namespace tempocalc
