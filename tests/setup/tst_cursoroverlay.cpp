// The pointer's arrow: what it looks like, normal and dimmed, and that it
// stays out of the way of input.

#include "kbdcursor.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QPainter>
#include <QPushButton>
#include <QtTest>

namespace {

class PaintCounter : public QObject
{
public:
    int paints = 0;

protected:
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

QImage drawn(CursorOverlay *overlay)
{
    QImage image(overlay->size(), QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    overlay->render(&image, QPoint(), QRegion(), QWidget::DrawChildren);
    return image;
}

} // namespace

class TestCursorOverlay : public QObject
{
    Q_OBJECT

private slots:
    void startsSmallNormalAndHidden();
    void drawsArrowInsideItsBox_data();
    void drawsArrowInsideItsBox();
    void dimmingRepaintsOnlyOnChange();
    void inputGoesToWidgetBelow();
};

void TestCursorOverlay::startsSmallNormalAndHidden()
{
    QWidget window;
    window.resize(200, 200);
    window.show();
    auto *overlay = new CursorOverlay(&window);
    QCOMPARE(overlay->size(), QSize(20, 28));
    QCOMPARE(overlay->pos(), QPoint(0, 0));
    QVERIFY(!overlay->isDimmed());
    QVERIFY(overlay->isHidden());
    QCOMPARE(overlay->focusPolicy(), Qt::NoFocus);
    QVERIFY(overlay->testAttribute(Qt::WA_TransparentForMouseEvents));
    QVERIFY(!overlay->isWindow());
}

void TestCursorOverlay::drawsArrowInsideItsBox_data()
{
    QTest::addColumn<bool>("dimmed");
    QTest::addColumn<QColor>("fill");
    QTest::addColumn<int>("outlineAlpha");
    QTest::newRow("normal") << false << QColor(255, 255, 255, 255) << 255;
    QTest::newRow("dimmed") << true << QColor(200, 200, 200, 120) << 120;
}

void TestCursorOverlay::drawsArrowInsideItsBox()
{
    QFETCH(bool, dimmed);
    QFETCH(QColor, fill);
    QFETCH(int, outlineAlpha);

    QWidget window;
    auto *overlay = new CursorOverlay(&window);
    overlay->setDimmed(dimmed);
    const QImage image = drawn(overlay);

    // Inside the arrow: the fill colour, exactly.
    for (const QPoint p : {QPoint(4, 10), QPoint(3, 16), QPoint(9, 19), QPoint(7, 12)}) {
        const QColor c = image.pixelColor(p);
        const int off = qMax(qMax(qAbs(c.red() - fill.red()), qAbs(c.green() - fill.green())),
                             qMax(qAbs(c.blue() - fill.blue()), qAbs(c.alpha() - fill.alpha())));
        QVERIFY2(off <= 6,
                 qPrintable(QString("%1,%2 is %3 alpha %4").arg(p.x()).arg(p.y()).arg(c.name()).arg(c.alpha())));
    }
    // On the straight left edge: the dark outline at its alpha, blended with
    // the fill beside it.
    const QColor edge = image.pixelColor(1, 10);
    QVERIFY2(edge.red() <= fill.red() - 90 && qAbs(edge.alpha() - outlineAlpha) <= 60,
             qPrintable(QString("edge %1 alpha %2").arg(edge.name()).arg(edge.alpha())));
    // Outside the outline nothing is drawn: the window shows through.
    for (const QPoint p : {QPoint(12, 4), QPoint(2, 25), QPoint(16, 20), QPoint(19, 27)})
        QCOMPARE(image.pixelColor(p).alpha(), 0);

    // The 1.5 px outline around the outermost points (16, 24) stays inside
    // the 20 x 28 box with room to spare.
    QRect painted;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            if (image.pixelColor(x, y).alpha() > 0)
                painted |= QRect(x, y, 1, 1);
        }
    }
    QVERIFY(painted.left() >= 0 && painted.top() >= 0);
    QVERIFY2(painted.right() <= 18 && painted.bottom() <= 26,
             qPrintable(QString("painted up to %1,%2").arg(painted.right()).arg(painted.bottom())));
    QVERIFY(painted.right() >= 16 && painted.bottom() >= 24);
}

void TestCursorOverlay::dimmingRepaintsOnlyOnChange()
{
    QWidget window;
    window.resize(200, 200);
    auto *overlay = new CursorOverlay(&window);
    overlay->show();
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    PaintCounter counter;
    overlay->installEventFilter(&counter);
    QCoreApplication::processEvents();
    counter.paints = 0;

    overlay->setDimmed(false);
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 0);

    overlay->setDimmed(true);
    QTRY_COMPARE(counter.paints, 1);
    QVERIFY(overlay->isDimmed());
    overlay->setDimmed(true);
    QCoreApplication::processEvents();
    QCOMPARE(counter.paints, 1);

    overlay->setDimmed(false);
    QTRY_COMPARE(counter.paints, 2);
}

void TestCursorOverlay::inputGoesToWidgetBelow()
{
    QWidget window;
    window.setGeometry(QRect(0, 0, 300, 200));
    auto *edit = new QLineEdit(&window);
    edit->setGeometry(150, 10, 100, 30);
    auto *button = new QPushButton("under", &window);
    button->setGeometry(20, 20, 100, 60);
    button->setFocusPolicy(Qt::NoFocus);
    window.show();
    QVERIFY(QTest::qWaitForWindowActive(&window));
    edit->setFocus();
    QTRY_COMPARE(QApplication::focusWidget(), edit);

    auto *overlay = new CursorOverlay(&window);
    overlay->move(40, 40);
    overlay->raise();
    overlay->show();
    // Showing the arrow takes no focus.
    QCOMPARE(QApplication::focusWidget(), edit);

    const QPoint onArrow = window.mapToGlobal(QPoint(45, 50));
    QCOMPARE(overlay->childAt(QPoint(5, 10)), nullptr);
    QCOMPARE(QApplication::widgetAt(onArrow), button);

    QSignalSpy clicks(button, &QPushButton::clicked);
    // Through the window, as a real mouse click arrives.
    QTest::mouseClick(window.windowHandle(), Qt::LeftButton, Qt::NoModifier, QPoint(45, 50));
    QCOMPARE(clicks.count(), 1);
    QCOMPARE(QApplication::focusWidget(), edit);
}

QTEST_MAIN(TestCursorOverlay)
#include "tst_cursoroverlay.moc"
