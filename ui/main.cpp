#include "common/interrupt_notifier.h"
#include "common/standard_streams.h"
#include "ui/form1.h"
#include "ui/translation.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QPushButton>
#include <QTextStream>
#include <QTimer>

namespace {

// Without a screen to look at: press the read button once the window is up, wait for the
// reading, save a picture of the window and end. The run fails, saying why, when no reading was
// shown: a headless check must not pass on a window that only shows "no data".
void screenshotOneReading(darq::Form1& form, const QString& path) {
    QObject::connect(
        &form, &darq::Form1::readCycleEnded, &form, [&form, path](const QString& failure) {
            const bool saved = form.grab().save(path, "PNG");
            QTextStream err(stderr);
            if (saved) {
                QTextStream(stdout) << path << Qt::endl;
            } else {
                err << "darq-flowtest: cannot write the screenshot to " << path << Qt::endl;
            }
            if (!failure.isEmpty()) {
                err << "darq-flowtest: no reading: " << failure << Qt::endl;
            }
            QApplication::exit(saved && failure.isEmpty() ? 0 : 1);
        });
    QTimer::singleShot(
        0, &form, [&form] { form.findChild<QPushButton*>(QStringLiteral("Command2"))->click(); });
}

} // namespace

int main(int argc, char* argv[]) {
    darq::reopenClosedStandardStreams();
    QApplication::setApplicationName(QStringLiteral("darq-flowtest"));
    QApplication::setApplicationVersion(QStringLiteral(DARQ_VERSION));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reads the flow and the total of a DARQ flow totalizer over COM1 or COM2.\n"
        "DARQ_COM1 and DARQ_COM2 name the serial devices of the two ports; without\n"
        "them, the devices assigned in the window's device menu, else the first and\n"
        "second USB serial adapter, else /dev/ttyS0 and /dev/ttyS1."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Take one reading, save a picture of the window to <file> and quit; the "
                       "exit status is 1 when no reading was shown."),
        QStringLiteral("file"));
    parser.addOption(screenshot);

    // The help and the version are answered on the terminal before the window's application is
    // made: it needs a display, and a server or a package build asking for them has none. A
    // command line this parser does not take may still hold the window system's own options
    // (-platform, -style); the window's application removes those before it is parsed again.
    QStringList arguments;
    for (int index = 0; index < argc; ++index) {
        arguments << QString::fromLocal8Bit(argv[index]);
    }
    if (parser.parse(arguments) &&
        (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")) || parser.isSet(version))) {
        const QCoreApplication terminal(argc, argv);
        parser.process(terminal); // prints the answer and ends the program
    }

    QApplication application(argc, argv);
    const auto translations = darq::installTranslations(QLocale());
    parser.process(application);

    darq::InterruptNotifier interrupts;
    QObject::connect(&interrupts, &darq::InterruptNotifier::interrupted, &application,
                     &QApplication::quit);

    darq::Form1 form;
    form.show();
    if (parser.isSet(screenshot)) {
        screenshotOneReading(form, parser.value(screenshot));
    }
    return QApplication::exec();
}
