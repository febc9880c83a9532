// Screens on displays smaller than they were laid out for: a screen that does
// not fit gets all its fonts made smaller by one factor, no further than it
// must, also when a text grows while it is shown. (That a screen which fits is
// left alone, render-screens proves on the real screens, to the pixel.)
// The test window is built like the panel's screens: nested layouts, fonts set
// on single labels, and a style sheet that is only a comment.

#include "screenfit.h"

#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>
#include <QtTest>

namespace {

struct TestScreen
{
    QWidget window;
    QLabel *header;
    QLabel *address;
    QPushButton *button;

    TestScreen()
    {
        window.setStyleSheet(QStringLiteral("/* QLabel { color: White; } */"));
        auto *layout = new QVBoxLayout(&window);
        header = new QLabel(QStringLiteral("Пульт оператора ПО-7"));
        QFont large;
        large.setPointSize(20);
        header->setFont(large);
        layout->addWidget(header);
        auto *group = new QGroupBox(QStringLiteral("IP адрес"));
        auto *row = new QHBoxLayout(group);
        address = new QLabel(QStringLiteral("192.168.1.10"));
        button = new QPushButton(QStringLiteral("Перезагрузить"));
        row->addWidget(address);
        row->addWidget(button);
        layout->addWidget(group);
    }

    QSize needed() const { return window.minimumSizeHint(); }
};

bool fits(const QSize &needed, const QSize &display)
{
    return needed.width() <= display.width() && needed.height() <= display.height();
}

// The display of the width the unfitted screen needs, less the given pixels.
QSize narrowerBy(int pixels)
{
    TestScreen probe;
    return QSize(probe.needed().width() - pixels, 2000);
}

void showAndSettle(QWidget &window)
{
    window.show();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

// Layout requests of any widget of the window while the test waits.
int layoutRequestsWithin(QWidget *window, int ms)
{
    struct Counter : QObject
    {
        QWidget *window;
        int requests = 0;
        bool eventFilter(QObject *watched, QEvent *event) override
        {
            if (event->type() == QEvent::LayoutRequest && watched->isWidgetType()
                && static_cast<QWidget *>(watched)->window() == window)
                ++requests;
            return false;
        }
    } counter;
    counter.window = window;
    qApp->installEventFilter(&counter);
    QTest::qWait(ms);
    return counter.requests;
}

} // namespace

class TestScreenFit : public QObject
{
    Q_OBJECT

private slots:
    void screenTooLargeShrinksAllFontsByOneFactorAsLittleAsItMust();
    void growingTextShrinksTheScreenAgain();
};

void TestScreenFit::screenTooLargeShrinksAllFontsByOneFactorAsLittleAsItMust()
{
    TestScreen reference;
    const QSize display = narrowerBy(60);
    ScreenFit fit(nullptr, display);
    fit.install();
    TestScreen screen;
    showAndSettle(screen.window);

    const qreal factor = fit.factorOf(&screen.window);
    QVERIFY2(factor < 1.0 && factor >= ScreenFit::SMALLEST_FACTOR, qPrintable(QString::number(factor)));
    QVERIFY(fits(screen.needed(), display));
    for (QWidget *widget : {static_cast<QWidget *>(screen.header), static_cast<QWidget *>(screen.address),
                            static_cast<QWidget *>(screen.button)}) {
        const QWidget *designed
            = reference.window.findChildren<QWidget *>().at(screen.window.findChildren<QWidget *>().indexOf(widget));
        QCOMPARE(widget->font().pointSizeF(), designed->font().pointSizeF() * factor);
    }

    // One hundredth larger would not have fitted.
    TestScreen larger;
    const qreal next = factor + 0.01;
    for (QWidget *widget : larger.window.findChildren<QWidget *>()) {
        QFont font = widget->font();
        font.setPointSizeF(font.pointSizeF() * next);
        widget->setFont(font);
    }
    QVERIFY(!fits(larger.needed(), display));
}

void TestScreenFit::growingTextShrinksTheScreenAgain()
{
    const QSize display = narrowerBy(60);
    ScreenFit fit(nullptr, display);
    fit.install();
    TestScreen screen;
    showAndSettle(screen.window);
    const qreal before = fit.factorOf(&screen.window);

    screen.address->setText(QStringLiteral("255.255.255.255 255.255.255.255"));
    QTRY_VERIFY(fit.factorOf(&screen.window) < before);
    QTRY_VERIFY(fits(screen.needed(), display));
    QTRY_VERIFY(screen.address->width() >= screen.address->minimumSizeHint().width());

    // Settled: a fitted window does not keep laying itself out.
    const int requests = layoutRequestsWithin(&screen.window, 300);
    QVERIFY2(requests < 10, qPrintable(QStringLiteral("%1 layout requests in 300 ms").arg(requests)));

    // Shorter again: the fonts stay as they are, they do not jump back.
    const qreal shrunk = fit.factorOf(&screen.window);
    screen.address->setText(QStringLiteral("10.0.0.1"));
    QTest::qWait(50);
    QCOMPARE(fit.factorOf(&screen.window), shrunk);
}

QTEST_MAIN(TestScreenFit)
#include "tst_screenfit.moc"
