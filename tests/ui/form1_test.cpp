#include "instrument_end.h"
#include "protocol/reply.h"
#include "serial/comm_control.h"
#include "serial/port_assignment.h"
#include "sim_process.h"
#include "ui/form1.h"
#include "ui/traffic_log.h"
#include "ui/translation.h"
#include "ui/trend_window.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QDialog>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFontDatabase>
#include <QGroupBox>
#include <QHash>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QSerialPort>
#include <QSignalSpy>
#include <QTableView>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolTip>

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace darq {
namespace {

using testing::InstrumentEnd;
using testing::SimProcess;

// Generous: on a busy machine a 100 ms exchange may take a good deal longer.
constexpr int kWaitMs = 10000;

const QString kOpenCaption = QStringLiteral("关闭端口");
const QString kClosedCaption = QStringLiteral("打开端口");

// An instrument whose every reply carries exactly these values.
std::vector<std::string> fixedReading(int flow, int flowDecimals, int totalHigh, int totalLow,
                                      int totalDecimals, int address = 1) {
    return {"--address",        std::to_string(address),
            "--flow",           std::to_string(flow),
            "--flow-decimals",  std::to_string(flowDecimals),
            "--total-high",     std::to_string(totalHigh),
            "--total-low",      std::to_string(totalLow),
            "--total-decimals", std::to_string(totalDecimals)};
}

std::vector<std::string> requestsReceived(const SimProcess& sim) {
    std::vector<std::string> requests;
    std::istringstream log(sim.log());
    for (std::string line; std::getline(log, line);) {
        if (line.find(" RX ") != std::string::npos) {
            requests.push_back(line);
        }
    }
    return requests;
}

std::vector<QByteArray> repliesSent(const SimProcess& sim);

bool waitFor(const std::function<bool()>& condition) {
    return QTest::qWaitFor(condition, kWaitMs);
}

class Form1Test : public ::testing::Test {
protected:
    void TearDown() override {
        delete form_;
        qunsetenv("DARQ_COM1");
        qunsetenv("DARQ_COM2");
    }

    Form1& openWindow(const std::string& com1, const std::string& com2 = "/nonexistent/com2") {
        qputenv("DARQ_COM1", QByteArray::fromStdString(com1));
        qputenv("DARQ_COM2", QByteArray::fromStdString(com2));
        form_ = new Form1;
        form_->show();
        return *form_;
    }

    template <typename Control> Control* control(const char* name) const {
        auto* found = form_->findChild<Control*>(QLatin1String(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    // Option1(index) and Label1(index).
    template <typename Control> Control* element(const char* name, int index) const {
        for (Control* candidate : form_->findChildren<Control*>(QLatin1String(name))) {
            if (candidate->property("index").toInt() == index) {
                return candidate;
            }
        }
        ADD_FAILURE() << name << "(" << index << ") missing";
        return nullptr;
    }

    CommControl* port() const { return control<CommControl>("MSComm1"); }
    QString flowShown() const { return control<QLabel>("Label4")->text(); }
    QString totalShown() const { return control<QLineEdit>("Text1")->text(); }
    QString portCaption() const { return control<QPushButton>("Command1")->text(); }

    QList<QMessageBox*> visibleBoxes() const {
        QList<QMessageBox*> visible;
        for (QMessageBox* box : form_->findChildren<QMessageBox*>()) {
            if (box->isVisible()) {
                visible << box;
            }
        }
        return visible;
    }

    bool waitForBox(const QString& textPart) const {
        return waitFor([&] {
            const QList<QMessageBox*> boxes = visibleBoxes();
            return boxes.size() == 1 && boxes.front()->text().contains(textPart);
        });
    }

    // Presses 读取 and waits until the read cycle has shown its outcome or its refusal. The wait
    // runs the event loop as the program does, without QTest's pauses between passes, which
    // would make the bytes of a reply arrive late.
    void readOnce() {
        QSignalSpy ended(form_.data(), &Form1::readCycleEnded);
        QEventLoop loop;
        QObject::connect(form_.data(), &Form1::readCycleEnded, &loop, &QEventLoop::quit);
        QTimer::singleShot(kWaitMs, &loop, &QEventLoop::quit);
        control<QPushButton>("Command2")->click();
        if (ended.isEmpty()) {
            loop.exec();
        }
        ASSERT_EQ(ended.count(), 1);
    }

    static void typeInto(QComboBox* combo, const QString& text) {
        combo->lineEdit()->selectAll();
        QTest::keyClicks(combo->lineEdit(), text);
    }

    QPointer<Form1> form_;
};

TEST_F(Form1Test, StartsWithTheListsFilledAndCom1Open) {
    SimProcess sim;
    openWindow(sim.devicePath());

    auto* rates = control<QComboBox>("Combo2");
    ASSERT_EQ(rates->count(), 4);
    EXPECT_EQ(rates->itemText(0), "1200");
    EXPECT_EQ(rates->itemText(3), "9600");
    EXPECT_EQ(rates->currentText(), "9600");
    auto* addresses = control<QComboBox>("Combo1");
    ASSERT_EQ(addresses->count(), 129);
    EXPECT_EQ(addresses->itemText(0), "0");
    EXPECT_EQ(addresses->itemText(128), "128");
    EXPECT_EQ(addresses->currentIndex(), 1);
    EXPECT_EQ(addresses->currentText(), "1");

    EXPECT_TRUE(port()->PortOpen());
    EXPECT_EQ(port()->CommPort(), 1);
    EXPECT_EQ(port()->Settings(), "9600,n,8,2");
    EXPECT_EQ(portCaption(), kOpenCaption);
    EXPECT_TRUE(element<QRadioButton>("Option1", 0)->isChecked());
    EXPECT_FALSE(element<QRadioButton>("Option1", 1)->isChecked());
    EXPECT_FALSE(control<QCheckBox>("Check1")->isChecked());
    EXPECT_FALSE(control<QTimer>("autuTimer2")->isActive());
    EXPECT_TRUE(control<QPushButton>("Command2")->isEnabled());
    EXPECT_EQ(flowShown(), "");
    EXPECT_EQ(totalShown(), "Text1");
    EXPECT_EQ(form_->windowTitle(), "DARQ流量积算仪通讯测试");
    EXPECT_FALSE(form_->windowIcon().isNull());
    QTest::qWait(200);
    EXPECT_TRUE(visibleBoxes().isEmpty());
}

TEST_F(Form1Test, ReadButtonShowsFlowAndTotalFromTheAddressShown) {
    const struct {
        const char* typedAddress; // empty: the start-up address 1
        std::vector<std::string> instrument;
        QString flow;
        QString total;
    } cases[] = {
        {"", fixedReading(123456, 2, 0, 12345678, 3), "1234.56", "12345.678"},
        {"7", fixedReading(-1, 0, 7, 12345678, 3, 7), "-1", "712345.678"},
        {"128", fixedReading(5, 3, 1, 0, 0, 128), "0.005", "10"},
    };
    for (const auto& example : cases) {
        SCOPED_TRACE(example.flow.toStdString());
        SimProcess sim(example.instrument);
        openWindow(sim.devicePath());
        if (*example.typedAddress) {
            typeInto(control<QComboBox>("Combo1"), QLatin1String(example.typedAddress));
        }
        readOnce();
        EXPECT_EQ(flowShown(), example.flow);
        EXPECT_EQ(totalShown(), example.total);
        EXPECT_EQ(requestsReceived(sim).size(), 1u);
        delete form_;
    }
}

TEST_F(Form1Test, NoReplyShowsNoDataAndKeepsTheTotal) {
    SimProcess sim({"--no-reply", "1"});
    openWindow(sim.devicePath());
    control<QLineEdit>("Text1")->setText(QStringLiteral("99.5"));

    readOnce();

    EXPECT_EQ(flowShown(), QStringLiteral("无数据\u201C"));
    EXPECT_EQ(totalShown(), "99.5");
    EXPECT_EQ(requestsReceived(sim).size(), 1u);
}

TEST_F(Form1Test, AutomaticReadingDisablesTheButtonAndReadsEveryTwoSeconds) {
    SimProcess sim(fixedReading(4321, 2, 0, 5, 1));
    openWindow(sim.devicePath());
    auto* automatic = control<QCheckBox>("Check1");
    auto* readButton = control<QPushButton>("Command2");
    auto* timer = control<QTimer>("autuTimer2");

    automatic->click();
    EXPECT_FALSE(readButton->isEnabled());
    EXPECT_TRUE(timer->isActive());
    EXPECT_EQ(timer->interval(), 2000);
    EXPECT_EQ(flowShown(), ""); // nothing is read at once
    EXPECT_TRUE(requestsReceived(sim).empty());

    EXPECT_TRUE(waitFor([&] { return flowShown() == "43.21"; }));
    EXPECT_EQ(totalShown(), "0.5");
    EXPECT_TRUE(waitFor([&] { return requestsReceived(sim).size() >= 2; }));

    automatic->click();
    EXPECT_TRUE(readButton->isEnabled());
    EXPECT_FALSE(timer->isActive());
}

TEST_F(Form1Test, PortButtonCaptionTellsThePortState) {
    SimProcess sim;
    openWindow(sim.devicePath());
    auto* portButton = control<QPushButton>("Command1");

    portButton->click();
    EXPECT_FALSE(port()->PortOpen());
    EXPECT_EQ(portCaption(), kClosedCaption);

    portButton->click();
    EXPECT_TRUE(port()->PortOpen());
    EXPECT_EQ(portCaption(), kOpenCaption);
}

TEST_F(Form1Test, ReadOnAClosedPortSendsNothingAndTellsItOnce) {
    SimProcess sim;
    openWindow(sim.devicePath());
    control<QPushButton>("Command1")->click();

    readOnce();
    ASSERT_TRUE(waitForBox(QStringLiteral("is not open")));
    EXPECT_EQ(flowShown(), "");

    // Automatic reading meets the same closed port every 2 s: still one box, and once the
    // operator has put it away it stays away until the port changes.
    QSignalSpy cycles(form_.data(), &Form1::readCycleEnded);
    control<QCheckBox>("Check1")->click();
    ASSERT_TRUE(waitFor([&] { return cycles.count() >= 2; }));
    EXPECT_EQ(form_->findChildren<QMessageBox*>().size(), 1);
    visibleBoxes().front()->close();
    ASSERT_TRUE(waitFor([&] { return cycles.count() >= 3; }));
    EXPECT_TRUE(visibleBoxes().isEmpty());
    EXPECT_TRUE(requestsReceived(sim).empty());
}

TEST_F(Form1Test, PortSwitchOpensTheChosenPortAndTheCaptionFollows) {
    const struct {
        const char* name;
        bool closeCom1First;
        bool com2Exists;
    } cases[] = {
        {"from an open COM1", false, true},
        {"from a closed COM1", true, true},
        {"to a missing COM2", false, false},
    };
    for (const auto& example : cases) {
        SCOPED_TRACE(example.name);
        SimProcess com1(fixedReading(111, 2, 0, 1, 0));
        SimProcess com2(fixedReading(222, 2, 0, 2, 0));
        openWindow(com1.devicePath(),
                   example.com2Exists ? com2.devicePath() : std::string("/nonexistent/ttyS1"));
        if (example.closeCom1First) {
            control<QPushButton>("Command1")->click();
            ASSERT_EQ(portCaption(), kClosedCaption);
        }

        element<QRadioButton>("Option1", 1)->click();

        EXPECT_EQ(port()->CommPort(), 2);
        EXPECT_EQ(port()->PortOpen(), example.com2Exists);
        EXPECT_EQ(portCaption(), example.com2Exists ? kOpenCaption : kClosedCaption);
        if (example.com2Exists) {
            readOnce();
            EXPECT_EQ(flowShown(), "2.22");
            element<QRadioButton>("Option1", 0)->click();
            readOnce();
            EXPECT_EQ(flowShown(), "1.11");
            EXPECT_EQ(portCaption(), kOpenCaption);
        } else {
            EXPECT_TRUE(waitForBox(QStringLiteral("/nonexistent/ttyS1")));
        }
        delete form_;
    }
}

TEST_F(Form1Test, RateListSetsTheLineAndReadsStillArrive) {
    SimProcess sim(fixedReading(7, 0, 0, 8, 0));
    openWindow(sim.devicePath());
    auto* rates = control<QComboBox>("Combo2");
    const struct {
        const char* name;
        std::function<void()> operatorAction;
        int position;
        QString settings;
    } cases[] = {
        {"typed 1200", [&] { typeInto(rates, QStringLiteral("1200")); }, 0, "1200,n,8,2"},
        {"typed 2400", [&] { typeInto(rates, QStringLiteral("2400")); }, 1, "2400,n,8,2"},
        {"typed 96, no entry", [&] { typeInto(rates, QStringLiteral("96")); }, -1, "9600,n,8,2"},
        {"typed 4800", [&] { typeInto(rates, QStringLiteral("4800")); }, 2, "4800,n,8,2"},
        {"picked 2400 with the arrow key", [&] { QTest::keyClick(rates, Qt::Key_Up); }, 1,
         "2400,n,8,2"},
    };
    for (const auto& example : cases) {
        SCOPED_TRACE(example.name);
        example.operatorAction();
        EXPECT_EQ(rates->currentIndex(), example.position);
        EXPECT_EQ(port()->Settings(), example.settings);
        EXPECT_TRUE(port()->PortOpen());

        control<QLabel>("Label4")->clear();
        readOnce();
        EXPECT_EQ(flowShown(), "7");
        const std::string lastRequest = requestsReceived(sim).back();
        EXPECT_NE(lastRequest.find(example.settings.section(',', 0, 0).toStdString()),
                  std::string::npos)
            << lastRequest;
    }
}

TEST_F(Form1Test, TypedAddressSelectsOnlyAnExactEntry) {
    const struct {
        const char* typed;
        int position; // -1: nothing selected, nothing sent
    } cases[] = {{"5", 5}, {"0", 0}, {"129", -1}, {"abc", -1}, {"05", -1}};
    for (const auto& example : cases) {
        SCOPED_TRACE(example.typed);
        SimProcess sim(fixedReading(3, 0, 0, 4, 0, example.position < 0 ? 1 : example.position));
        openWindow(sim.devicePath());
        auto* addresses = control<QComboBox>("Combo1");

        typeInto(addresses, QLatin1String(example.typed));
        EXPECT_EQ(addresses->currentIndex(), example.position);
        EXPECT_EQ(addresses->currentText(), QLatin1String(example.typed));

        readOnce();
        if (example.position >= 0) {
            EXPECT_EQ(flowShown(), "3");
        } else {
            EXPECT_TRUE(waitForBox(QStringLiteral("No instrument address is selected")));
            EXPECT_TRUE(requestsReceived(sim).empty());
        }
        delete form_;
    }
}

TEST_F(Form1Test, FailedOpenAtStartUpIsToldAndTheWindowStaysUp) {
    SimProcess sim;
    QSerialPort otherProgram(QString::fromStdString(sim.devicePath()));
    const struct {
        const char* name;
        std::string device;
        bool holdDevice;
        QString told;
        QString title;
    } cases[] = {
        {"missing device", "/nonexistent/ttyS0", false, "/nonexistent/ttyS0", "通讯端口信息"},
        {"device held elsewhere", sim.devicePath(), true, "所选的端口被占用！", "通讯端口信息"},
    };
    for (const auto& example : cases) {
        SCOPED_TRACE(example.name);
        if (example.holdDevice) {
            ASSERT_TRUE(otherProgram.open(QIODevice::ReadWrite));
        }
        openWindow(example.device);

        EXPECT_TRUE(form_->isVisible());
        EXPECT_FALSE(port()->PortOpen());
        EXPECT_EQ(portCaption(), kClosedCaption);
        ASSERT_TRUE(waitForBox(example.told));
        QMessageBox* box = visibleBoxes().front();
        EXPECT_EQ(box->windowTitle(), example.title);
        EXPECT_EQ(box->icon(), QMessageBox::Warning);
        EXPECT_EQ(box->standardButtons(), QMessageBox::Ok);
        delete form_;
    }
}

std::chrono::milliseconds cpuTimeUsed() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) {
        return std::chrono::milliseconds(t.tv_sec * 1000 + t.tv_usec / 1000);
    };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

TEST_F(Form1Test, LostPortIsToldOnceAndReadsAgainOnceTheInstrumentIsBack) {
    QTemporaryDir links;
    const std::string link = links.filePath("COM1").toStdString();
    std::vector<std::string> arguments = fixedReading(4321, 1, 0, 99, 0);
    arguments.insert(arguments.end(), {"--link", link});
    auto sim = std::make_unique<SimProcess>(arguments);
    openWindow(link);
    control<QCheckBox>("Check1")->click();
    sim->kill();

    EXPECT_TRUE(waitFor([&] { return !port()->PortOpen(); }));
    EXPECT_EQ(portCaption(), kClosedCaption);
    EXPECT_TRUE(waitForBox(QString::fromStdString(link)));

    // A dead line must not keep the window busy: a flood of port errors would use the whole
    // two seconds of processor time, an idle window next to none.
    const auto cpuBefore = cpuTimeUsed();
    QSignalSpy cycles(form_.data(), &Form1::readCycleEnded);
    QTest::qWait(2000);
    EXPECT_LT((cpuTimeUsed() - cpuBefore).count(), 1000) << "ms of processor time in 2 s";
    // Automatic reading goes on against the closed port without a second box.
    EXPECT_TRUE(waitFor([&] { return cycles.count() >= 1; }));
    EXPECT_EQ(visibleBoxes().size(), 1);

    sim.reset();
    sim = std::make_unique<SimProcess>(arguments);
    control<QPushButton>("Command1")->click();
    EXPECT_EQ(portCaption(), kOpenCaption);
    EXPECT_TRUE(waitFor([&] { return flowShown() == "432.1" && totalShown() == "99"; }));
}

TEST_F(Form1Test, SecondReadWhileOneWaitsGoesOutAfterItNeverAcrossIt) {
    SimProcess sim(fixedReading(1, 0, 0, 2, 0));
    openWindow(sim.devicePath());
    QSignalSpy ended(form_.data(), &Form1::readCycleEnded);
    auto* readButton = control<QPushButton>("Command2");

    readButton->click();
    ASSERT_TRUE(waitFor([&] { return requestsReceived(sim).size() == 1; }));
    readButton->click();

    ASSERT_TRUE(waitFor([&] { return ended.count() == 2; }));
    EXPECT_EQ(flowShown(), "1");
    // Each request went out after the reply to the one before it.
    EXPECT_EQ(repliesSent(sim).size(), 2u) << sim.log();
    EXPECT_TRUE(visibleBoxes().isEmpty());
}

TEST_F(Form1Test, ClosingTheWindowWhileAReadWaitsEndsCleanly) {
    SimProcess sim;
    openWindow(sim.devicePath());
    form_->setAttribute(Qt::WA_DeleteOnClose);

    control<QPushButton>("Command2")->click();
    ASSERT_TRUE(waitFor([&] { return requestsReceived(sim).size() == 1; }));
    form_->close();

    ASSERT_TRUE(waitFor([&] { return form_.isNull(); }));
    // Past the settle time and the reply: nothing may reach the window any more.
    QTest::qWait(1000);
    EXPECT_TRUE(sim.isRunning());
    EXPECT_EQ(requestsReceived(sim).size(), 1u);
}

TEST_F(Form1Test, ControlsSitWhereTheLayoutPutsThem) {
    SimProcess sim;
    openWindow(sim.devicePath());
    // The menu bar is the frame's, above the client area; the client area keeps its size.
    auto* client = control<QWidget>("clientArea");
    auto* menuBar = control<QMenuBar>("menuBar");
    EXPECT_EQ(client->size(), QSize(448, 498));
    EXPECT_GT(menuBar->height(), 0);
    EXPECT_EQ(client->mapTo(form_.data(), QPoint(0, 0)), QPoint(0, menuBar->height()));
    EXPECT_EQ(form_->size(), QSize(448, menuBar->height() + 498));
    EXPECT_EQ(form_->minimumSize(), form_->maximumSize());
    const Qt::WindowFlags flags = form_->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint));

    const struct {
        QWidget* control;
        const char* container;
        QRect twips; // left, top, width, height
    } places[] = {
        {control<QGroupBox>("Frame3"), "clientArea", {120, 240, 6255, 4215}},
        {control<QLabel>("Label4"), "Frame3", {1920, 600, 3975, 1215}},
        {control<QCheckBox>("Check1"), "Frame3", {600, 3480, 1575, 255}},
        {control<QGroupBox>("Frame1"), "Frame2", {240, 480, 3615, 735}},
        {element<QRadioButton>("Option1", 1), "Frame1", {2280, 360, 735, 255}},
        {element<QLabel>("Label1", 0), "Frame2", {360, 1440, 1215, 255}},
        {control<QComboBox>("Combo1"), "Frame2", {2160, 1800, 1575, 300}},
    };
    for (const auto& place : places) {
        SCOPED_TRACE(place.control->objectName().toStdString());
        EXPECT_EQ(place.control->parentWidget()->objectName(), place.container);
        const QRect& t = place.twips;
        EXPECT_EQ(place.control->geometry(),
                  QRect(t.x() / 15, t.y() / 15, t.width() / 15, t.height() / 15));
    }

    // &H00BBGGRR&: a swapped byte order would turn the red digits blue.
    const struct {
        QWidget* control;
        QPalette::ColorRole role;
        QColor colour;
    } colours[] = {
        {control<QLabel>("Label4"), QPalette::WindowText, QColor(255, 0, 0)},
        {control<QLabel>("Label4"), QPalette::Window, QColor(192, 192, 255)},
        {control<QLineEdit>("Text1"), QPalette::Base, QColor(192, 192, 255)},
        {client, QPalette::Window, QColor(224, 224, 224)},
    };
    for (const auto& expected : colours) {
        SCOPED_TRACE(expected.control->objectName().toStdString());
        EXPECT_EQ(expected.control->palette().color(expected.role), expected.colour);
    }
    EXPECT_NE(control<QLabel>("Label3")->palette().color(QPalette::WindowText), QColor(255, 0, 0));

    auto* flow = control<QLabel>("Label4");
    EXPECT_EQ(flow->font().pixelSize(), 80); // 60 pt at 96 dpi
    EXPECT_TRUE(flow->alignment() & Qt::AlignRight);
    EXPECT_NE(flow->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(control<QLineEdit>("Text1")->font().pixelSize(), 64);
    EXPECT_FALSE(control<QLineEdit>("Text1")->isReadOnly());
    EXPECT_TRUE(QFontDatabase::writingSystems(flow->font().family())
                    .contains(QFontDatabase::SimplifiedChinese));
}

QImage flowDisplayShowing(QLabel* flow, const QString& text) {
    flow->setText(text);
    return flow->grab().toImage();
}

// A text wider than the flow display must not lose its first character: 8888.88 shown as
// "888.88" would be another number, and "无数据“" shown as "数据“" would say the opposite.
TEST_F(Form1Test, FlowDisplayShowsTheFirstCharacterOfALongText) {
    SimProcess sim;
    openWindow(sim.devicePath());
    auto* flow = control<QLabel>("Label4");
    for (const QString& text :
         {QStringLiteral("8888.88"), QStringLiteral("无数据\u201C"), QStringLiteral("-12345678")}) {
        SCOPED_TRACE(text.toStdString());
        EXPECT_NE(flowDisplayShowing(flow, text), flowDisplayShowing(flow, text.mid(1)));
        EXPECT_EQ(flow->font().pixelSize(), 80);
    }
}

// The dark palette that dark desktop themes commonly give Qt's Fusion style.
QPalette darkDesktopPalette() {
    const QColor face(53, 53, 53);
    const QColor field(35, 35, 35);
    QPalette palette(Qt::white, face, face.lighter(150), face.darker(150), face.darker(120),
                     Qt::white, Qt::red, field, face);
    palette.setColor(QPalette::Highlight, QColor(42, 130, 218));
    palette.setColor(QPalette::HighlightedText, Qt::black);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, QColor(127, 127, 127));
    }
    return palette;
}

double relativeLuminance(const QColor& colour) {
    const auto linear = [](int channel) {
        const double value = channel / 255.0;
        return value <= 0.04045 ? value / 12.92 : std::pow((value + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.red()) + 0.7152 * linear(colour.green()) +
           0.0722 * linear(colour.blue());
}

// WCAG 2: 1 for equal colours up to 21 for black on white.
double contrastRatio(const QColor& first, const QColor& second) {
    const double one = relativeLuminance(first);
    const double other = relativeLuminance(second);
    return (std::max(one, other) + 0.05) / (std::min(one, other) + 0.05);
}

bool drawsText(const QWidget* control) {
    return qobject_cast<const QLabel*>(control) || qobject_cast<const QLineEdit*>(control) ||
           qobject_cast<const QAbstractButton*>(control) || qobject_cast<const QGroupBox*>(control);
}

struct TextOnScreen {
    QColor text;
    QColor background;
};

// A control's text as its window really shows it. The pixels that change when the text is
// blanked out are the text's; behind them lies the colour most of them show without it, and the
// text's own colour is the one that stands out most from that, where a stroke covers a whole pixel.
std::optional<TextOnScreen> textOnScreen(QWidget* control) {
    const char* property = qobject_cast<QGroupBox*>(control) ? "title" : "text";
    const QString text = control->property(property).toString();
    if (text.trimmed().isEmpty()) {
        return std::nullopt;
    }
    QWidget* window = control->window();
    const QRect area(control->mapTo(window, QPoint(0, 0)), control->size());
    const QImage shown = window->grab(area).toImage();
    // Blanks of the same length keep a group box's frame where its caption puts it.
    control->setProperty(property, QString(text.size(), QChar::Space));
    const QImage blank = window->grab(area).toImage();
    control->setProperty(property, text);

    QHash<QRgb, int> behind;
    QList<QPoint> strokes;
    for (int y = 0; y < shown.height(); ++y) {
        for (int x = 0; x < shown.width(); ++x) {
            if (shown.pixel(x, y) != blank.pixel(x, y)) {
                ++behind[blank.pixel(x, y)];
                strokes << QPoint(x, y);
            }
        }
    }
    if (strokes.isEmpty()) {
        return std::nullopt;
    }
    TextOnScreen seen;
    seen.background =
        QColor(std::max_element(behind.keyValueBegin(), behind.keyValueEnd(),
                                [](const auto& a, const auto& b) { return a.second < b.second; })
                   ->first);
    seen.text = seen.background;
    for (const QPoint& stroke : strokes) {
        const QColor colour(shown.pixel(stroke));
        if (contrastRatio(colour, seen.background) > contrastRatio(seen.text, seen.background)) {
            seen.text = colour;
        }
    }
    return seen;
}

// Where the layout fixes a background but leaves the text's colour to the desktop, a dark desktop
// must not put light text on it: the total in its lavender box once came out white on lavender.
// Every text in the window and in its message boxes is looked at; those that sit on one of the
// layout's own backgrounds must reach WCAG's 4.5:1.
TEST_F(Form1Test, TextOnTheLayoutsOwnBackgroundsStaysReadableOnADarkDesktop) {
    const QPalette desktop = QApplication::palette();
    QApplication::setPalette(darkDesktopPalette());
    const auto restoreDesktop = qScopeGuard([&desktop] { QApplication::setPalette(desktop); });
    SimProcess sim(fixedReading(123456, 2, 0, 12345678, 3));
    openWindow(sim.devicePath());
    readOnce();
    ASSERT_EQ(totalShown(), "12345.678");
    control<QPushButton>("Command1")->click();
    readOnce();
    ASSERT_TRUE(waitForBox(QStringLiteral("is not open")));

    // The lavender of the two displays and the window's grey; none of the dark desktop's colours.
    const QList<QColor> fixedBackgrounds = {QColor(192, 192, 255), QColor(224, 224, 224)};
    QList<QWidget*> windows = {form_.data()};
    for (QMessageBox* box : visibleBoxes()) {
        windows << box;
    }
    QStringList onFixedBackgrounds;
    for (QWidget* window : windows) {
        for (QWidget* part : window->findChildren<QWidget*>()) {
            if (part->window() != window || !part->isVisible() || !drawsText(part)) {
                continue;
            }
            const std::optional<TextOnScreen> seen = textOnScreen(part);
            // Label4's red on lavender: the layout fixes both of them.
            if (!seen || !fixedBackgrounds.contains(seen->background) ||
                part->objectName() == "Label4") {
                continue;
            }
            onFixedBackgrounds << part->objectName();
            EXPECT_GE(contrastRatio(seen->text, seen->background), 4.5)
                << part->objectName().toStdString() << ": text " << seen->text.name().toStdString()
                << " on " << seen->background.name().toStdString();
        }
    }
    EXPECT_TRUE(onFixedBackgrounds.contains("Text1"))
        << onFixedBackgrounds.join(", ").toStdString();
}

// The caption 流量显示 is red on the desktop's menu colour, which is light grey on a light desktop
// and dark grey on a dark one; pure red reaches 4.5:1 on neither.
TEST_F(Form1Test, FlowCaptionStaysRedAndReadableOnLightAndDarkDesktops) {
    const QPalette desktop = QApplication::palette();
    const auto restoreDesktop = qScopeGuard([&desktop] { QApplication::setPalette(desktop); });
    SimProcess sim;
    const struct {
        const char* name;
        QPalette palette;
    } desktops[] = {{"light", desktop}, {"dark", darkDesktopPalette()}};
    for (const auto& example : desktops) {
        SCOPED_TRACE(example.name);
        QApplication::setPalette(example.palette);
        openWindow(sim.devicePath());
        const std::optional<TextOnScreen> seen = textOnScreen(control<QGroupBox>("Frame3"));
        ASSERT_TRUE(seen.has_value());
        EXPECT_GE(contrastRatio(seen->text, seen->background), 4.5)
            << seen->text.name().toStdString() << " on " << seen->background.name().toStdString();
        EXPECT_EQ(seen->text.hslHue(), 0) << seen->text.name().toStdString();
        EXPECT_GT(seen->text.hslSaturation(), 200) << seen->text.name().toStdString();
        delete form_;
    }
}

TEST_F(Form1Test, SearchFindsTheInstrumentBehindAnEchoAndSelectsItsRateAndAddress) {
    // Answering at once: a paced reply on a busy machine could miss an attempt's budget.
    std::vector<std::string> instrument = fixedReading(98765, 3, 0, 4321, 1, 7);
    instrument.insert(instrument.end(), {"--rate", "4800", "--echo", "1", "--no-pacing"});
    SimProcess sim(instrument);
    openWindow(sim.devicePath());
    control<QCheckBox>("Check1")->click();

    form_->startSearch();
    ASSERT_TRUE(QTest::qWaitFor([&] { return flowShown() == "98.765"; }, 60000)) << sim.log();
    EXPECT_EQ(control<QComboBox>("Combo2")->currentText(), "4800");
    EXPECT_EQ(port()->Settings(), "4800,n,8,2");
    EXPECT_EQ(control<QComboBox>("Combo1")->currentText(), "7");
    EXPECT_EQ(totalShown(), "432.1");
    auto* dialog = form_->findChild<QDialog*>("searchDialog");
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->findChild<QLabel*>()->text().contains("address 7 at 4800 Bd"));
    EXPECT_TRUE(control<QTimer>("autuTimer2")->isActive()) << "automatic reading did not resume";

    // Switching the port stops a search under way, and the line returns to the listed rate.
    const std::size_t requestsBefore = requestsReceived(sim).size();
    form_->startSearch();
    ASSERT_TRUE(waitFor([&] { return requestsReceived(sim).size() >= requestsBefore + 3; }));
    element<QRadioButton>("Option1", 1)->click();
    ASSERT_TRUE(waitFor([&] { return dialog->findChild<QLabel*>()->text().contains("stopped"); }));
    EXPECT_EQ(port()->Settings(), "4800,n,8,2");
}

// The bytes darq-sim put on the line for each answered request, in order.
std::vector<QByteArray> repliesSent(const SimProcess& sim) {
    std::vector<QByteArray> replies;
    std::istringstream log(sim.log());
    for (std::string line; std::getline(log, line);) {
        const std::size_t tx = line.find(" TX ");
        if (tx != std::string::npos) {
            const std::string bytes = line.substr(tx + 4, line.find(" |") - tx - 4);
            replies.push_back(bytes == "(none)" ? QByteArray() : QByteArray::fromStdString(bytes));
        }
    }
    return replies;
}

TEST_F(Form1Test, SearchTakesNoReplyFromAnotherAddressForThisOne) {
    // One instrument at address 5 that answers every request, whatever address it asked for.
    InstrumentEnd line;
    line.onRequest([&line](const Bytes&) { line.send(encodeReply(5, {98765, 3, 0, 4321, 1})); });
    openWindow(line.devicePath().toStdString());

    form_->startSearch();
    ASSERT_TRUE(QTest::qWaitFor([&] { return flowShown() == "98.765"; }, 60000));
    EXPECT_EQ(control<QComboBox>("Combo1")->currentText(), "5");
    auto* dialog = form_->findChild<QDialog*>("searchDialog");
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->findChild<QLabel*>()->text().contains("address 5 at 9600 Bd"));
}

TEST_F(Form1Test, AfterASearchAutomaticReadingIsWhatTheBoxSays) {
    std::vector<std::string> silent = fixedReading(1, 0, 0, 2, 0);
    silent.insert(silent.end(), {"--no-reply", "1"});
    SimProcess sim(silent);
    openWindow(sim.devicePath());
    auto* automatic = control<QCheckBox>("Check1");
    automatic->click();
    form_->startSearch();
    ASSERT_TRUE(waitFor([&] { return requestsReceived(sim).size() >= 3; }));
    automatic->click();
    auto* dialog = form_->findChild<QDialog*>("searchDialog");
    ASSERT_NE(dialog, nullptr);
    dialog->reject();
    ASSERT_TRUE(waitFor([&] { return dialog->findChild<QLabel*>()->text().contains("cancel"); }));

    const std::size_t requestsAfterSearch = requestsReceived(sim).size();
    QTest::qWait(2600);
    EXPECT_EQ(requestsReceived(sim).size(), requestsAfterSearch) << sim.log();
    EXPECT_TRUE(control<QPushButton>("Command2")->isEnabled());
    EXPECT_FALSE(control<QTimer>("autuTimer2")->isActive());
}

// darq-read's latency_ms for the same exchange: end of the send to the reply's last byte.
std::vector<double> darqReadLatencies(const std::string& device, int reads) {
    QProcess process;
    process.start(QStringLiteral(DARQ_READ_PATH),
                  {"--port", QString::fromStdString(device), "--count", QString::number(reads),
                   "--interval", "150", "--timeout", "1000", "--format", "csv"});
    std::vector<double> latencies;
    if (!process.waitForFinished(30000)) {
        process.kill();
        return latencies;
    }
    const QList<QByteArray> lines = process.readAllStandardOutput().trimmed().split('\n');
    for (qsizetype i = 1; i < lines.size(); ++i) {
        latencies.push_back(lines[i].split(',').value(7).toDouble());
    }
    return latencies;
}

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? -1 : values[values.size() / 2];
}

TEST_F(Form1Test, TrafficLogLatencyMeansWhatDarqReadsDoes) {
    constexpr int kReads = 7;
    SimProcess sim(fixedReading(98765, 3, 0, 4321, 1));
    openWindow(sim.devicePath());
    for (int read = 0; read < kReads; ++read) {
        readOnce();
    }
    std::vector<double> window;
    for (const TrafficLogEntry& entry : form_->findChild<TrafficLogModel*>()->entries()) {
        window.push_back(entry.record.latencyMs.value_or(-1));
    }
    control<QPushButton>("Command1")->click();
    const std::vector<double> command = darqReadLatencies(sim.devicePath(), kReads);
    ASSERT_EQ(window.size(), std::size_t(kReads));
    ASSERT_EQ(command.size(), std::size_t(kReads));
    // About 34 ms at 9600 Bd, where the window waits its 100 ms settle time. The two runs come one
    // after the other, so a busy machine may delay the instrument's replies in one and not the
    // other: the margin tells the meanings apart, not the machine's moods.
    EXPECT_NEAR(median(window), median(command), 15.0);
}

// A totalizer reset between two reads: the log tells it in bold on that row, and the trend marks
// it.
TEST_F(Form1Test, ATotalThatWentBackIsToldInTheLogAndMarkedOnTheTrend) {
    const std::vector<std::int32_t> totals = {2000, 3000, 500};
    std::size_t answered = 0;
    InstrumentEnd line;
    line.onRequest([&](const Bytes&) {
        line.send(encodeReply(1, {1250, 2, 0, totals[std::min(answered++, totals.size() - 1)], 3}));
    });
    openWindow(line.devicePath().toStdString());
    form_->showTrend();
    for (std::size_t read = 0; read < totals.size(); ++read) {
        readOnce();
    }
    const auto* log = form_->findChild<TrafficLogModel*>();
    ASSERT_EQ(log->rowCount(), 3);
    for (int row = 0; row < 3; ++row) {
        SCOPED_TRACE(row);
        const QModelIndex explanation = log->index(row, TrafficLogModel::ExplanationColumn);
        EXPECT_EQ(explanation.data().toString(),
                  row == 2 ? "the total went back from 3.000 to 0.500: the instrument was reset, "
                             "or another instrument answered"
                           : "");
        EXPECT_EQ(explanation.data(Qt::FontRole).value<QFont>().bold(), row == 2);
    }
    auto* trend = form_->findChild<TrendWindow*>();
    ASSERT_NE(trend, nullptr);
    EXPECT_TRUE(waitFor([&] { return trend->pointCount(1) == 3; }));
    EXPECT_EQ(trend->totalBackMarkCount(), 1);
}

TEST_F(Form1Test, ReadsThroughADeviceServerAssignedToCom1) {
    std::vector<std::string> instrument = fixedReading(98765, 3, 0, 4321, 1);
    instrument.insert(instrument.end(), {"--listen", "127.0.0.1:0"});
    SimProcess server(instrument);
    ASSERT_TRUE(assignDevice(1, QString::fromStdString(server.devicePath())));
    const auto forget = qScopeGuard([] { assignDevice(1, QString()); });
    form_ = new Form1;
    form_->show();
    // The connection opens in the background; the window stays usable meanwhile.
    ASSERT_TRUE(waitFor([&] { return port()->PortOpen(); }));
    EXPECT_EQ(portCaption(), kOpenCaption);
    readOnce();
    EXPECT_EQ(flowShown(), "98.765");
    EXPECT_EQ(totalShown(), "432.1");
}

TEST_F(Form1Test, TrafficLogShowsEveryExchangeAsItWasOnTheLineAndSavesIt) {
    std::vector<std::string> instrument = fixedReading(98765, 3, 0, 4321, 1);
    instrument.insert(instrument.end(), {"--seed", "11", "--bad-crc", "0.3", "--no-reply", "0.3",
                                         "--short-reply", "0.2", "--echo", "0.3", "--no-pacing"});
    SimProcess sim(instrument);
    openWindow(sim.devicePath());
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.data()));
    QTest::keyClick(form_.data(), Qt::Key_F12);
    auto* logWindow = form_->findChild<QWidget*>("trafficLogWindow");
    ASSERT_NE(logWindow, nullptr);
    EXPECT_TRUE(logWindow->isVisible());

    constexpr int kReads = 12;
    for (int read = 0; read < kReads; ++read) {
        readOnce();
    }
    control<QPushButton>("Command1")->click();
    readOnce();

    const QAbstractItemModel* rows = logWindow->findChild<QTableView*>("trafficTable")->model();
    ASSERT_EQ(rows->rowCount(), kReads + 1);
    const std::vector<QByteArray> replies = repliesSent(sim);
    ASSERT_EQ(replies.size(), std::size_t(kReads)) << sim.log();
    int wrongCheckValues = 0;
    for (int row = 0; row < kReads; ++row) {
        SCOPED_TRACE(row);
        const auto cell = [&](int column) { return rows->index(row, column).data().toString(); };
        EXPECT_EQ(cell(TrafficLogModel::SentColumn), "01 03 01 03 00 03 F4 37");
        EXPECT_EQ(cell(TrafficLogModel::ReceivedColumn).toLatin1(), replies[std::size_t(row)]);
        wrongCheckValues += cell(TrafficLogModel::CheckValueColumn) == "wrong" ? 1 : 0;
    }
    EXPECT_EQ(rows->index(kReads, TrafficLogModel::SentColumn).data().toString(), "nothing sent");
    const QString counters = logWindow->findChild<QLabel*>("trafficCounters")->text();
    EXPECT_TRUE(counters.startsWith(QStringLiteral("Reads %1").arg(kReads)))
        << counters.toStdString();
    EXPECT_TRUE(counters.contains(QStringLiteral("wrong check value %1").arg(wrongCheckValues)))
        << counters.toStdString();
    EXPECT_TRUE(
        control<QLabel>("Label4")->toolTip().contains(QRegularExpression("\\d\\d:\\d\\d:")));

    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString path = directory.filePath("log.csv");
    logWindow->findChild<QPushButton*>("saveTrafficLog")->click();
    auto* dialog = logWindow->findChild<QFileDialog*>();
    ASSERT_NE(dialog, nullptr);
    dialog->selectFile(path);
    static_cast<QDialog*>(dialog)->accept();
    QFile saved(path);
    ASSERT_TRUE(waitFor([&] { return saved.exists(); }));
    ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
    const QList<QByteArray> lines = saved.readAll().trimmed().split('\n');
    ASSERT_EQ(lines.size(), kReads + 2);
    EXPECT_TRUE(lines[0].startsWith("time,address,outcome,flow,total,bytes,crc,latency_ms,baud"));
}

// What a screen reader says a control is. On Linux, Qt names a list by the caption whose buddy it
// is, and gives the list itself the text in its field as its name.
QString spokenName(QWidget* control) {
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(control);
    const auto labels = accessible->relations(QAccessible::Label);
    if (accessible->role() == QAccessible::ComboBox && !labels.isEmpty()) {
        return labels.front().first->text(QAccessible::Name);
    }
    return accessible->text(QAccessible::Name);
}

QString accessibleValue(QWidget* control) {
    return QAccessible::queryAccessibleInterface(control)->text(QAccessible::Value);
}

TEST_F(Form1Test, AssistiveTechnologyHearsWhatEachControlIsAndTheReadingShown) {
    SimProcess sim(fixedReading(123456, 2, 0, 12345678, 3));
    openWindow(sim.devicePath());
    const struct {
        QWidget* control;
        QAccessible::Role role;
        const char* name;
    } controls[] = {
        {control<QGroupBox>("Frame3"), QAccessible::Grouping, "Flow display"},
        {control<QLabel>("Label3"), QAccessible::StaticText, "Instantaneous flow"},
        {control<QLabel>("Label4"), QAccessible::StaticText, "Instantaneous flow"},
        {control<QLabel>("Label2"), QAccessible::StaticText, "Accumulated flow"},
        {control<QLineEdit>("Text1"), QAccessible::EditableText, "Accumulated flow"},
        {control<QPushButton>("Command2"), QAccessible::Button, "Read"},
        {control<QCheckBox>("Check1"), QAccessible::CheckBox, "Automatic reading"},
        {control<QGroupBox>("Frame2"), QAccessible::Grouping, "Serial port settings"},
        {control<QGroupBox>("Frame1"), QAccessible::Grouping, "Serial port"},
        {element<QRadioButton>("Option1", 0), QAccessible::RadioButton, "COM1"},
        {element<QRadioButton>("Option1", 1), QAccessible::RadioButton, "COM2"},
        {control<QPushButton>("Command1"), QAccessible::Button, "Close port"},
        {element<QLabel>("Label1", 0), QAccessible::StaticText, "Baud rate"},
        {element<QLabel>("Label1", 1), QAccessible::StaticText, "Instrument address"},
        {control<QComboBox>("Combo2"), QAccessible::ComboBox, "Baud rate"},
        {control<QComboBox>("Combo1"), QAccessible::ComboBox, "Instrument address"},
    };
    for (const auto& expected : controls) {
        SCOPED_TRACE(expected.name);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(expected.control);
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->role(), expected.role);
        EXPECT_EQ(spokenName(expected.control), expected.name);
        // The tooltip says what the control does, and is its description too.
        EXPECT_FALSE(expected.control->toolTip().isEmpty());
        EXPECT_FALSE(accessible->text(QAccessible::Description).isEmpty());
    }
    EXPECT_EQ(accessibleValue(control<QComboBox>("Combo2")), "9600");

    readOnce();
    EXPECT_EQ(accessibleValue(control<QLabel>("Label4")), "1234.56");
    EXPECT_EQ(accessibleValue(control<QLineEdit>("Text1")), "12345.678");
    control<QPushButton>("Command1")->click();
    EXPECT_EQ(spokenName(control<QPushButton>("Command1")), "Open port");
}

TEST_F(Form1Test, UnderAChineseLocaleTheAddedTextsAreChineseAndUnderAnyOtherEnglish) {
    const struct {
        const char* locale;
        QString openFailure;
        QString findAction;
        QString deviceMenu;
        QString rateListName;
    } cases[] = {
        {"zh_CN", "无法打开端口。\n/nonexistent/com1: 未找到 (没有这个设备)", "搜索仪表…",
         "设备(&D)", "通讯波特率"},
        {"de_DE", "The port cannot be opened.\n/nonexistent/com1: not found (no such device)",
         "Find instrument…", "&Device", "Baud rate"},
    };
    for (const auto& row : cases) {
        SCOPED_TRACE(row.locale);
        const auto translations = installTranslations(QLocale(QString::fromLatin1(row.locale)));
        openWindow("/nonexistent/com1");
        ASSERT_TRUE(waitForBox(row.openFailure));
        EXPECT_EQ(visibleBoxes().front()->windowTitle(), "通讯端口信息");
        QStringList actions;
        for (const QAction* action : form_->findChildren<QAction*>()) {
            actions << action->text();
        }
        EXPECT_TRUE(actions.contains(row.findAction)) << actions.join(", ").toStdString();
        EXPECT_TRUE(actions.contains(row.deviceMenu)) << actions.join(", ").toStdString();
        EXPECT_EQ(spokenName(control<QComboBox>("Combo2")), row.rateListName);
        // The captions the layout fixes are Chinese whatever the locale.
        EXPECT_EQ(control<QPushButton>("Command2")->text(), "读取");
        delete form_;
    }
}

QString focusName() {
    QWidget* focus = QApplication::focusWidget();
    if (focus == nullptr) {
        return QStringLiteral("(none)");
    }
    // A list's typing field stands for the list.
    if (qobject_cast<QComboBox*>(focus->parentWidget())) {
        focus = focus->parentWidget();
    }
    const QVariant index = focus->property("index");
    return focus->objectName() + (index.isValid() ? index.toString() : QString());
}

TEST_F(Form1Test, TabStartsOnTheSelectedPortAndVisitsTheControlsInTheirOrder) {
    SimProcess sim;
    InstrumentEnd com2;
    openWindow(sim.devicePath(), com2.devicePath().toStdString());
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.data()));

    // From the window's own first focus: a Space there must not switch ports.
    for (const int selected : {0, 1}) {
        SCOPED_TRACE(selected);
        if (selected == 1) {
            element<QRadioButton>("Option1", 1)->click();
            control<QLineEdit>("Text1")->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        }
        const QString option = QStringLiteral("Option1%1").arg(selected);
        EXPECT_EQ(focusName(), option);
        QStringList visited;
        for (int step = 0; step < 7; ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << focusName();
        }
        EXPECT_EQ(visited, QStringList({"Command1", "Command2", "Check1", "Combo1", "Combo2",
                                        "Text1", option}));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
        EXPECT_TRUE(element<QRadioButton>("Option1", selected)->isChecked());
        EXPECT_EQ(port()->CommPort(), selected + 1);
    }
}

TEST_F(Form1Test, ARequestThePortDoesNotTakeIsToldAsNotSent) {
    InstrumentEnd line;
    openWindow(line.devicePath().toStdString());
    ASSERT_TRUE(port()->PortOpen());
    line.jamToolOutput();

    QSignalSpy ended(form_.data(), &Form1::readCycleEnded);
    control<QPushButton>("Command2")->click();
    ASSERT_TRUE(waitFor([&] { return ended.count() > 0; }));
    EXPECT_EQ(ended.count(), 1);
    EXPECT_FALSE(ended.at(0).at(0).toString().isEmpty());
    ASSERT_TRUE(waitForBox(QStringLiteral("The read request was not sent")));
    EXPECT_TRUE(visibleBoxes().front()->text().contains(line.devicePath()));
    EXPECT_EQ(flowShown(), "");
    EXPECT_TRUE(port()->PortOpen());
}

void rightClick(QWidget* control) {
    const QPoint inside(3, 3);
    QContextMenuEvent click(QContextMenuEvent::Mouse, inside, control->mapToGlobal(inside));
    QApplication::sendEvent(control, &click);
}

QAction* menuEntry(const QMenu* menu, const QString& text) {
    for (QAction* entry : menu->actions()) {
        if (entry->text() == text) {
            return entry;
        }
    }
    ADD_FAILURE() << text.toStdString() << " missing from the menu";
    return nullptr;
}

void pressKeys(const QKeySequence& keys) {
    QTest::keySequence(QApplication::focusWidget(), keys);
}

// Shift+F10 and the Menu key open the menu a right-click on the control with the focus opens.
TEST_F(Form1Test, RightClickOrMenuKeyOpensTheWindowMenuWhereNoControlHasOneOfItsOwn) {
    SimProcess sim;
    openWindow(sim.devicePath());
    form_->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form_.data()));
    auto* menu = control<QMenu>("windowMenu");
    const QKeySequence shiftF10(Qt::SHIFT | Qt::Key_F10);
    const QKeySequence menuKey(Qt::Key_Menu);
    const struct {
        QWidget* control;
        std::optional<QKeySequence> keys; // none: a right-click
        bool opensWindowMenu;
    } cases[] = {
        {control<QGroupBox>("Frame2"), std::nullopt, true}, // 串口选择
        {control<QGroupBox>("Frame1"), std::nullopt, true}, // 端口选择
        {element<QRadioButton>("Option1", 1), std::nullopt, true},
        {element<QLabel>("Label1", 0), std::nullopt, true},
        {control<QLabel>("Label4"), std::nullopt, true},
        {control<QLineEdit>("Text1"), std::nullopt, false}, // its own edit menu
        {control<QPushButton>("Command2"), shiftF10, true},
        {control<QCheckBox>("Check1"), menuKey, true},
        {control<QLineEdit>("Text1"), shiftF10, false},
        {control<QComboBox>("Combo1"), menuKey, false},
    };
    for (const auto& example : cases) {
        SCOPED_TRACE(example.control->objectName().toStdString() +
                     (example.keys ? " " + example.keys->toString().toStdString() : ""));
        if (example.keys) {
            example.control->setFocus();
            pressKeys(*example.keys);
        } else {
            rightClick(example.control);
        }
        EXPECT_EQ(menu->isVisible(), example.opensWindowMenu);
        QWidget* popup = QApplication::activePopupWidget();
        EXPECT_NE(popup, nullptr);
        if (popup != nullptr) {
            popup->close();
        }
    }
}

QString entriesOf(const QMenu* menu) {
    QStringList entries;
    for (const QAction* entry : menu->actions()) {
        if (!entry->isSeparator()) {
            entries << (entry->text() + QLatin1Char(' ') + entry->shortcut().toString()).trimmed();
        }
    }
    return entries.join(QStringLiteral(", "));
}

TEST_F(Form1Test, MenuBarHoldsTheWindowsCommandsWithTheirKeys) {
    SimProcess sim;
    openWindow(sim.devicePath());
    auto* menuBar = control<QMenuBar>("menuBar");
    QStringList menus;
    QList<QAction*> barActions;
    for (const QAction* title : menuBar->actions()) {
        menus << title->text() + QStringLiteral(": ") + entriesOf(title->menu());
        barActions << title->menu()->actions();
    }
    EXPECT_EQ(menus,
              QStringList({"&Device: Find instrument… Ctrl+F, COM1 device, COM2 device",
                           "&View: Traffic log F12, Trend Ctrl+T", "&Help: About darq-flowtest"}));
    // The right-click menu offers the same actions, not copies of them.
    auto* contextMenu = control<QMenu>("windowMenu");
    EXPECT_EQ(entriesOf(contextMenu),
              "COM1 device, COM2 device, Find instrument… Ctrl+F, Traffic log F12, Trend Ctrl+T");
    for (QAction* entry : contextMenu->actions()) {
        EXPECT_TRUE(entry->isSeparator() || barActions.contains(entry))
            << entry->text().toStdString();
    }

    const struct {
        QKeySequence keys;
        const char* opens;
    } keys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_F), "searchDialog"},
        {QKeySequence(Qt::Key_F12), "trafficLogWindow"},
        {QKeySequence(Qt::CTRL | Qt::Key_T), "trendWindow"},
    };
    for (const auto& key : keys) {
        SCOPED_TRACE(key.opens);
        form_->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form_.data()));
        pressKeys(key.keys);
        auto* opened = form_->findChild<QWidget*>(QLatin1String(key.opens));
        ASSERT_NE(opened, nullptr);
        EXPECT_TRUE(opened->isVisible());
    }

    barActions.back()->trigger();
    auto* about = form_->findChild<QMessageBox*>(QStringLiteral("aboutBox"));
    ASSERT_NE(about, nullptr);
    EXPECT_TRUE(about->isVisible());
    for (const QString& told :
         {QStringLiteral(DARQ_VERSION), QStringLiteral("MIT"), assignmentFile()}) {
        EXPECT_TRUE(about->text().contains(told)) << about->text().toStdString();
    }
}

// Chooses COM1 device > Other device… and returns the dialog that asks for the path. The device
// list is made as the menu opens.
QInputDialog* askForCom1Device(QWidget* window) {
    auto* com1Devices = window->findChild<QMenu*>(QStringLiteral("com1DeviceMenu"));
    if (com1Devices == nullptr) {
        ADD_FAILURE() << "no COM1 device menu";
        return nullptr;
    }
    com1Devices->popup(QPoint());
    QAction* otherDevice = menuEntry(com1Devices, QStringLiteral("Other device…"));
    com1Devices->close();
    if (otherDevice == nullptr) {
        return nullptr;
    }
    otherDevice->trigger();
    return window->findChild<QInputDialog*>(QStringLiteral("devicePathDialog"));
}

// "Other device…" asks for the operator's own assignment: what DARQ_COM1 or the automatic choice
// put behind the port must not become lasting by an OK.
TEST_F(Form1Test, OtherDeviceKeepsOnlyWhatTheOperatorChanged) {
    SimProcess sim;
    const QString assigned = QStringLiteral("/nonexistent/assigned-com1");
    const auto forget = qScopeGuard([] { assignDevice(1, QString()); });
    const struct {
        const char* name;
        bool variableSet;
        QString assignedBefore;
        std::optional<QString> typed; // none: OK on the field as it came
        QString assignedAfter;
    } cases[] = {
        {"OK with DARQ_COM1 set", true, {}, std::nullopt, {}},
        {"OK on the automatic choice", false, {}, std::nullopt, {}},
        {"OK on an assignment", false, assigned, std::nullopt, assigned},
        {"emptied", false, assigned, QString(), {}},
        {"a path typed with DARQ_COM1 set", true, {}, assigned, assigned},
    };
    for (const auto& example : cases) {
        SCOPED_TRACE(example.name);
        ASSERT_TRUE(assignDevice(1, example.assignedBefore));
        // An empty variable counts as none.
        openWindow(example.variableSet ? sim.devicePath() : std::string());
        QInputDialog* dialog = askForCom1Device(form_);
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->textValue(), example.assignedBefore);
        if (example.typed) {
            dialog->setTextValue(*example.typed);
        }
        dialog->accept();
        EXPECT_EQ(assignedDevice(1), example.assignedAfter);
        delete form_;
    }
}

TEST_F(Form1Test, DeviceAssignedInTheMenuIsOpenedAtOnceAndKeptByTheNextWindow) {
    SimProcess sim(fixedReading(2468, 2, 0, 13, 0));
    const QString device = QString::fromStdString(sim.devicePath());
    const QString unplugged = QStringLiteral("/nonexistent/assigned-com1");
    ASSERT_TRUE(assignDevice(1, unplugged));
    const auto forget = qScopeGuard([] { assignDevice(1, QString()); });
    qunsetenv("DARQ_COM1");
    qputenv("DARQ_COM2", QByteArrayLiteral("/nonexistent/com2"));
    form_ = new Form1;
    form_->show();
    // An assigned device that is missing is still the one COM1 means.
    EXPECT_FALSE(port()->PortOpen());
    ASSERT_TRUE(waitForBox(unplugged));
    visibleBoxes().front()->close();

    QInputDialog* dialog = askForCom1Device(form_);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(dialog->textValue(), unplugged);
    dialog->setTextValue(device);
    dialog->accept();

    EXPECT_TRUE(port()->PortOpen());
    EXPECT_EQ(port()->deviceName(), device);
    EXPECT_EQ(portCaption(), kOpenCaption);
    readOnce();
    EXPECT_EQ(flowShown(), "24.68");

    QRadioButton* com1 = element<QRadioButton>("Option1", 0);
    QHelpEvent hover(QEvent::ToolTip, QPoint(3, 3), com1->mapToGlobal(QPoint(3, 3)));
    QApplication::sendEvent(com1, &hover);
    EXPECT_TRUE(QToolTip::text().startsWith("Use the serial port COM1\n" + device))
        << QToolTip::text().toStdString();
    EXPECT_TRUE(QToolTip::text().contains("assigned in this window"));

    delete form_;
    form_ = new Form1;
    form_->show();
    EXPECT_TRUE(port()->PortOpen());
    EXPECT_EQ(port()->deviceName(), device);
}

} // namespace
} // namespace darq
