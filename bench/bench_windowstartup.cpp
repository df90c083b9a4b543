// From nothing to the main window on screen (offscreen platform): building the window with
// its actions, menus, tabs and panels, showing it and waiting until it is exposed.
#include "ui/mainwindow.h"

#include "support/scripteddialogs.h"
#include "support/testsettings.h"
#include "support/updatecheckoff.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QSettings>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int rounds = 20;

double milliseconds(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

} // namespace

int main(int argc, char *argv[])
{
    QElapsedTimer process;
    process.start();
    QApplication application(argc, argv);
    const double applicationMs = milliseconds(process);
    TestSettings settings;
    ScriptedDialogs dialogs;
    pointUpdateCheckAtClosedPort();
    // The first connection attempt comes after the window is shown, outside the measurement.
    QSettings().setValue(QStringLiteral("ip"), QStringLiteral("127.0.0.46"));

    std::printf("window start-up (offscreen), %d rounds; QApplication itself took %.1f ms\n", rounds, applicationMs);
    for (const char *mode : {"basic", "server"}) {
        QSettings().setValue(QStringLiteral("AppMode"), QLatin1String(mode));
        std::vector<double> build;
        std::vector<double> shown;
        double first = 0;
        for (int round = 0; round < rounds; ++round) {
            QElapsedTimer timer;
            timer.start();
            MainWindow window;
            build.push_back(milliseconds(timer));
            window.show();
            if (!QTest::qWaitForWindowExposed(&window))
                return 1;
            shown.push_back(milliseconds(timer));
            if (round == 0)
                first = shown.back();
        }
        std::sort(build.begin(), build.end());
        std::sort(shown.begin(), shown.end());
        std::printf("  %-6s mode: constructed in %.1f ms, shown in %.1f ms (medians); first window of the process %.1f ms\n",
                    mode, build[build.size() / 2], shown[shown.size() / 2], first);
    }
    return 0;
}
