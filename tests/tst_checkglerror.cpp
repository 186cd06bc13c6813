#include <epoxy/gl.h>

#include "render/checkglerror.h"
#include "support.h"

#include <QtTest>

namespace {

// A stand-in for glGetError in the loader's table: Mesa keeps one error
// at a time, so a queue of several, or one that never empties (as a lost
// context may answer), needs one.
QList<GLenum> queued;
bool endless = false;
GLenum EPOXY_CALLSPEC fakeGetError()
{
    if (endless)
        return GL_INVALID_OPERATION;
    return queued.isEmpty() ? GLenum(GL_NO_ERROR) : queued.takeFirst();
}

enum Provoke { Nothing, InvalidEnum, InvalidOperation, TwoQueued, NeverEmpty };

} // namespace

class TestCheckGLError : public QObject
{
    Q_OBJECT

private slots:
    void reportsEachError_data();
    void reportsEachError();
};

void TestCheckGLError::reportsEachError_data()
{
    QTest::addColumn<int>("provoke");
    QTest::addColumn<QString>("file");
    QTest::addColumn<int>("line");
    QTest::addColumn<QStringList>("expected");

    QTest::newRow("no error, no message") << int(Nothing) << "glwidget.cpp" << 10 << QStringList();
    QTest::newRow("invalid enum") << int(InvalidEnum) << "glwidget.cpp" << 42
                                  << QStringList{"\"glError in glwidget.cpp:42 : invalid enumerant\" "};
    QTest::newRow("invalid operation") << int(InvalidOperation) << "shader.cpp" << 7
                                       << QStringList{"\"glError in shader.cpp:7 : invalid operation\" "};
    QTest::newRow("percent sign in file name stays") << int(InvalidEnum) << "a%2b.cpp" << 3
                                                     << QStringList{"\"glError in a%2b.cpp:3 : invalid enumerant\" "};
    QTest::newRow("two queued, both reported in order") << int(TwoQueued) << "shader.cpp" << 5
                                                         << QStringList{"\"glError in shader.cpp:5 : invalid enumerant\" ",
                                                                        "\"glError in shader.cpp:5 : invalid value\" "};
    QTest::newRow("never empty, stops after 64") << int(NeverEmpty) << "glwidget.cpp" << 9
                                                  << QStringList(QVector<QString>(64, "\"glError in glwidget.cpp:9 : invalid operation\" ").toList());
}

void TestCheckGLError::reportsEachError()
{
    QFETCH(int, provoke);
    QFETCH(QString, file);
    QFETCH(int, line);
    QFETCH(QStringList, expected);
    GLContext context;
    QVERIFY(context.isCurrent());
    QCOMPARE(glGetError(), GLenum(GL_NO_ERROR));
    if (provoke == InvalidEnum)
        glEnable(0x7fff);
    else if (provoke == InvalidOperation)
        glEnd();
    queued = provoke == TwoQueued ? QList<GLenum>{GL_INVALID_ENUM, GL_INVALID_VALUE} : QList<GLenum>();
    endless = provoke == NeverEmpty;
    MessageLog log;
    {
        EntryPointPatch getError(epoxy_glGetError, "glGetError", provoke == TwoQueued || provoke == NeverEmpty ? fakeGetError : epoxy_glGetError);
        checkGLError(file.toUtf8().constData(), line);
    }
    QCOMPARE(log.messages, expected);
    QVERIFY(queued.isEmpty());
    // The queue is drained: nothing is left for the next caller.
    QCOMPARE(glGetError(), GLenum(GL_NO_ERROR));
}

QTEST_MAIN(TestCheckGLError)
#include "tst_checkglerror.moc"
