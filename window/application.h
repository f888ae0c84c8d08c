#pragma once

#include <QMessageBox>
#include <QString>

#include <string_view>

QT_BEGIN_NAMESPACE
class QIcon;
class QLocale;
class QTranslator;
QT_END_NAMESPACE

namespace tempocalc {

// The window's icon group: the three small images and the scalable artwork.
QIcon applicationIcon();

// The program's name and version, which --version prints too; needs only a
// QCoreApplication.
void nameApplication();

// Names, version, translations, style and icon of the running application; call
// once after the QApplication is made, before the window.
void setUpApplication();

// Loads the window's translation for the first of the locale's languages that has
// one, and Qt's own for the same language. Everyone else gets English, the window's
// own language, whose translation holds only its plural forms; so does a user who
// puts English before another language. Returns whether a translation was loaded.
bool loadTranslations(const QLocale& locale, QTranslator& window, QTranslator& qt);

// A text of the engine's as the window shows it: its words ("average", "1/4 note")
// in the user's language, its numbers as they are.
QString shownText(std::string_view text);

// The about box's one-line text.
QString aboutText();

// The about box, modal: "ver" and the version as its title, the about text, one OK button.
void showAbout(QWidget* parent);

// A message box whose text stays on one line whenever the screen can hold it:
// QMessageBox wraps any text wider than about half the screen, each time it is shown
// or laid out again.
class OneLineMessageBox : public QMessageBox {
public:
    using QMessageBox::QMessageBox;

protected:
    bool event(QEvent* event) override;

private:
    void keepOnOneLine();
};

} // namespace tempocalc
