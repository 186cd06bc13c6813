#include <epoxy/gl.h>

#include "render/checkglerror.h"
#include "support.h"

#include <QtTest>

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

    QTest::newRow("no error, no message") << 0 << "glwidget.cpp" << 10 << QStringList();
    QTest::newRow("invalid enum") << 1 << "glwidget.cpp" << 42
                                  << QStringList{"\"glError in glwidget.cpp:42 : invalid enumerant\" "};
    QTest::newRow("invalid operation") << 2 << "shader.cpp" << 7
                                       << QStringList{"\"glError in shader.cpp:7 : invalid operation\" "};
    QTest::newRow("percent sign in file name stays") << 1 << "a%2b.cpp" << 3
                                                     << QStringList{"\"glError in a%2b.cpp:3 : invalid enumerant\" "};
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
    if (provoke == 1)
        glEnable(0x7fff);
    else if (provoke == 2)
        glEnd();

    MessageLog log;
    checkGLError(file.toUtf8().constData(), line);
    QCOMPARE(log.messages, expected);
    // The queue is drained: nothing is left for the next caller.
    QCOMPARE(glGetError(), GLenum(GL_NO_ERROR));
}

QTEST_MAIN(TestCheckGLError)
#include "tst_checkglerror.moc"
