// The status tab's client list at the size of a big VPN server: status answers of 10 to 5,000
// clients (as OpenVPN 2.6 writes them) merged into the list of a shown main window of 800 by
// 600 with the Status tab in front. Every figure is all-in: the merge call, then the events it
// caused (layouts, deferred deletes and the paint they ask for), then a repaint of the list.
//
// Per size: the first fill (every row new); polls with the same clients where nothing changed,
// where 10 clients' byte counts changed and where every client's did (as on a busy server);
// paging down through the list with the scroll bar; and an answer without clients (all leave).
// Then, at 5,000 clients: keystrokes into the filter field (the text set, through to the list
// shown anew), and polls with a filter and an order set beside the same polls without.
#include "support/mainwindowtestaccess.h"
#include "support/scripteddialogs.h"
#include "support/testsettings.h"
#include "support/updatecheckoff.h"
#include "ui/clientlistview.h"
#include "ui/mainwindow.h"

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QScrollBar>
#include <QSettings>
#include <QTabWidget>
#include <QTest>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

constexpr int sizes[] = {10, 100, 1000, 5000};
constexpr int pageSteps = 20;

enum class Change { None, Ten, All };

// Round 0 is the first fill; in later rounds the clients that change have moved bytes.
QStringList statusAnswer(int clients, int round, Change change)
{
    QStringList lines{
        QStringLiteral("TITLE,OpenVPN 2.6.14 x86_64-pc-linux-gnu [SSL (OpenSSL)]\r\n"),
        QStringLiteral("TIME,2026-12-07 19:50:43,1796673043\r\n"),
        QStringLiteral("HEADER,CLIENT_LIST,Common Name,Real Address,Virtual Address,Virtual IPv6 Address,Bytes Received,"
                       "Bytes Sent,Connected Since,Connected Since (time_t),Username,Client ID,Peer ID,Data Channel Cipher\r\n"),
    };
    const int tenth = std::max(1, clients / 10);
    for (int i = 0; i < clients; ++i) {
        const bool moved = change == Change::All || (change == Change::Ten && i % tenth == 0);
        const qint64 at = moved ? round : 0;
        lines.append(QStringLiteral("CLIENT_LIST,client%1,198.51.%2.%3:%4,10.%5.%6.%7,,%8,%9,2026-12-07 19:50:38,1796673038,UNDEF,%1,%1,AES-256-GCM\r\n")
                         .arg(i)
                         .arg(i / 250)
                         .arg(i % 250)
                         .arg(40000 + i)
                         .arg(8 + i / 60000)
                         .arg((i / 250) % 256)
                         .arg(i % 250 + 2)
                         .arg(at * 1000 + qint64(i) * 7)
                         .arg(at * 3000 + qint64(i) * 11));
    }
    lines.append(QStringLiteral("HEADER,ROUTING_TABLE,Virtual Address,Common Name,Real Address,Last Ref,Last Ref (time_t)\r\n"));
    lines.append(QStringLiteral("GLOBAL_STATS,Max bcast/mcast queue length,1\r\n"));
    lines.append(QStringLiteral("END\r\n"));
    return lines;
}

double milliseconds(const QElapsedTimer &timer)
{
    return double(timer.nsecsElapsed()) / 1e6;
}

struct Figures
{
    double step = 0;   // the merge call (or the scroll) alone
    double events = 0; // then the events it caused
    double paint = 0;  // then repainting the list
    double total() const { return step + events + paint; }
};

void settle()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

template<typename Step>
Figures measure(ClientListView &list, Step step)
{
    settle();
    Figures figures;
    QElapsedTimer timer;
    timer.start();
    step();
    figures.step = milliseconds(timer);
    timer.restart();
    settle();
    figures.events = milliseconds(timer);
    timer.restart();
    list.repaint();
    figures.paint = milliseconds(timer);
    return figures;
}

Figures merge(ClientListView &list, const QStringList &answer)
{
    return measure(list, [&] { list.setStatus(answer); });
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

double worst(const std::vector<double> &values)
{
    return *std::max_element(values.begin(), values.end());
}

// The median all-in time of merging these answers one after the other.
double steady(ClientListView &list, const std::vector<QStringList> &answers)
{
    std::vector<double> totals;
    for (const QStringList &answer : answers)
        totals.push_back(merge(list, answer).total());
    return median(totals);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    TestSettings settings;
    ScriptedDialogs dialogs;
    pointUpdateCheckAtClosedPort();
    QSettings().setValue(QStringLiteral("AppMode"), QStringLiteral("server"));

    MainWindow window;
    // The list is fed here; the window must not go looking for a router.
    MainWindowTestAccess::initTimer(window)->stop();
    auto *list = window.findChild<ClientListView *>(QStringLiteral("clientsTree"));
    auto *page = window.findChild<QWidget *>(QStringLiteral("clientsPage"));
    auto *tabs = window.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    if (!list || !page || !tabs)
        return 1;
    tabs->setCurrentWidget(page);
    window.resize(800, 600);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    // Fonts and styles are loaded once per process; a user sees the window before the first answer.
    merge(*list, statusAnswer(2, 0, Change::None));
    list->clearClients();

    std::printf("client list of a shown main window (800x600, Status tab in front); all-in ms (merge, events, paint)\n");
    std::printf("%8s %11s %16s %11s %12s %16s %10s\n", "clients", "first fill", "nothing changed", "10 changed",
                "all changed", "page down (step)", "all leave");
    Figures first1000;
    for (const int clients : sizes) {
        const int rounds = std::clamp(30000 / clients, 5, 30);
        const QStringList first = statusAnswer(clients, 0, Change::None);
        std::vector<QStringList> none;
        std::vector<QStringList> ten;
        std::vector<QStringList> all;
        for (int round = 1; round <= rounds; ++round) {
            none.push_back(statusAnswer(clients, 0, Change::None));
            ten.push_back(statusAnswer(clients, round, Change::Ten));
            all.push_back(statusAnswer(clients, rounds + round, Change::All));
        }

        list->clearClients();
        const Figures fill = merge(*list, first);
        if (list->topLevelItemCount() != clients) {
            std::fprintf(stderr, "expected %d rows, got %d\n", clients, list->topLevelItemCount());
            return 1;
        }
        if (clients == 1000)
            first1000 = fill;
        const double nothing = steady(*list, none);
        const double someChanged = steady(*list, ten);
        const double allChanged = steady(*list, all);

        QScrollBar *bar = list->verticalScrollBar();
        bar->setValue(0);
        std::vector<double> pages;
        for (int page = 0; page < pageSteps && bar->value() < bar->maximum(); ++page)
            pages.push_back(measure(*list, [&] { bar->setValue(bar->value() + bar->pageStep()); }).total());
        const double pageDown = pages.empty() ? 0 : median(pages);

        const Figures leave = merge(*list, statusAnswer(0, 0, Change::None));
        if (list->topLevelItemCount() != 0)
            return 1;
        std::printf("%8d %11.1f %16.1f %11.1f %12.1f %16.1f %10.1f\n", clients, fill.total(), nothing, someChanged,
                    allChanged, pageDown, leave.total());
    }
    std::printf("1000 clients, first fill: %.1f ms merge + %.1f ms events + %.1f ms paint\n", first1000.step,
                first1000.events, first1000.paint);

    // The filter and the order at the biggest size.
    auto *field = window.findChild<QLineEdit *>(QStringLiteral("clientFilterField"));
    auto *orderBox = window.findChild<QComboBox *>(QStringLiteral("clientOrderBox"));
    if (!field || !orderBox)
        return 1;
    constexpr int big = sizes[std::size(sizes) - 1];
    constexpr int pollRounds = 10;
    int round = 1000;
    const auto polls = [&](Change change) {
        std::vector<QStringList> answers;
        for (int i = 0; i < pollRounds; ++i)
            answers.push_back(statusAnswer(big, ++round, change));
        return steady(*list, answers);
    };
    merge(*list, statusAnswer(big, 0, Change::None));
    const double plainTen = polls(Change::Ten);
    const double plainAll = polls(Change::All);

    // A name typed and taken back a character at a time, then an address.
    std::vector<double> keystrokes;
    for (const QString &word : {QStringLiteral("client4321"), QStringLiteral("198.51.7.1")}) {
        for (qsizetype length = 1; length <= word.size(); ++length)
            keystrokes.push_back(measure(*list, [&] { field->setText(word.left(length)); }).total());
        for (qsizetype length = word.size() - 1; length >= 0; --length)
            keystrokes.push_back(measure(*list, [&] { field->setText(word.left(length)); }).total());
    }
    field->setText(QStringLiteral("client1"));
    const int shown = list->shownCount();
    orderBox->setCurrentIndex(orderBox->findText(QStringLiteral("Sent bytes")));
    const double filteredTen = polls(Change::Ten);
    const double filteredAll = polls(Change::All);
    std::printf("%d clients, filter keystroke all-in: median %.1f ms, worst %.1f ms (%zu keystrokes)\n", big,
                median(keystrokes), worst(keystrokes), keystrokes.size());
    std::printf("%d clients, poll all-in: %10s %12s\n", big, "10 changed", "all changed");
    std::printf("  no filter, answer order    %10.1f %12.1f\n", plainTen, plainAll);
    std::printf("  filter (%4d shown), sent  %10.1f %12.1f\n", shown, filteredTen, filteredAll);
    return 0;
}
