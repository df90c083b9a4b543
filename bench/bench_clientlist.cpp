// Merging a status answer of 1,000 clients into the status tab's client list, shown at the
// size the Status tab of an 800 by 600 window gives it: the first fill (every row and panel
// new) and the steady state (same clients, new byte counts).
#include "ui/clientlistview.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTest>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int clientCount = 1000;
constexpr int steadyRounds = 30;

QStringList statusAnswer(int round)
{
    QStringList lines{
        QStringLiteral("TITLE,OpenVPN 2.6.14 x86_64-pc-linux-gnu [SSL (OpenSSL)]\r\n"),
        QStringLiteral("TIME,2026-12-07 19:50:43,1796673043\r\n"),
        QStringLiteral("HEADER,CLIENT_LIST,Common Name,Real Address,Virtual Address,Virtual IPv6 Address,Bytes Received,"
                       "Bytes Sent,Connected Since,Connected Since (time_t),Username,Client ID,Peer ID,Data Channel Cipher\r\n"),
    };
    for (int i = 0; i < clientCount; ++i) {
        lines.append(QStringLiteral("CLIENT_LIST,client%1,198.51.%2.%3:%4,10.%5.%6.%7,,%8,%9,2026-12-07 19:50:38,1796673038,UNDEF,%1,%1,AES-256-GCM\r\n")
                         .arg(i)
                         .arg(i / 250)
                         .arg(i % 250)
                         .arg(40000 + i)
                         .arg(8 + i / 60000)
                         .arg((i / 250) % 256)
                         .arg(i % 250 + 2)
                         .arg(qint64(round) * 1000 + qint64(i) * 7)
                         .arg(qint64(round) * 3000 + qint64(i) * 11));
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
    double merge = 0;      // the merge call alone
    double events = 0;     // then the events it caused (layouts, deferred deletes)
    double paint = 0;      // then painting the window
    double total() const { return merge + events + paint; }
};

Figures merge(ClientListView &list, const QStringList &answer)
{
    QCoreApplication::processEvents();
    Figures figures;
    QElapsedTimer timer;
    timer.start();
    list.setStatus(answer);
    figures.merge = milliseconds(timer);
    timer.restart();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
    figures.events = milliseconds(timer);
    timer.restart();
    list.repaint();
    figures.paint = milliseconds(timer);
    return figures;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    ClientListView list;
    list.setHeaderLabels({QStringLiteral("VPN Clients")});
    // The window less its menu bar, status bar and tab bar.
    list.resize(772, 555);
    list.show();
    if (!QTest::qWaitForWindowExposed(&list))
        return 1;

    std::vector<QStringList> answers;
    for (int round = 0; round <= steadyRounds; ++round)
        answers.push_back(statusAnswer(round));

    const Figures first = merge(list, answers[0]);
    if (list.topLevelItemCount() != clientCount) {
        std::fprintf(stderr, "expected %d rows, got %d\n", clientCount, list.topLevelItemCount());
        return 1;
    }
    std::vector<double> steadyMerge;
    std::vector<double> steadyTotal;
    for (int round = 1; round <= steadyRounds; ++round) {
        const Figures figures = merge(list, answers[size_t(round)]);
        steadyMerge.push_back(figures.merge);
        steadyTotal.push_back(figures.total());
    }
    if (list.topLevelItemCount() != clientCount)
        return 1;

    std::printf("status merge of %d clients (OpenVPN 2.6 answer, %d rounds of steady state)\n", clientCount, steadyRounds);
    std::printf("  first fill:    %8.1f ms merge, then %.1f ms events and %.1f ms paint: %.1f ms (target < 300 ms)\n",
                first.merge, first.events, first.paint, first.total());
    std::printf("  steady state:  %8.1f ms merge, %8.1f ms with events and paint, medians (target < 30 ms)\n",
                median(steadyMerge), median(steadyTotal));
    std::printf("                 worst %.1f ms merge\n", *std::max_element(steadyMerge.begin(), steadyMerge.end()));
    return 0;
}
