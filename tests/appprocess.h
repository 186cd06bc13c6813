#ifndef TESTS_APPPROCESS_H
#define TESTS_APPPROCESS_H

// The real ombrel-gl as a child process: started in a folder, its standard
// error collected, its window closed as a window manager would close it.

#include <QElapsedTimer>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

class AppProcess
{
public:
    explicit AppProcess(const QString &folder, const QString &glVersion = QString())
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        if (!glVersion.isEmpty())
            env.insert("MESA_GL_VERSION_OVERRIDE", glVersion);
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(folder);
        process.setProcessChannelMode(QProcess::SeparateChannels);
        process.start(OMBREL_GL, QStringList());
    }
    ~AppProcess()
    {
        if (process.state() != QProcess::NotRunning) {
            process.kill();
            process.waitForFinished();
        }
    }
    // Everything it printed on standard error so far.
    QString errors()
    {
        stderrText += QString::fromLocal8Bit(process.readAllStandardError());
        return stderrText;
    }
    bool waitForError(const QString &text, int ms = 20000)
    {
        QElapsedTimer timer;
        timer.start();
        while (!errors().contains(text)) {
            if (timer.elapsed() > ms || process.state() == QProcess::NotRunning)
                return false;
            process.waitForReadyRead(100);
        }
        return true;
    }
    // Only this process's window: suites may run side by side on one display.
    bool closeWindow()
    {
        return QProcess::execute(OMBREL_WMCLOSE, {"--wait", "20", "--pid", QString::number(process.processId()), "Ombrel GL"}) == 0;
    }
    bool finished(int ms = 20000) { return process.waitForFinished(ms) && process.exitStatus() == QProcess::NormalExit; }
    int exitCode() const { return process.exitCode(); }
    bool running() const { return process.state() != QProcess::NotRunning; }

    QProcess process;

private:
    QString stderrText;
};

// Text a shader can hold to say that the view initialised past its upload:
// without "Terskel" the view reports that the slider cannot reach it.
inline const char *missingTerskelShader()
{
    return "uniform sampler2D Tekstur;\n"
           "void main() { gl_FragColor = texture2D(Tekstur, gl_TexCoord[0].st); }\n";
}

#endif
