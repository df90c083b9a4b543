#pragma once

#include "ui/mainwindow.h"

#include <QSignalSpy>

// What the window's tests reach that no widget shows: the management client (to shorten its
// response time-out and watch its signals), the router password's store (to watch it fail),
// the two timers, and the status poll.
class MainWindowTestAccess final
{
public:
    static OpenVpnManagement &management(MainWindow &window) { return window.management; }
    static RouterPasswordStore &routerPassword(MainWindow &window) { return window.routerPassword; }
    static QTimer &statusTimer(MainWindow &window) { return window.statusTimer; }
    static QTimer *initTimer(MainWindow &window) { return window.initTimer.get(); }
    // One tick of the status poll, without waiting for the timer.
    static void poll(MainWindow &window) { window.updateStatus(); }
    // Returns once everything the peer sent before has been handled: the window never asks
    // for the version itself, so the answer to this request is a marker that nothing else
    // can take for its own.
    static bool settle(MainWindow &window, int timeoutMs = 5000)
    {
        QSignalSpy answered(&window.management, &OpenVpnManagement::versionResponse);
        window.management.getVersion();
        return answered.wait(timeoutMs);
    }
};
