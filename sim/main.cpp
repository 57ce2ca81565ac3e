// SPDX-License-Identifier: GPL-3.0-or-later
// tavrin-phone-sim: a phone with its note server on this computer, to try Tavrin without one.
// It serves one note kept in a text file, logs every request, and takes commands on stdin.

#include "sim/NoteServer.h"
#include "sim/PhoneConsole.h"
#include "sim/RequestLog.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QMimeDatabase>
#include <QSocketNotifier>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <mutex>

using namespace tavrin::sim;

namespace {

constexpr quint16 kPort = 8080;

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// Lines come from the server threads and from the console: one at a time, flushed at once.
void printLine(const QString& line) {
    static std::mutex mutex;
    std::lock_guard lock(mutex);
    std::fputs(line.toLocal8Bit().constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

bool readFile(const QString& path, QByteArray* bytes) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        printLine(QStringLiteral("cannot read %1: %2").arg(path, file.errorString()));
        return false;
    }
    *bytes = file.readAll();
    return true;
}

QByteArray mimeTypeOf(const QString& path) {
    return QMimeDatabase().mimeTypeForFile(path).name().toLatin1();
}

// Quits the application at SIGINT and SIGTERM.
bool installSignalHandlers(QCoreApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) {
        return false;
    }
    ::fcntl(signalPipe[1], F_SETFL, O_NONBLOCK);
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte = 0;
        [[maybe_unused]] const auto read = ::read(signalPipe[0], &byte, 1);
        printLine(QStringLiteral("signal received, stopping"));
        app.quit();
    });
    return true;
}

// Feeds the lines typed on stdin to the console. The end of stdin does not quit: the
// simulator may run in the background with stdin from /dev/null.
void readCommands(QCoreApplication& app, PhoneConsole& console) {
    if (::fcntl(STDIN_FILENO, F_GETFD) < 0) {
        return;
    }
    auto* notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, &app);
    auto pending = std::make_shared<QByteArray>();
    QObject::connect(
        notifier, &QSocketNotifier::activated, &app, [&app, &console, notifier, pending] {
            char buffer[4096];
            const ssize_t length = ::read(STDIN_FILENO, buffer, sizeof buffer);
            if (length <= 0) {
                notifier->setEnabled(false);
                return;
            }
            pending->append(buffer, static_cast<int>(length));
            for (int end = pending->indexOf('\n'); end >= 0; end = pending->indexOf('\n')) {
                const QString line = QString::fromLocal8Bit(pending->left(end)).trimmed();
                pending->remove(0, end + 1);
                if (!console.execute(line)) {
                    app.quit();
                    return;
                }
            }
        });
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrin-phone-sim"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TAVRIN_VERSION));
    std::signal(SIGPIPE, SIG_IGN);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Simulates a phone whose note app serves one note on port 8080.\n"
                       "The note is read from NOTE_FILE and written back at every edit.\n"
                       "Type help on the console for its commands; misbehave makes it answer\n"
                       "slowly, cut off, malformed, huge or hostile."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption addressOption(QStringLiteral("address"),
                                           QStringLiteral("Address to listen on."),
                                           QStringLiteral("ip"), QStringLiteral("127.0.0.1"));
    const QCommandLineOption idOption(QStringLiteral("id"),
                                      QStringLiteral("Id of the open note (a number or a text)."),
                                      QStringLiteral("id"), QStringLiteral("1"));
    const QCommandLineOption markdownOption(QStringLiteral("markdown"),
                                            QStringLiteral("The note is a markdown note."));
    const QCommandLineOption backgroundOption(QStringLiteral("background"),
                                              QStringLiteral("Picture served as the background."),
                                              QStringLiteral("file"));
    const QCommandLineOption fontOption(QStringLiteral("font"),
                                        QStringLiteral("Font file served as the editor's font."),
                                        QStringLiteral("file"));
    parser.addOptions({addressOption, idOption, markdownOption, backgroundOption, fontOption});
    parser.addPositionalArgument(QStringLiteral("NOTE_FILE"),
                                 QStringLiteral("UTF-8 text file holding the note."));
    parser.process(app);
    if (parser.positionalArguments().size() != 1) {
        std::fputs(qPrintable(parser.helpText()), stderr);
        return 2;
    }

    NoteServer server;
    PhoneConsole console(server, parser.positionalArguments().first(), printLine);
    if (parser.isSet(backgroundOption)) {
        QByteArray picture;
        const QString path = parser.value(backgroundOption);
        if (!readFile(path, &picture)) {
            return 1;
        }
        server.setBackground(picture, mimeTypeOf(path));
    }
    if (parser.isSet(fontOption)) {
        QByteArray font;
        const QString path = parser.value(fontOption);
        if (!readFile(path, &font)) {
            return 1;
        }
        server.setFont(font, mimeTypeOf(path));
    }
    if (!console.open(PhoneConsole::parseId(parser.value(idOption)),
                      parser.isSet(markdownOption))) {
        return 1;
    }
    server.setContentListener(
        [&console](const QString& content) { console.writeNoteFile(content); });
    server.setServedListener([&server, &console](const Request& request, const Served& served) {
        printLine(requestLogLine(request, served));
        console.countServed();
        server.clearRequests(); // the log is the record here; keep memory flat
    });

    const QString address = parser.value(addressOption);
    if (!server.start(address, kPort)) {
        printLine(QStringLiteral("cannot listen on %1:%2 (in use, or not an address of this "
                                 "computer)")
                      .arg(address, QString::number(kPort)));
        return 1;
    }
    if (!installSignalHandlers(app)) {
        printLine(QStringLiteral("cannot watch for signals; stop with the quit command"));
    }
    readCommands(app, console);
    printLine(console.statusText());
    printLine(QStringLiteral("type %1 into Tavrin's address field; help lists the commands")
                  .arg(address));

    const int result = app.exec();
    server.stop();
    return result;
}
