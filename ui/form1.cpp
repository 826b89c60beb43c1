#include "ui/form1.h"

#include "serial/comm_control.h"
#include "serial/line_settings.h"
#include "ui/com_port_tooltip.h"
#include "ui/reading_display.h"
#include "ui/search_dialog.h"
#include "ui/traffic_log.h"
#include "ui/traffic_log_window.h"
#include "ui/trend_window.h"
#include "ui/window_menu.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

namespace darq {

namespace {

constexpr int kAutomaticReadIntervalMs = 2000;
constexpr int kDefaultRatePosition = 3;
constexpr int kDefaultAddressPosition = 1;

const QString kPortInfoTitle = QStringLiteral("通讯端口信息");

QString fromStd(const std::string& text) {
    return QString::fromStdString(text);
}

// Typing the exact text of an entry selects it; any other text leaves nothing selected but stays
// in the field as typed.
void selectEntryByText(QComboBox* combo, const QString& text) {
    const int position = combo->findText(text, Qt::MatchExactly | Qt::MatchCaseSensitive);
    if (position == combo->currentIndex()) {
        return;
    }
    QLineEdit* field = combo->lineEdit();
    const int cursor = field->cursorPosition();
    combo->setCurrentIndex(position);
    if (field->text() != text) {
        field->setText(text);
        field->setCursorPosition(cursor);
    }
}

} // namespace

Form1::Form1(QWidget* parent) : QWidget(parent) {
    setupLayout(this);
    exchange_ = new ExchangeEngine(*MSComm1, this);
    Form1_Load();
    keepTabOnSelectedPort();

    // Connected after the start-up sequence: filling and positioning the lists runs no handler.
    connect(Command1, &QPushButton::clicked, this, &Form1::Command1_Click);
    connect(Command2, &QPushButton::clicked, this, &Form1::Command2_Click);
    connect(autuTimer2, &QTimer::timeout, this, &Form1::autuTimer2_Timer);
    connect(Check1, &QCheckBox::clicked, this, &Form1::Check1_Click);
    for (int index = 0; index < int(Option1.size()); ++index) {
        connect(Option1[index], &QRadioButton::clicked, this,
                [this, index] { Option1_Click(index); });
        new ComPortTooltip(Option1[index], index + 1);
    }
    connect(Combo1->lineEdit(), &QLineEdit::textEdited, this, &Form1::Combo1_Change);
    connect(Combo1, &QComboBox::currentIndexChanged, this, [this] { toldRefusal_.reset(); });
    connect(Combo2, &QComboBox::activated, this, &Form1::Combo2_Change);
    connect(Combo2->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
        selectEntryByText(Combo2, text);
        Combo2_Change();
    });

    auto* windowMenu = new WindowMenu(this, menuBar);
    // A new device for the selected port is taken up at once, as a click on its button would.
    connect(windowMenu, &WindowMenu::deviceAssigned, this, [this](int commPort) {
        if (commPort == MSComm1->CommPort()) {
            Option1_Click(commPort - 1);
        }
    });
    connect(windowMenu, &WindowMenu::findInstrumentChosen, this, &Form1::startSearch);
    trafficLog_ = new TrafficLogModel(this);
    connect(windowMenu, &WindowMenu::trafficLogChosen, this, &Form1::showTrafficLog);
    connect(windowMenu, &WindowMenu::trendChosen, this, &Form1::showTrend);

    connect(exchange_, &ExchangeEngine::finished, this, &Form1::onExchangeFinished);
    connect(MSComm1, &CommControl::portOpenChanged, this, &Form1::onPortOpenChanged);
    connect(MSComm1, &CommControl::portLost, this, &Form1::reportPortLost);
    // A device server's port connects in the background and may fail there.
    connect(MSComm1, &CommControl::openFailed, this, &Form1::reportOpenFailure);
}

Form1::~Form1() {
    // The search, the exchange and the port go first, while every control still stands: an
    // exchange still waiting and the port closing must find nothing of the window to report to.
    autuTimer2->stop();
    delete search_;
    exchange_->disconnect(this);
    MSComm1->disconnect(this);
    delete exchange_;
    delete MSComm1;
}

void Form1::Form1_Load() {
    Combo2->addItems({QStringLiteral("1200"), QStringLiteral("2400"), QStringLiteral("4800"),
                      QStringLiteral("9600")});
    Combo2->setCurrentIndex(kDefaultRatePosition);

    autuTimer2->stop();

    for (int address = 0; address <= 128; ++address) {
        Combo1->addItem(QString::number(address));
    }
    Combo1->setCurrentIndex(kDefaultAddressPosition);

    MSComm1->setSettings(QString::fromUtf8(kDefaultSettings.data(), int(kDefaultSettings.size())));
    if (!MSComm1->open() && !MSComm1->isOpening()) {
        // Told once the window is up, which it is whether or not the port opened.
        QMetaObject::invokeMethod(
            this, [this, error = MSComm1->lastError()] { reportOpenFailure(error); },
            Qt::QueuedConnection);
    }
    showPortState();
}

void Form1::Command1_Click() {
    const bool wasClosed = !MSComm1->PortOpen() && !MSComm1->isOpening();
    const bool isOpen = MSComm1->toggle();
    if (wasClosed && !isOpen && !MSComm1->isOpening()) {
        reportOpenFailure(MSComm1->lastError());
    }
    showPortState();
}

void Form1::Command2_Click() {
    readCycle(ReadTrigger::Button);
}

void Form1::autuTimer2_Timer() {
    readCycle(ReadTrigger::Timer);
}

void Form1::Check1_Click() {
    if (Check1->checkState() == Qt::Checked) {
        autuTimer2->setInterval(kAutomaticReadIntervalMs);
        autuTimer2->start();
        Command2->setEnabled(false);
    } else {
        autuTimer2->stop();
        // A tick that waits behind a search must not read after the box was unticked.
        exchange_->dropWaiting(this);
        Command2->setEnabled(true);
    }
}

void Form1::Option1_Click(int index) {
    if (!MSComm1->switchPort(index) && !MSComm1->isOpening()) {
        reportOpenFailure(MSComm1->lastError());
    }
    showPortState();
}

void Form1::Combo1_Change(const QString& text) {
    selectEntryByText(Combo1, text);
}

void Form1::Combo2_Change() {
    // The operator takes the line back from a search by choosing a rate.
    cancelSearch();
    if (!MSComm1->applyRate(Combo2->currentIndex())) {
        showPortWarning(tr("The baud rate cannot be set.\n%1").arg(MSComm1->lastError().message()));
    }
}

// Of the two port buttons only the selected one takes the focus by keyboard, and the window starts
// with the focus on it: on the other one a single Space at start-up would switch to COM2 and close
// COM1, and the tab cycle would never reach the selected port.
void Form1::keepTabOnSelectedPort() {
    for (QRadioButton* option : Option1) {
        const auto followSelection = [option](bool selected) {
            option->setFocusPolicy(selected ? Qt::StrongFocus : Qt::ClickFocus);
        };
        followSelection(option->isChecked());
        connect(option, &QRadioButton::toggled, option, followSelection);
        if (option->isChecked()) {
            option->setFocus();
        }
    }
}

void Form1::readCycle(ReadTrigger trigger) {
    ExchangeOrder order;
    order.address = Combo1->currentIndex();
    const ReadStart start = exchange_->submit(this, order);
    if (start == ReadStart::Accepted) {
        toldRefusal_.reset();
        return;
    }
    logRefusal(start == ReadStart::PortClosed ? tr("port not open")
                                              : tr("no instrument address selected"));
    reportRefusedRead(start, trigger);
    emit readCycleEnded(refusalLine(start));
}

QString Form1::refusalLine(ReadStart reason) const {
    if (reason == ReadStart::AddressOutOfRange) {
        return QStringLiteral("no instrument address is selected; nothing was sent");
    }
    QString line = QStringLiteral("%1: port not open; nothing was sent").arg(MSComm1->deviceName());
    // After a failed open the port still knows why it is closed.
    if (MSComm1->lastError().isError()) {
        line += QStringLiteral(" (") + MSComm1->lastError().message() + QLatin1Char(')');
    }
    return line;
}

void Form1::onExchangeFinished(const ReadingRecord& record, const QObject* requester) {
    ReadingRecord checked = record;
    totals_.check(checked);
    trafficLog_->addEntry(trafficLogEntry(checked));
    if (requester == this) {
        showReadOutcome(record);
    }
}

void Form1::showReadOutcome(const ReadingRecord& record) {
    const QString device = QString::fromStdString(record.device);
    switch (record.status) {
    case ReadingRecord::Status::NotSent: {
        const QString problem = QString::fromStdString(record.problem);
        showPortWarning(tr("The read request was not sent.\n%1").arg(problem));
        emit readCycleEnded(problem);
        return;
    }
    case ReadingRecord::Status::Interrupted:
    case ReadingRecord::Status::PortLost:
        // Cut short by closing or switching the port: the operator did it, and Command1 already
        // tells the port's state.
        emit readCycleEnded(
            QStringLiteral("%1: the port closed while the reply was awaited").arg(device));
        return;
    case ReadingRecord::Status::Completed:
        break;
    }
    const ReadOutcome& outcome = record.outcome;
    switch (outcome.kind) {
    case ReadOutcome::Kind::NoData:
        Label4->setText(QStringLiteral("无数据\u201C"));
        announceReading(Label4);
        noteReadingTime(record);
        emit readCycleEnded(QStringLiteral("%1: nothing came back").arg(device));
        return;
    case ReadOutcome::Kind::Decoded:
        Label4->setText(fromStd(outcome.flowText));
        Text1->setText(fromStd(outcome.totalText));
        // A total too long for the box shows its leading digits, as a freshly filled text box
        // does, rather than the end where the cursor lands.
        Text1->setCursorPosition(0);
        announceReading(Label4);
        noteReadingTime(record);
        emit readCycleEnded(QString());
        return;
    case ReadOutcome::Kind::Ignored:
        emit readCycleEnded(QStringLiteral("%1: %2 bytes came back, not a 17-byte reply")
                                .arg(device)
                                .arg(outcome.reply().size()));
        return;
    }
}

void Form1::reportRefusedRead(ReadStart reason, ReadTrigger trigger) {
    if (trigger == ReadTrigger::Timer && toldRefusal_ == reason) {
        return;
    }
    toldRefusal_ = reason;
    const QString text =
        reason == ReadStart::PortClosed
            ? tr("Port %1 is not open: no read request was sent.").arg(MSComm1->deviceName())
            : tr("No instrument address is selected: no read request was sent.");
    if (!readNotice_) {
        readNotice_ =
            new QMessageBox(QMessageBox::Information, windowTitle(), text, QMessageBox::Ok, this);
        readNotice_->setWindowModality(Qt::NonModal);
    }
    readNotice_->setText(text);
    readNotice_->show();
}

void Form1::onPortOpenChanged() {
    toldRefusal_.reset();
    showPortState();
}

void Form1::showPortState() {
    const bool open = MSComm1->PortOpen();
    Command1->setText(open ? QStringLiteral("关闭端口") : QStringLiteral("打开端口"));
    // A screen reader says what a press does, in the operator's language.
    Command1->setAccessibleName(open ? tr("Close port") : tr("Open port"));
}

void Form1::reportOpenFailure(const PortError& error) {
    // The warning says the port is closed: automatic reading need not say it again.
    toldRefusal_ = ReadStart::PortClosed;
    if (error.kind == PortError::Kind::Occupied) {
        showPortWarning(QStringLiteral("所选的端口被占用！"));
    } else {
        showPortWarning(tr("The port cannot be opened.\n%1").arg(error.message()));
    }
}

void Form1::reportPortLost(const PortError& error) {
    toldRefusal_ = ReadStart::PortClosed;
    showPortState();
    showPortWarning(tr("The port was lost.\n%1").arg(error.message()));
}

void Form1::showPortWarning(const QString& text) {
    if (!portWarning_) {
        portWarning_ =
            new QMessageBox(QMessageBox::Warning, kPortInfoTitle, text, QMessageBox::Ok, this);
    }
    portWarning_->setText(text);
    portWarning_->open();
}

void Form1::startSearch() {
    if (!searchDialog_) {
        searchDialog_ = new SearchDialog(this);
        connect(searchDialog_, &SearchDialog::cancelRequested, this, &Form1::cancelSearch);
    }
    searchDialog_->show();
    searchDialog_->raise();
    if (search_ != nullptr) {
        return;
    }
    if (!MSComm1->PortOpen()) {
        searchDialog_->showFinished(tr("%1: port not open; open it to search for an instrument.")
                                        .arg(MSComm1->deviceName()));
        return;
    }
    search_ = new InstrumentSearch(*exchange_, SearchPlan(), this);
    connect(search_, &InstrumentSearch::progress, searchDialog_, &SearchDialog::showProgress);
    connect(search_, &InstrumentSearch::finished, this, &Form1::onSearchFinished);
    searchDialog_->showStarted(search_->plannedAttempts());
    search_->start();
}

void Form1::cancelSearch() {
    if (search_ != nullptr) {
        search_->cancel();
    }
}

void Form1::onSearchFinished(const SearchHearing& hearing) {
    search_->deleteLater();
    search_ = nullptr;
    if (searchDialog_) {
        searchDialog_->showFinished(hearing.summary());
    }
    if (hearing.found.empty()) {
        // The line goes back to the rate the rate list shows.
        MSComm1->applyRate(Combo2->currentIndex());
        return;
    }
    const FoundInstrument& instrument = hearing.found.front();
    Combo2->setCurrentIndex(Combo2->findText(QString::number(instrument.baudRate)));
    Combo2_Change();
    Combo1->setCurrentIndex(instrument.address);
    readCycle(ReadTrigger::Button);
}

void Form1::showTrafficLog() {
    if (!trafficLogWindow_) {
        trafficLogWindow_ = new TrafficLogWindow(*trafficLog_, this);
    }
    trafficLogWindow_->show();
    trafficLogWindow_->raise();
    trafficLogWindow_->activateWindow();
}

void Form1::showTrend() {
    if (!trendWindow_) {
        trendWindow_ = new TrendWindow(*trafficLog_, this);
    }
    trendWindow_->show();
    trendWindow_->raise();
    trendWindow_->activateWindow();
}

void Form1::logRefusal(const QString& why) {
    ReadingRecord record;
    record.time = std::chrono::system_clock::now();
    record.device = MSComm1->deviceName().toStdString();
    record.baudRate = MSComm1->baudRate();
    if (Combo1->currentIndex() >= 0) {
        record.address = Combo1->currentIndex();
    }
    record.status = ReadingRecord::Status::NotSent;
    record.problem = why.toStdString();
    trafficLog_->addEntry(trafficLogEntry(record));
}

// The displays keep a value until the next reading; their tooltips say when it came and, when
// its check value was wrong, that it may be corrupted.
void Form1::noteReadingTime(const ReadingRecord& record) {
    const QString time = localTime(record.time).toString(QStringLiteral("HH:mm:ss.zzz"));
    const ReadOutcome& outcome = record.outcome;
    if (outcome.kind != ReadOutcome::Kind::Decoded) {
        Label4->setToolTip(tr("No reply at %1").arg(time));
        return;
    }
    QString tip = tr("Reading of %1").arg(time);
    if (!outcome.checkValueOk) {
        tip += QLatin1Char('\n') + tr("The check value of this reply was wrong: the value may be "
                                      "corrupted.");
    }
    Label4->setToolTip(tip);
    Text1->setToolTip(tip);
}

} // namespace darq
