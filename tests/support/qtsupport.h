#pragma once
// The one QApplication of a Qt test program.
#include <QApplication>

namespace testsupport {

// Never destroyed: at exit QTest's input devices go after any static
// application would, and crash when it has gone first.
inline QApplication& App() {
    static int argc = 1;
    static char name[] = "kalo-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

}  // namespace testsupport
