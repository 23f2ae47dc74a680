#pragma once

// The main function of a widget test program: settings, the runtime log and the window's own
// state go to a folder of this run, and the main queue runs in Qt's event loop.

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include "QtMainQueue.h"

namespace pelkora::gui::test {

template <class Tests>
int runWidgetTests(int argc, char* argv[]) {
    QTemporaryDir home;
    for (const char* variable :
         {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_STATE_HOME", "XDG_CACHE_HOME", "HOME"})
        qputenv(variable, QFile::encodeName(home.path()));
    QApplication application(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("pelkora-test"));
    installQtMainQueueDispatcher(&application);
    Tests tests;
    const int status = QTest::qExec(&tests, argc, argv);
    removeQtMainQueueDispatcher();
    return status;
}

}  // namespace pelkora::gui::test
