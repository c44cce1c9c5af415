// The process on Linux and other Unix systems: signals, standard error and the file mode mask.

#include "migration.h"

#include <array>
#include <csignal>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The one state of the run outside it: a signal handler may set nothing else.
volatile std::sig_atomic_t stopSignal = 0;

void requestStop(int signal)
{
    stopSignal = signal;
}

}  // namespace

void prepareProcess(Run &run)
{
    // An installer that stops reading must not stop the migration halfway.
    std::signal(SIGPIPE, SIG_IGN);
    // One that gives up waiting (a time-out, a closed terminal) lets the store being written finish.
    struct sigaction stop {
    };
    stop.sa_handler = requestStop;
    sigemptyset(&stop.sa_mask);
    for (const int signal : {SIGTERM, SIGINT, SIGHUP})
        sigaction(signal, &stop, nullptr);
    // An installer's umask of 000 must not make folders or stores writable by every user.
    umask(umask(0) | S_IWGRP | S_IWOTH);

    std::array<int, 2> ends{};
    if (pipe(ends.data()) != 0)
        return;
    // Neither end ever waits: a library that says more than the pipe holds loses the rest.
    fcntl(ends[0], F_SETFL, O_NONBLOCK);
    fcntl(ends[1], F_SETFL, O_NONBLOCK);
    fcntl(ends[0], F_SETFD, FD_CLOEXEC);
    dup2(ends[1], STDERR_FILENO);
    close(ends[1]);
    run.heldBackErrors = ends[0];
}

QStringList takeLibraryMessages(Run &run)
{
    QByteArray said;
    std::array<char, 4096> buffer{};
    ssize_t size = 0;
    while (run.heldBackErrors >= 0 && (size = read(run.heldBackErrors, buffer.data(), buffer.size())) > 0)
        said.append(buffer.data(), static_cast<int>(size));
    QStringList messages = QString::fromLocal8Bit(said).split(QLatin1Char('\n'));
    messages.removeAll(QString());
    return messages;
}

bool stopRequested()
{
    return stopSignal != 0;
}
