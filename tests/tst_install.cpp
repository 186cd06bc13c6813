// The program as a user gets it: installed with cmake --install into a
// prefix of its own, run from there in a folder holding the sample it
// installed, and its manual page read with man.

#include "appprocess.h"
#include "support.h"

#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

class TestInstall : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void installedProgramRunsOnInstalledSample();
    void manualPageRendersWithoutWarnings();

private:
    QTemporaryDir prefix;
};

void TestInstall::initTestCase()
{
    QVERIFY(prefix.isValid());
    QProcess install;
    install.setProcessChannelMode(QProcess::MergedChannels);
    install.start("cmake", {"--install", OMBREL_BUILD_DIR, "--prefix", prefix.path()});
    QVERIFY(install.waitForFinished(120000));
    QVERIFY2(install.exitCode() == 0, install.readAll().constData());
    for (const char *path : {"bin/ombrel-gl", "share/man/man1/ombrel-gl.1.gz", "share/ombrel-gl/sample/fibre.bmp",
                             "share/ombrel-gl/sample/test.frag", "share/doc/ombrel-gl/README.md",
                             "share/doc/ombrel-gl/copyright", "share/doc/ombrel-gl/changelog.gz"})
        QVERIFY2(QFileInfo::exists(prefix.filePath(path)), path);
    // Only what a user needs: no tests, tools or benchmarks.
    QCOMPARE(QDir(prefix.filePath("bin")).entryList(QDir::Files), QStringList{"ombrel-gl"});
}

void TestInstall::installedProgramRunsOnInstalledSample()
{
    DataDir dir;
    for (const char *name : {"fibre.bmp", "test.frag"})
        QVERIFY(QFile::copy(prefix.filePath(QString("share/ombrel-gl/sample/") + name), dir.path() + '/' + name));
    AppProcess app(dir.path(), QProcessEnvironment::systemEnvironment(), {}, prefix.filePath("bin/ombrel-gl"));
    QTRY_VERIFY_WITH_TIMEOUT(!app.lastFrame().isNull(), 20000);
    QVERIFY2(app.closesWithZero(), qPrintable(app.report()));
    QVERIFY2(!app.errors().contains("glError") && !app.errors().contains("Cannot"), qPrintable(app.errors()));
}

void TestInstall::manualPageRendersWithoutWarnings()
{
    QProcess man;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("MANWIDTH", "80");
    man.setProcessEnvironment(env);
    man.start("man", {"--warnings", "-l", prefix.filePath("share/man/man1/ombrel-gl.1.gz")});
    QVERIFY(man.waitForFinished(60000));
    QCOMPARE(man.exitCode(), 0);
    const QString page = QString::fromLocal8Bit(man.readAllStandardOutput());
    QCOMPARE(QString::fromLocal8Bit(man.readAllStandardError()), QString());
    for (const char *section : {"NAME", "SYNOPSIS", "DESCRIPTION", "FILES", "SHADER CONTRACT", "DIAGNOSTICS", "EXIT STATUS",
                                "ENVIRONMENT", "EXAMPLES"})
        QVERIFY2(page.contains(QString("\n") + section + "\n"), section);
    QVERIFY(page.contains("Tekstur") && page.contains("Terskel") && page.contains("255"));
    QVERIFY2(page.contains(QString("Ombrel GL ") + OMBREL_VERSION), "the page names the version");
}

QTEST_MAIN(TestInstall)
#include "tst_install.moc"
