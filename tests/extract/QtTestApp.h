#pragma once

#include <QCoreApplication>

// The tests' stand-in for the user-interface thread: one application object on the main
// thread, created on first use and kept for the whole test program.
inline QCoreApplication* ensureCoreApp()
{
    if (QCoreApplication* app = QCoreApplication::instance())
        return app;
    static int argc = 1;
    static char name[] = "test_extract";
    static char* argv[] = {name, nullptr};
    static QCoreApplication* app = new QCoreApplication(argc, argv);
    return app;
}
