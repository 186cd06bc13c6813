#include <epoxy/gl.h>

#include "render/glwidget.h"
#include "support.h"
#include "widgets/scrollwidget.h"

#include <QtTest>

class TestScrollWidget : public QObject
{
    Q_OBJECT

private slots:
    void constructsLikeScrollBar();
    void sizesPageAndRange_data();
    void sizesPageAndRange();
    void followsViewResize();
};

void TestScrollWidget::constructsLikeScrollBar()
{
    QWidget parent;
    ScrollWidget vertical(&parent);
    ScrollWidget horizontal(Qt::Horizontal, &parent);
    QCOMPARE(vertical.orientation(), Qt::Vertical);
    QCOMPARE(horizontal.orientation(), Qt::Horizontal);
    QCOMPARE(horizontal.parentWidget(), &parent);
    QCOMPARE(horizontal.metaObject()->className(), "ScrollWidget");
    const int slot = ScrollWidget::staticMetaObject.indexOfSlot("setPageSize(QSize,QSize)");
    QVERIFY(slot >= 0);
    QCOMPARE(ScrollWidget::staticMetaObject.method(slot).parameterNames(),
             (QList<QByteArray>{"pageSize", "totalSize"}));
}

void TestScrollWidget::sizesPageAndRange_data()
{
    QTest::addColumn<Qt::Orientation>("orientation");
    QTest::addColumn<QSize>("page");
    QTest::addColumn<QSize>("total");
    QTest::addColumn<int>("pageStep");
    QTest::addColumn<int>("minimum");
    QTest::addColumn<int>("maximum");
    QTest::addColumn<QStringList>("messages");

    QTest::newRow("horizontal") << Qt::Horizontal << QSize(300, 200) << QSize(512, 512) << 300 << 0 << 212
                                << QStringList{"Scroll horiz:  300 212 "};
    QTest::newRow("vertical") << Qt::Vertical << QSize(300, 200) << QSize(512, 512) << 200 << 0 << 312
                              << QStringList();
    // Width and height differ in both sizes, so only the heights give these.
    QTest::newRow("vertical, tall content") << Qt::Vertical << QSize(300, 200) << QSize(512, 900) << 200 << 0 << 700
                                            << QStringList();
    QTest::newRow("horizontal, wide content") << Qt::Horizontal << QSize(300, 200) << QSize(900, 512) << 300 << 0
                                              << 600 << QStringList{"Scroll horiz:  300 600 "};
    // A maximum of zero or below reaches the base unchanged; the base then
    // pulls its minimum down to it.
    QTest::newRow("horizontal, content as wide as page") << Qt::Horizontal << QSize(512, 100) << QSize(512, 512)
                                                          << 512 << 0 << 0 << QStringList{"Scroll horiz:  512 0 "};
    QTest::newRow("horizontal, content narrower") << Qt::Horizontal << QSize(600, 100) << QSize(512, 512) << 600
                                                   << -88 << -88 << QStringList{"Scroll horiz:  600 -88 "};
    QTest::newRow("vertical, content shorter") << Qt::Vertical << QSize(100, 700) << QSize(512, 512) << 700 << -188
                                                << -188 << QStringList();
    QTest::newRow("horizontal, empty sizes") << Qt::Horizontal << QSize(0, 0) << QSize(0, 0) << 0 << 0 << 0
                                             << QStringList{"Scroll horiz:  0 0 "};
}

void TestScrollWidget::sizesPageAndRange()
{
    QFETCH(Qt::Orientation, orientation);
    QFETCH(QSize, page);
    QFETCH(QSize, total);
    QFETCH(int, pageStep);
    QFETCH(int, minimum);
    QFETCH(int, maximum);
    QFETCH(QStringList, messages);

    ScrollWidget bar(orientation);
    bar.setValue(0);
    MessageLog log;
    bar.setPageSize(page, total);
    QCOMPARE(bar.pageStep(), pageStep);
    QCOMPARE(bar.minimum(), minimum);
    QCOMPARE(bar.maximum(), maximum);
    QCOMPARE(log.messages, messages);
    QVERIFY(bar.value() >= bar.minimum() && bar.value() <= bar.maximum());
}

void TestScrollWidget::followsViewResize()
{
    DataDir dir;
    QVERIFY(dir.writeImage(filled(512, 512, qRgb(255, 255, 255))));
    QVERIFY(dir.write("test.frag", stepShader));
    GLWidget view;
    ScrollWidget bar(Qt::Horizontal);
    QVERIFY(QObject::connect(&view, SIGNAL(resized(QSize,QSize)), &bar, SLOT(setPageSize(QSize,QSize))));
    view.resize(512, 512);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));
    view.resize(300, 200);
    QTRY_COMPARE(bar.pageStep(), 300);
    QCOMPARE(bar.maximum(), 512 - 300);
}

QTEST_MAIN(TestScrollWidget)
#include "tst_scrollwidget.moc"
