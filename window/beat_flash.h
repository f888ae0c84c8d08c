#pragma once

#include "beat_grid.h"

#include <QColor>
#include <QObject>

#include <chrono>
#include <functional>
#include <optional>

QT_BEGIN_NAMESPACE
class QSocketNotifier;
class QWidget;
QT_END_NAMESPACE

namespace tempocalc {

// Lights a button on every beat of the grid: its background turns the flash colour
// for 100 ms or a quarter of a beat, whichever is shorter. Each flash is timed anew
// from the clock (never by counting timer ticks), so a flash starts at its beat however
// long the grid runs; a new grid is followed from its next beat, never with a second
// flash within a quarter of a beat. Only the colour changes: the focus and what a
// screen reader says stay as they are.
class BeatFlash : public QObject {
    Q_OBJECT

public:
    using Clock = std::function<double()>; // seconds since local midnight
    static const QColor colour;            // black text stands out on it as on the green
    static const QColor oneColour;         // the one's, stronger, with black text as well

    BeatFlash(QWidget* button, QColor rest, Clock clock, QObject* parent = nullptr);
    ~BeatFlash() override;

    void setEnabled(bool on);
    void setGrid(std::optional<BeatGrid> grid);
    // Paints what the clock says now and sets the timer for the next change.
    void refresh();
    bool isLit() const { return lit_; }

    static double flashSeconds(double bpm);

private:
    void paint(bool lit, bool one = false);
    void wakeAt(std::chrono::steady_clock::time_point when);
    void stopWaking();

    QWidget* button_;
    QColor rest_;
    Clock clock_;
    // A timer of the kernel's, to the microsecond: Qt's count whole milliseconds.
    int timer_;
    QSocketNotifier* wake_;
    bool enabled_ = false;
    bool lit_ = false;
    bool litOne_ = false;
    std::optional<BeatGrid> grid_;
    // Clock readings counted on across midnight, as the grid's are.
    double reading_ = 0;
    std::optional<double> flashed_; // the beat of the latest flash
};

} // namespace tempocalc
