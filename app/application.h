#pragma once
// Program-wide settings of the window layer: the application's title, the font the windows use,
// where the help page is, and how the general error box words a message.

#include <QFont>
#include <QIcon>
#include <QString>

namespace quillmend {

inline constexpr char kApplicationTitle[] = "Quillmend";

// "Quillmend v<version>"
QString WindowCaption();

// Sets the application's title; called once, right after the QApplication is made.
void InitApplication();

// "MS Sans Serif" at 8 points (11 pixels); where that face is missing the platform's sans-serif
// stands in at the same size.
QFont WindowFont();

// The error box's wording: a full stop is appended when the last character sorts after "." (so not
// after a space, a comma, an exclamation mark or a full stop).
QString WithFullStop(const QString& message);

// One of the bundled icons (":/icons/<name>.png"), loaded once: every row and node shares it, so
// its picture is decoded once, not once per item or per repaint.
const QIcon& AppIcon(const char* name);

// What Help > About says: the version, what the program does, and its license.
QString AboutText();

// help.html beside the executable (the build tree, Windows), else where a Unix installation puts it.
QString HelpPagePath();

}  // namespace quillmend
