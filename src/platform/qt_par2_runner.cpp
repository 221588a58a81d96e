#include "platform/qt_par2_runner.h"

#include <unistd.h>

#include <QProcess>
#include <QStringList>

namespace quillfin::platform {

QtPar2Runner::QtPar2Runner(std::string program) : program_(std::move(program)) {}

QtPar2Runner::~QtPar2Runner() { Stop(); }

void QtPar2Runner::Start(const std::string& folder, const std::vector<std::string>& args,
                         Output output, Finished finished) {
    Stop();
    auto* process = new QProcess;
    process_ = process;
    process->setWorkingDirectory(QString::fromStdString(folder));
    process->setProcessChannelMode(QProcess::MergedChannels);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setChildProcessModifier([] { (void)::nice(19); });
    const auto forward = [process, output] {
        const QByteArray bytes = process->readAllStandardOutput();
        if (!bytes.isEmpty() && output) output(std::string_view(bytes.constData(), bytes.size()));
    };
    QObject::connect(process, &QProcess::readyReadStandardOutput, process, forward);
    // The callback may start the next run: the process is let go of before it is called.
    const auto end = [this, process, finished](int code) {
        if (process_ != process) return;
        process_ = nullptr;
        process->disconnect();
        process->deleteLater();
        if (finished) finished(code);
    };
    QObject::connect(process, &QProcess::finished, process,
                     [process, forward, end](int code, QProcess::ExitStatus status) {
                         forward();
                         end(status == QProcess::NormalExit ? code : -2);
                     });
    QObject::connect(process, &QProcess::errorOccurred, process,
                     [end](QProcess::ProcessError error) {
                         if (error == QProcess::FailedToStart) end(-1);
                     });
    QStringList arguments;
    for (const std::string& arg : args) arguments << QString::fromStdString(arg);
    process->start(QString::fromStdString(program_), arguments);
}

void QtPar2Runner::Stop() {
    QProcess* process = process_;
    if (process == nullptr) return;
    process_ = nullptr;
    process->disconnect();
    process->kill();
    process->waitForFinished(2000);
    process->deleteLater();
}

}  // namespace quillfin::platform
