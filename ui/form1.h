#pragma once

#include "protocol/total_check.h"
#include "serial/exchange_engine.h"
#include "serial/instrument_search.h"
#include "serial/port_error.h"
#include "ui/form1_layout.h"

#include <QPointer>
#include <QString>
#include <QWidget>

#include <optional>

class QMessageBox;

namespace darq {

class SearchDialog;
class TrafficLogModel;
class TrafficLogWindow;
class TrendWindow;
class WindowMenu;

// The tool's one window. Its start-up sequence runs before it is first shown: the rate and
// address lists are filled, automatic reading is off and COM1 is opened at 9600,n,8,2. After that
// everything happens in the handlers below, on the event thread, and nothing in it ever waits:
// a read exchange runs on the port's ExchangeEngine and its record arrives as a signal.
class Form1 : public QWidget, private Form1Layout {
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);
    ~Form1() override;

signals:
    // One read cycle has ended: its outcome is on display, or the read was refused and the
    // operator told why. `failure` is empty when a reading was shown, otherwise one English line
    // saying why none was.
    void readCycleEnded(const QString& failure);

public:
    // Searches the selected port for an instrument of unknown address and rate, beside the
    // window; the search has the line to itself, so automatic reading pauses meanwhile. Once
    // found, the rate and address lists select it and one reading is taken.
    void startSearch();
    // The log of every exchange beside the window; it is kept whether it is shown or not.
    void showTrafficLog();
    // The session's flow and total over time, drawn from the traffic log's rows.
    void showTrend();

private:
    enum class ReadTrigger { Button, Timer };

    void Form1_Load();
    void Command1_Click();
    void Command2_Click();
    void autuTimer2_Timer();
    void Check1_Click();
    void Option1_Click(int index);
    void Combo1_Change(const QString& text);
    void Combo2_Change();

    void keepTabOnSelectedPort();
    void readCycle(ReadTrigger trigger);
    void onExchangeFinished(const ReadingRecord& record, const QObject* requester);
    void showReadOutcome(const ReadingRecord& record);
    void reportRefusedRead(ReadStart reason, ReadTrigger trigger);
    QString refusalLine(ReadStart reason) const;

    void onPortOpenChanged();
    void showPortState();
    void reportOpenFailure(const PortError& error);
    void reportPortLost(const PortError& error);
    void showPortWarning(const QString& text);
    void logRefusal(const QString& why);
    void noteReadingTime(const ReadingRecord& record);

    void cancelSearch();
    void onSearchFinished(const SearchHearing& hearing);

    ExchangeEngine* exchange_ = nullptr;
    // One box for port failures and one for refused reads, each reused while it is up, so that
    // automatic reading on a closed port never stacks dialogs.
    QPointer<QMessageBox> portWarning_;
    QPointer<QMessageBox> readNotice_;
    // The refusal already told to the operator since the port or the address last changed;
    // automatic reading does not tell it again.
    std::optional<ReadStart> toldRefusal_;

    TrafficLogModel* trafficLog_ = nullptr;
    QPointer<TrafficLogWindow> trafficLogWindow_;
    QPointer<TrendWindow> trendWindow_;
    // The totalizer of each address read in this session, so that one going back is told.
    TotalWatch totals_;
    InstrumentSearch* search_ = nullptr; // while a search runs
    QPointer<SearchDialog> searchDialog_;
};

} // namespace darq
