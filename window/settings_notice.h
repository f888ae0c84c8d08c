#pragma once

#include "settings.h"

#include <QCoreApplication>

namespace tempocalc {

class Notices;

// A settings problem as the window tells it: its line on stderr, and a notice in the
// user's language.
class SettingsNotice {
    Q_DECLARE_TR_FUNCTIONS(tempocalc::SettingsNotice)

public:
    static void tell(const SettingsProblem& problem, Notices& notices);
    // Tells what loading the settings found, and from now on what saving them finds.
    static void watch(Settings& settings, Notices& notices);
    static QString text(const SettingsProblem& problem);
};

} // namespace tempocalc
