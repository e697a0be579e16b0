#pragma once
// A window's remembered placement on the screen it opens on now.
class QWidget;

// Moves and shrinks a top-level window so that its frame (title bar and
// buttons included) lies inside the available geometry of its screen: a
// placement saved on a larger screen, or beside a screen that is gone,
// must not leave the title bar or the status bar out of reach. A window
// not shown yet has no frame: a title bar's height is kept free for it.
// Maximised and full-screen windows are left as they are.
void FitIntoScreen(QWidget* window);
