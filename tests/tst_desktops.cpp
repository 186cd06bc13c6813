// The real ombrel-gl in sessions of their own (tools/session.sh): X11,
// weston's Wayland with and without XWayland. What only a whole process in a real
// session shows: the platform it picks, its picture there and at the scale
// its environment sets, input passing through its view, what it says on
// standard error, and its exit status. Its frames are read back as drawn.

#include <epoxy/gl.h>

#include "appprocess.h"
#include "filtered.h"
#include "places.h"
#include "render/toolkit.h"
#include "support.h"

#include <QtTest>

#include <memory>

namespace {

enum class Check { Covers, Quiet, SliderToTop, Wheel, SaysWhy };

const char *const waylandReport = "runs on Wayland (platform \"wayland\"), where its view cannot show";

} // namespace

class TestDesktops : public QObject
{
    Q_OBJECT

private slots:
    void showsInSession_data();
    void showsInSession();
};

void TestDesktops::showsInSession_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("variable");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QSize>("image");
    QTest::addColumn<int>("check");

    // Small enough that the window's first size shows all of the view, which
    // then stretches it.
    const QSize small(256, 256);
    for (const char *scale : {"QT_SCALE_FACTOR=1", "QT_SCALE_FACTOR=2", "QT_SCALE_FACTOR=1.5", "QT_SCREEN_SCALE_FACTORS=2"})
        QTest::addRow("X11, %s: covers the view", scale) << "x" << scale << QStringList() << small << int(Check::Covers);
    QTest::newRow("X11: the wheel over the view scrolls it") << "x" << QString() << QStringList() << QSize(1024, 1024)
                                                             << int(Check::Wheel);
    QTest::newRow("X11: past the largest drawable") << "x" << QString() << QStringList() << QSize(32768, 16) << int(Check::SaysWhy);
    // A session's own program: Qt 5 picks XWayland, Qt 6 Wayland.
    QTest::newRow("Wayland session with XWayland: covers the view") << "xwayland" << QString() << QStringList() << small
                                                                   << int(Check::Covers);
    QTest::newRow("Wayland session with XWayland: slider to the top") << "xwayland" << QString() << QStringList() << small
                                                                     << int(Check::SliderToTop);
    QTest::newRow("Wayland, no X server") << "wayland" << QString() << QStringList() << small << int(Check::Covers);
    QTest::newRow("Wayland, no X server, scale 2") << "wayland" << "QT_SCALE_FACTOR=2" << QStringList() << small
                                                   << int(Check::Covers);
    QTest::newRow("Wayland chosen by QT_QPA_PLATFORM") << "xwayland" << "QT_QPA_PLATFORM=wayland" << QStringList() << small
                                                       << int(Check::Covers);
    QTest::newRow("Wayland chosen by -platform") << "xwayland" << QString() << QStringList{"-platform", "wayland"} << small
                                                 << int(Check::Covers);
    // At a fractional scale of KWin's and GNOME's, shown, resized and
    // maximised: the toolkit finds nothing stale to warn of.
    QTest::newRow("KWin, fractional scale: covers the view, resized and maximised, nothing on standard error") << "kwin" << QString() << QStringList()
                                                                                       << small << int(Check::Quiet);
    QTest::newRow("GNOME, fractional scale: covers the view, resized and maximised, nothing on standard error") << "gnome" << QString() << QStringList()
                                                                                        << small << int(Check::Quiet);
}

void TestDesktops::showsInSession()
{
    QFETCH(QString, kind);
    QFETCH(QString, variable);
    QFETCH(QStringList, arguments);
    QFETCH(QSize, image);
    QFETCH(int, check);
    // The session CTest runs the suite in: rows of another kind are left to that run.
    const QString session = qEnvironmentVariableIsSet("OMBREL_SESSION_KIND") ? qEnvironmentVariable("OMBREL_SESSION_KIND")
                            : !qEnvironmentVariableIsSet("WAYLAND_DISPLAY")  ? "x"
                            : qEnvironmentVariableIsSet("DISPLAY")           ? "xwayland" : "wayland";
    if (kind != session)
        QSKIP(qPrintable(QString("for a %1 session; this is a %2 one").arg(kind, session)));
    DataDir data;
    const Places places(image);
    QVERIFY(data.writeImage(places.image()));
    // Where a place is asked, each texel whole; elsewhere the image as
    // filtered.
    QVERIFY(data.write("test.frag", Check(check) == Check::Wheel ? placesShader() : showShader));
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    if (!variable.isEmpty())
        env.insert(variable.section('=', 0, 0), variable.section('=', 1));
    // Frames are read back whole; the toolkit's window decoration is no
    // part of what is checked, but where the session decorates windows as
    // its desktop does.
    if (qEnvironmentVariable("OMBREL_SESSION_DECORATIONS") != "1")
        env.insert("QT_WAYLAND_DISABLE_WINDOWDECORATION", "1");
    AppProcess app(data.path(), env, arguments);
    const bool onWayland = kind == "wayland" || variable.contains("wayland") || arguments.contains("wayland");

    // Qt 5's native view never shows on Wayland: there it says so, once.
    if (onWayland && Toolkit::viewIsNativeWindow()) {
        QVERIFY2(app.waitForError(waylandReport), qPrintable(app.report()));
        QTest::qWait(1000);
        QVERIFY2(app.running(), qPrintable(app.report()));
        QCOMPARE(app.errors().count(waylandReport), 1);
        return;
    }
    QString problem;
    switch (Check(check)) {
    case Check::Quiet:
    case Check::Covers: {
        // Room for all of the view where an X server can be asked: Qt 5's
        // first size under QT_SCREEN_SCALE_FACTORS does not hold it scaled.
        if (kind == "x") {
            QVERIFY2(app.waitForWindow(), qPrintable(app.report()));
            QVERIFY2(app.runOnDisplay("xdotool", {"windowsize", app.windowId(), "1200", "1000"}), qPrintable(app.report()));
        }
        // The frame is the drawable, which the whole view spreads over: as
        // the window first shows, or resized and maximised by the compositor
        // as a person does it (the first size holds all of the view inside
        // any decoration), each time a frame of the new size.
        const QStringList sizes = Check(check) == Check::Quiet ? QStringList{"900x640", "613x457", "maximize"} : QStringList{QString()};
        if (Check(check) == Check::Quiet)
            QVERIFY2(app.settles([&] { return !app.lastFrame().isNull(); }), qPrintable(app.report()));
        for (const QString &size : sizes) {
            const QSize before = app.lastFrame().size();
            QVERIFY2(size.isEmpty() || resizedByDesktop(size), qPrintable(app.report()));
            QVERIFY2(app.settles([&] {
                const QImage frame = app.lastFrame();
                return (size.isEmpty() || frame.size() != before)
                    && (problem = agreement(frame, frame.rect(), FilteredImage(places.image(), frame.rect())).problem).isEmpty();
            }), qPrintable(QString("%1: %2").arg(size, problem) + app.report()));
        }
        if (Check(check) == Check::Quiet) {
            // A second for what the toolkit would say late.
            QTest::qWait(1000);
            QVERIFY2(app.ownErrors().trimmed().isEmpty(), qPrintable(app.report()));
        }
        break;
    }
    case Check::SliderToTop: {
        if (!Toolkit::viewIsNativeWindow())
            QSKIP("Qt 6 picks Wayland, where no X client sends it keys");
        QVERIFY2(app.waitForWindow(), qPrintable(app.report()));
        // The scroll area takes the first Tab, the slider the second.
        QVERIFY2(app.runOnDisplay("xdotool", {"key", "--window", app.windowId(), "Tab", "Tab", "End"}), qPrintable(app.report()));
        QVERIFY2(app.settles([&] {
            const QImage frame = app.lastFrame();
            return !frame.isNull() && frame.pixel(frame.rect().center()) == qRgb(0, 0, 0);
        }), qPrintable(app.report()));
        break;
    }
    case Check::Wheel: {
        // One notch down over the middle of the window, which the view fills:
        // it passes the view's drawable to the scroll area below.
        QVERIFY2(app.waitForWindow(), qPrintable(app.report()));
        QPoint before, after;
        auto shows = [&](QPoint *place) {
            const QImage shot = app.screenshot();
            return !shot.isNull() && places.placeOf(shot.pixel(shot.width() / 3, shot.height() / 3), place);
        };
        QVERIFY2(app.settles([&] { return shows(&before); }), qPrintable(app.report()));
        QVERIFY2(app.runOnDisplay("xdotool", {"mousemove", "--window", app.windowId(), "100", "100", "click", "5"}), qPrintable(app.report()));
        QVERIFY2(app.settles([&] { return shows(&after) && after.y() > before.y(); }),
                 qPrintable(QString("place (%1, %2), then (%3, %4)").arg(before.x()).arg(before.y()).arg(after.x()).arg(after.y())));
        QCOMPARE(after.x(), before.x());
        break;
    }
    case Check::SaysWhy: {
        // On standard error, once, with what works.
        const QString why = QString("is %1 x %2 pixels: on this screen its view needs").arg(image.width()).arg(image.height());
        if (!Toolkit::viewIsNativeWindow()) {
            QVERIFY2(app.settles([&] { return !app.lastFrame().isNull(); }), qPrintable(app.report()));
            QVERIFY2(!app.errors().contains(why), qPrintable(app.report()));
            break;
        }
        QVERIFY2(app.waitForError(why), qPrintable(app.report()));
        QVERIFY2(app.waitForWindow(), qPrintable(app.report()));
        const QStringList lines = app.errors().split('\n').filter(why);
        QCOMPARE(lines.size(), 1);
        QVERIFY2(lines.first().contains("What works: the Qt 6 build of Ombrel GL"), qPrintable(lines.first()));
        QVERIFY2(!app.errors().contains("glError in"), qPrintable(app.report()));
        break;
    }
    }
    QVERIFY2(!app.errors().contains(waylandReport), qPrintable(app.report()));
    // Closed as a window manager would where it runs on X: Qt 6 takes
    // Wayland wherever a session offers it.
    if (Toolkit::viewIsNativeWindow() || kind == "x")
        QVERIFY2(app.closesWithZero(), qPrintable(app.report()));
}

QTEST_GUILESS_MAIN(TestDesktops)
#include "tst_desktops.moc"
