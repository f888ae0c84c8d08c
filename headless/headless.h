#pragma once

namespace tempocalc {

// The program without a window, as a stage box: `tempo-calculator --headless` with its
// options. Strikes come from MIDI; Link, the MIDI clock and the click follow; what
// happens is one line an event on stderr. It needs no display, waits for what is not
// there yet (the JACK server, the pedal) and comes back with whatever went away; it
// ends at SIGINT or SIGTERM (a Stop first) and reads its settings again at SIGHUP.
// Returns the exit status: 0, or 2 for an option it cannot use.
int runHeadless(int argc, char* argv[]);

} // namespace tempocalc
