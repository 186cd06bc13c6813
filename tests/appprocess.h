#ifndef TESTS_APPPROCESS_H
#define TESTS_APPPROCESS_H

// The real ombrel-gl as a child process: started in a folder with the swap
// interposer preloaded (its frames read back, its starts counted), its
// standard error collected, its window closed as a window manager would.

#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTest>

#include <functional>

class AppProcess
{
public:
    explicit AppProcess(const QString &folder, QProcessEnvironment env = QProcessEnvironment::systemEnvironment(),
                        const QStringList &arguments = {}, const QString &program = OMBREL_GL)
        : framePath(folder + "/frame.ppm"), startsPath(folder + "/starts")
    {
        const QString preload = env.value("LD_PRELOAD");
        env.insert("LD_PRELOAD", preload.isEmpty() ? QString(OMBREL_FRAMEGRAB) : preload + ':' + OMBREL_FRAMEGRAB);
        env.insert("FRAMEGRAB_OUT", framePath);
        env.insert("FRAMEGRAB_STARTS", startsPath);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(folder);
        process.start(program, arguments);
    }
    ~AppProcess()
    {
        if (running()) {
            process.kill();
            process.waitForFinished();
        }
    }
    // The system's environment with an OpenGL version the driver reports.
    static QProcessEnvironment withGLVersion(const QString &version)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("MESA_GL_VERSION_OVERRIDE", version);
        return env;
    }
    // Everything it printed on standard error so far, as the bytes it wrote
    // (the toolkit writes UTF-8 in any locale) and as text.
    QByteArray errorBytes()
    {
        stderrBytes += process.readAllStandardError();
        return stderrBytes;
    }
    QString errors() { return QString::fromUtf8(errorBytes()) + notes; }
    // What it printed of its own: standard error less the note that Qt 6.5
    // and later print where no locale is set (a minimal install, a
    // container, env -i), which says that the toolkit switched to a UTF-8
    // one; the note is the toolkit's, not the program's.
    QString ownErrors()
    {
        static const QRegularExpression localeNote(
            "Detected locale \"[^\"\n]*\" with character encoding \"[^\"\n]*\", which is not UTF-8\\.\n"
            "Qt depends on a UTF-8 locale, [^\n]*\n"
            "(If this causes problems, reconfigure your locale\\. See the locale\\(1\\) manual\nfor more information\\.\n)?");
        return errors().remove(localeNote);
    }
    // What it printed, and how it ended if it did: for failure messages.
    QString report()
    {
        QString text = errors();
        if (!running())
            text += QString("\n[%1: %2, exit code %3]")
                        .arg(process.error() == QProcess::FailedToStart ? "failed to start" : "ended",
                             process.exitStatus() == QProcess::CrashExit ? "crashed" : "normally")
                        .arg(process.exitCode());
        return text;
    }
    // Waits by the clock until check() holds, false when time runs out or
    // the process ends first.
    bool settles(const std::function<bool()> &check, int ms = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!check()) {
            if (timer.elapsed() > ms || !running())
                return false;
            QTest::qWait(50);
        }
        return true;
    }
    bool waitForError(const QString &text, int ms = 20000) { return settles([&] { return errors().contains(text); }, ms); }
    // Runs an X client (xdotool, say) on the process's display.
    bool runOnDisplay(const QString &program, const QStringList &arguments, QByteArray *output = nullptr)
    {
        QProcess client;
        client.setProcessEnvironment(process.processEnvironment());
        client.start(program, arguments);
        const bool done = client.waitForFinished(15000) && client.exitStatus() == QProcess::NormalExit && client.exitCode() == 0;
        if (!done)
            notes += QString("\n[%1 failed: %2]").arg(program, QString::fromLocal8Bit(client.readAllStandardError()));
        if (output)
            *output = client.readAllStandardOutput();
        return done;
    }
    // The process's visible X windows of a title; none once it is gone (a
    // search by the PID of a process that is gone matches other windows).
    QStringList windows(const QString &title = "^Ombrel GL$")
    {
        QByteArray found;
        if (running())
            runOnDisplay("xdotool", {"search", "--all", "--onlyvisible", "--pid", QString::number(process.processId()), "--name", title},
                         &found);
        return QString::fromLatin1(found).split('\n', Qt::SkipEmptyParts);
    }
    QString windowId() { return windows().value(0); }
    bool waitForWindow() { return settles([&] { return !windowId().isEmpty(); }); }
    // The window as the X server shows it, native child windows included.
    QImage screenshot()
    {
        QByteArray ppm;
        QImage shot;
        if (!windowId().isEmpty() && runOnDisplay("import", {"-window", windowId(), "ppm:-"}, &ppm))
            shot.loadFromData(ppm, "PPM");
        return shot.isNull() ? shot : shot.convertToFormat(QImage::Format_RGB32);
    }
    // The newest frame read back; null before the first.
    QImage lastFrame() const { return QImage(framePath, "PPM"); }
    // How often the process's own PID started a program image: 1, unless
    // it started itself anew.
    int starts() const
    {
        QFile file(startsPath);
        return file.open(QIODevice::ReadOnly) ? file.readAll().split('\n').count(QByteArray::number(process.processId())) : 0;
    }
    // Closed as a person closes it, only this process's window (suites may
    // share a display), it ends with status 0.
    bool closesWithZero(int ms = 20000)
    {
        return runOnDisplay(OMBREL_WMCLOSE, {"--wait", "20", "--pid", QString::number(process.processId()), "Ombrel GL"})
            && finished(ms) && exitCode() == 0;
    }
    bool finished(int ms = 20000) { return process.waitForFinished(ms) && process.exitStatus() == QProcess::NormalExit; }
    int exitCode() const { return process.exitCode(); }
    bool running() const { return process.state() != QProcess::NotRunning; }

    QProcess process;

private:
    QByteArray stderrBytes;
    // What the suite adds to the report: clients that failed.
    QString notes;
    const QString framePath;
    const QString startsPath;
};

#endif
