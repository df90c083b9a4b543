#include "ui/textterminal.h"

#include <QApplication>
#include <QMouseEvent>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QTest>
#include <QWheelEvent>

namespace {
enum Gesture { DragHandle, Wheel, TrackClick, ArrowClick, PageUpKey };

QStyleOptionSlider optionOf(const QScrollBar *bar)
{
    QStyleOptionSlider option;
    option.initFrom(bar);
    option.subControls = QStyle::SC_All;
    option.orientation = bar->orientation();
    option.minimum = bar->minimum();
    option.maximum = bar->maximum();
    option.sliderPosition = bar->sliderPosition();
    option.sliderValue = bar->value();
    option.singleStep = bar->singleStep();
    option.pageStep = bar->pageStep();
    option.upsideDown = bar->invertedAppearance();
    if (bar->orientation() == Qt::Horizontal)
        option.state |= QStyle::State_Horizontal;
    return option;
}

QRect partOf(const QScrollBar *bar, QStyle::SubControl part)
{
    const QStyleOptionSlider option = optionOf(bar);
    return bar->style()->subControlRect(QStyle::CC_ScrollBar, &option, part, bar);
}

void sendMouse(QWidget *widget, QEvent::Type type, QPoint pos, Qt::MouseButton button,
               Qt::MouseButtons buttons)
{
    QMouseEvent event(type, pos, widget->mapToGlobal(pos), button, buttons, Qt::NoModifier);
    QApplication::sendEvent(widget, &event);
}

// Presses the handle, moves it by dy pixels in two steps and lets go.
void dragHandle(QScrollBar *bar, int dy)
{
    const QPoint start = partOf(bar, QStyle::SC_ScrollBarSlider).center();
    sendMouse(bar, QEvent::MouseButtonPress, start, Qt::LeftButton, Qt::LeftButton);
    sendMouse(bar, QEvent::MouseMove, start + QPoint(0, dy / 2), Qt::NoButton, Qt::LeftButton);
    sendMouse(bar, QEvent::MouseMove, start + QPoint(0, dy), Qt::NoButton, Qt::LeftButton);
    sendMouse(bar, QEvent::MouseButtonRelease, start + QPoint(0, dy), Qt::LeftButton, Qt::NoButton);
}

void click(QScrollBar *bar, QPoint pos)
{
    sendMouse(bar, QEvent::MouseButtonPress, pos, Qt::LeftButton, Qt::LeftButton);
    sendMouse(bar, QEvent::MouseButtonRelease, pos, Qt::LeftButton, Qt::NoButton);
}

// One notch of the wheel per step; positive steps scroll up.
void turnWheel(TextTerminal &terminal, int steps)
{
    QWidget *viewport = terminal.viewport();
    const QPoint pos = viewport->rect().center();
    QWheelEvent event(pos, viewport->mapToGlobal(pos), QPoint(), QPoint(0, 120 * steps),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(viewport, &event);
}

// As the main window writes the log: a colour, then plain text at the text cursor.
void addLines(TextTerminal &terminal, int count)
{
    static int next = 0;
    for (int i = 0; i < count; ++i) {
        terminal.setTextColor(i % 2 ? Qt::darkGreen : Qt::black);
        terminal.insertPlainText(QStringLiteral("line %1 of the log\n").arg(next++));
    }
}
}

class TestTextTerminal : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();
    void looksLikeATerminal();
    void followsAtTheBottom();
    void leavingTheBottom_data();
    void leavingTheBottom();
    void comingBack_data();
    void comingBack();

private:
    void leave(Gesture gesture);

    TextTerminal *terminal = nullptr;
    QScrollBar *bar = nullptr;
};

void TestTextTerminal::init()
{
    terminal = new TextTerminal;
    terminal->resize(400, 200);
    terminal->show();
    QVERIFY(QTest::qWaitForWindowExposed(terminal));
    bar = terminal->verticalScrollBar();
    addLines(*terminal, 200);
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
}

void TestTextTerminal::cleanup()
{
    delete terminal;
    terminal = nullptr;
}

void TestTextTerminal::looksLikeATerminal()
{
    QVERIFY(terminal->isReadOnly());
    QCOMPARE(terminal->font().family(), QStringLiteral("Courier New"));
    QVERIFY(!terminal->font().italic());
    QCOMPARE(terminal->font().weight(), QFont::Normal);
}

void TestTextTerminal::followsAtTheBottom()
{
    const int maximum = bar->maximum();
    addLines(*terminal, 50);
    QVERIFY(bar->maximum() > maximum);
    QCOMPARE(bar->value(), bar->maximum());
}

void TestTextTerminal::leave(Gesture gesture)
{
    switch (gesture) {
    case DragHandle:
        dragHandle(bar, -60);
        break;
    case Wheel:
        turnWheel(*terminal, 2);
        break;
    case TrackClick: {
        const QRect handle = partOf(bar, QStyle::SC_ScrollBarSlider);
        click(bar, QPoint(handle.center().x(), handle.top() - 5));
        break;
    }
    case ArrowClick:
        click(bar, partOf(bar, QStyle::SC_ScrollBarSubLine).center());
        break;
    case PageUpKey:
        QTest::keyClick(terminal, Qt::Key_PageUp);
        break;
    }
}

void TestTextTerminal::leavingTheBottom_data()
{
    QTest::addColumn<Gesture>("gesture");
    QTest::addColumn<bool>("stopsFollowing");

    QTest::newRow("handle dragged up") << DragHandle << true;
    QTest::newRow("wheel turned up") << Wheel << true;
    QTest::newRow("click on the track above the handle") << TrackClick << false;
    QTest::newRow("click on the up arrow") << ArrowClick << false;
    QTest::newRow("page up key") << PageUpKey << false;
}

void TestTextTerminal::leavingTheBottom()
{
    QFETCH(Gesture, gesture);
    QFETCH(bool, stopsFollowing);

    leave(gesture);
    const int position = bar->value();
    QVERIFY2(position < bar->maximum(), "the gesture did not move the view up");

    const int maximum = bar->maximum();
    addLines(*terminal, 50);
    QVERIFY(bar->maximum() > maximum);
    if (stopsFollowing)
        QCOMPARE(bar->value(), position);
    else
        QCOMPARE(bar->value(), bar->maximum());
}

void TestTextTerminal::comingBack_data()
{
    QTest::addColumn<Gesture>("gesture");
    QTest::addColumn<bool>("toTheEnd");

    QTest::newRow("handle dragged to the end") << DragHandle << true;
    QTest::newRow("handle dragged back short of the end") << DragHandle << false;
    QTest::newRow("wheel turned down to the end") << Wheel << true;
    QTest::newRow("wheel turned down short of the end") << Wheel << false;
}

void TestTextTerminal::comingBack()
{
    QFETCH(Gesture, gesture);
    QFETCH(bool, toTheEnd);

    if (gesture == DragHandle) {
        dragHandle(bar, -100);
        QVERIFY(bar->value() < bar->maximum());
        dragHandle(bar, toTheEnd ? 1000 : 20);
    } else {
        turnWheel(*terminal, 6);
        QVERIFY(bar->value() < bar->maximum());
        turnWheel(*terminal, toTheEnd ? -100 : -1);
    }
    QCOMPARE(bar->value() == bar->maximum(), toTheEnd);

    const int position = bar->value();
    addLines(*terminal, 50);
    if (toTheEnd)
        QCOMPARE(bar->value(), bar->maximum());
    else
        QCOMPARE(bar->value(), position);
    QVERIFY(bar->value() > 0);
}

QTEST_MAIN(TestTextTerminal)
#include "tst_textterminal.moc"
