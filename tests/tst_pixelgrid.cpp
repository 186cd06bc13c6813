// The pixel grid of a screen's scale: the step at each scale compositors
// give, and rectangles moved onto it.

#include "render/pixelgrid.h"

#include <QtTest>

class TestPixelGrid : public QObject
{
    Q_OBJECT

private slots:
    void step_data();
    void step();
    void inside_data();
    void inside();
};

void TestPixelGrid::step_data()
{
    QTest::addColumn<qreal>("scale");
    QTest::addColumn<int>("step");
    QTest::newRow("100%") << 1.0 << 1;
    QTest::newRow("125%") << 1.25 << 4;
    QTest::newRow("150%") << 1.5 << 2;
    QTest::newRow("175%") << 1.75 << 4;
    QTest::newRow("200%") << 2.0 << 1;
    QTest::newRow("225%") << 2.25 << 4;
    QTest::newRow("110%, 132/120") << 1.1 << 10;
    QTest::newRow("a third more, 160/120") << 4.0 / 3 << 3;
    QTest::newRow("no scale yet") << 0.0 << 1;
}

void TestPixelGrid::step()
{
    QFETCH(qreal, scale);
    QFETCH(int, step);
    QCOMPARE(PixelGrid::step(scale), step);
    // The step is whole device pixels.
    QVERIFY(qAbs(step * scale - qRound(step * scale)) < 1e-9);
}

void TestPixelGrid::inside_data()
{
    QTest::addColumn<QRect>("rect");
    QTest::addColumn<int>("step");
    QTest::addColumn<QRect>("snapped");
    // The first window's viewport at 125%: one pixel in at the top left,
    // three at the far edges.
    QTest::newRow("from (11, 11), 504 x 336, step 4") << QRect(11, 11, 504, 336) << 4 << QRect(12, 12, 500, 332);
    QTest::newRow("already on the grid") << QRect(12, 8, 488, 320) << 4 << QRect(12, 8, 488, 320);
    QTest::newRow("step 2") << QRect(11, 12, 6, 5) << 2 << QRect(12, 12, 4, 4);
    QTest::newRow("left of the origin") << QRect(-3, -6, 20, 20) << 4 << QRect(0, -4, 16, 16);
    QTest::newRow("narrower than a step") << QRect(1, 1, 3, 3) << 4 << QRect(4, 4, 0, 0);
    QTest::newRow("whole scale") << QRect(11, 11, 503, 335) << 1 << QRect(11, 11, 503, 335);
    QTest::newRow("empty") << QRect(5, 5, 0, 0) << 4 << QRect(5, 5, 0, 0);
}

void TestPixelGrid::inside()
{
    QFETCH(QRect, rect);
    QFETCH(int, step);
    QFETCH(QRect, snapped);
    const QMargins margins = PixelGrid::inside(rect, step);
    QCOMPARE(rect.marginsRemoved(margins), snapped);
    QVERIFY(margins.left() >= 0 && margins.top() >= 0 && margins.right() >= 0 && margins.bottom() >= 0);
}

QTEST_APPLESS_MAIN(TestPixelGrid)
#include "tst_pixelgrid.moc"
