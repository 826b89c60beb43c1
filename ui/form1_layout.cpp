#include "ui/form1_layout.h"

#include "serial/comm_control.h"
#include "ui/control_help.h"
#include "ui/cube_icon.h"
#include "ui/layout_look.h"
#include "ui/reading_display.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

namespace darq {

namespace {

constexpr int kClientWidth = 448;
constexpr int kClientHeight = 498;
constexpr quint32 kFormBackground = 0x00E0E0E0;
constexpr quint32 kRed = 0x000000FF;
constexpr quint32 kPaleBlue = 0x00FFC0C0;
// WCAG's least contrast for text of ordinary size is 4.5, and the 15-point caption is not large
// text. The rasteriser draws even a fully covered pixel of a glyph a shade off the pen's colour,
// which the margin allows for.
constexpr double kReadableContrast = 4.6;
// The desktop's window text, &H80000008&, as the standard light scheme has it.
constexpr quint32 kLightSchemeWindowText = 0x00000000;

// Places a freshly made control and gives it its name, font and the desktop colours of its kind;
// the caller then changes what the layout sets apart.
template <typename Control>
Control* place(Control* control, const char* name, const QRect& geometry, const QFont& font) {
    control->setObjectName(QLatin1String(name));
    control->setGeometry(geometry);
    control->setFont(font);
    control->setPalette(look::standardPalette());
    return control;
}

void setColours(QWidget* control, quint32 background, quint32 text) {
    QPalette palette = control->palette();
    palette.setColor(QPalette::Window, look::colour(background));
    palette.setColor(QPalette::WindowText, look::colour(text));
    control->setPalette(palette);
}

// A control whose background differs from its container's paints its whole rectangle. The
// others, in the desktop's button face like the group box that holds them, are drawn on it: a
// style that shades the inside of a group box would otherwise show a lighter patch behind each.
void setFilledColours(QWidget* control, quint32 background, quint32 text) {
    setColours(control, background, text);
    control->setAutoFillBackground(true);
}

QLabel* makeLabel(QWidget* container, const QString& caption, const char* name,
                  const QRect& geometry, const QFont& font) {
    auto* label = place(new QLabel(caption, container), name, geometry, font);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setColours(label, look::kButtonFace, look::kButtonText);
    return label;
}

QGroupBox* makeGroupBox(QWidget* container, const QString& caption, const char* name,
                        const QRect& geometry, const QFont& font) {
    auto* box = place(new QGroupBox(caption, container), name, geometry, font);
    setColours(box, look::kButtonFace, look::kButtonText);
    return box;
}

// A drop-down list whose text the operator may also type; typing never adds an entry.
QComboBox* makeComboBox(QWidget* container, const QString& text, const char* name,
                        const QRect& geometry) {
    auto* combo = place(new QComboBox(container), name, geometry, look::defaultFont());
    combo->setEditable(true);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->setCompleter(nullptr);
    combo->setEditText(text);
    return combo;
}

// Both elements of a control array carry the array's name; the property "index" tells them apart.
void setElementIndex(QWidget* control, int index) {
    control->setProperty("index", index);
}

} // namespace

void Form1Layout::setupLayout(QWidget* form) {
    using look::twips;
    const QFont defaultFont = look::defaultFont();

    form->setObjectName(QStringLiteral("Form1"));
    form->setWindowTitle(QStringLiteral("DARQ流量积算仪通讯测试"));
    form->setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    form->setWindowIcon(cubeIcon());

    // The frame around the client area, menu bar included, keeps the desktop's font and colours.
    menuBar = new QMenuBar(form);
    menuBar->setObjectName(QStringLiteral("menuBar"));
    clientArea = new QWidget(form);
    clientArea->setObjectName(QStringLiteral("clientArea"));
    clientArea->setFixedSize(kClientWidth, kClientHeight);
    clientArea->setFont(defaultFont);
    QPalette clientPalette = look::standardPalette();
    clientPalette.setColor(QPalette::Window, look::colour(kFormBackground));
    clientArea->setPalette(clientPalette);
    clientArea->setAutoFillBackground(true);
    auto* frame = new QVBoxLayout(form);
    frame->setContentsMargins(0, 0, 0, 0);
    frame->setSpacing(0);
    frame->setMenuBar(menuBar);
    frame->addWidget(clientArea);
    // The window has no handling of size changes: it is as large as the menu bar and the client
    // area together, and no larger.
    frame->setSizeConstraint(QLayout::SetFixedSize);

    Frame3 = makeGroupBox(clientArea, QStringLiteral("流量显示"), "Frame3",
                          twips(120, 240, 6255, 4215), look::songFont(15));
    setFilledColours(Frame3, look::kMenuColour, kRed);
    // The red caption must stay readable on whatever menu colour the desktop has: it keeps its
    // hue, deepened or lightened only as far as that takes.
    QPalette framePalette = Frame3->palette();
    framePalette.setColor(
        QPalette::WindowText,
        look::readableOn(look::colour(kRed), look::colour(look::kMenuColour), kReadableContrast));
    Frame3->setPalette(framePalette);

    Label3 = makeLabel(Frame3, QStringLiteral("瞬时流量"), "Label3", twips(240, 600, 1575, 495),
                       look::songFont(15.75));

    Label4 = place(new ReadingDisplay(Frame3), "Label4", twips(1920, 600, 3975, 1215),
                   look::songFont(60));
    setFilledColours(Label4, kPaleBlue, kRed);
    // Centred in height: the serif substitutes' 60-point line is taller than the label, and
    // anchored at the top the digits would run off its lower edge.
    Label4->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Label4->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    Label4->setLineWidth(1);

    Label2 = makeLabel(Frame3, QStringLiteral("累计流量"), "Label2", twips(240, 1320, 1335, 495),
                       look::songFont(15.75));

    Text1 = place(new QLineEdit(QStringLiteral("Text1"), Frame3), "Text1",
                  twips(360, 2010, 5535, 1215), look::songFont(48));
    QPalette textPalette = Text1->palette();
    textPalette.setColor(QPalette::Base, look::colour(kPaleBlue));
    // The layout fixes the lavender behind the total but leaves its text to the desktop, and a
    // dark scheme's light text all but vanishes on lavender. The text and the cursor keep the
    // black they have on the standard light scheme. A disabled text is meant to recede, and the
    // window never disables the box: that state keeps the desktop's colour.
    for (const auto group : {QPalette::Active, QPalette::Inactive}) {
        textPalette.setColor(group, QPalette::Text, look::colour(kLightSchemeWindowText));
    }
    Text1->setPalette(textPalette);

    Command2 = place(new QPushButton(QStringLiteral("读取"), Frame3), "Command2",
                     twips(4680, 3360, 1215, 495), defaultFont);

    Check1 = place(new QCheckBox(QStringLiteral("自动读取"), Frame3), "Check1",
                   twips(600, 3480, 1575, 255), defaultFont);
    setColours(Check1, look::kButtonFace, look::kButtonText);

    Frame2 = makeGroupBox(clientArea, QStringLiteral("串口选择"), "Frame2",
                          twips(120, 4680, 6255, 2415), look::songFont(15.75));
    setFilledColours(Frame2, look::kButtonFace, look::kButtonText);

    Frame1 = makeGroupBox(Frame2, QStringLiteral("端口选择"), "Frame1", twips(240, 480, 3615, 735),
                          defaultFont);
    const QRect optionPlaces[] = {twips(480, 360, 735, 255), twips(2280, 360, 735, 255)};
    const QString optionCaptions[] = {QStringLiteral("COM1"), QStringLiteral("COM2")};
    for (int index = 0; index < 2; ++index) {
        Option1[index] = place(new QRadioButton(optionCaptions[index], Frame1), "Option1",
                               optionPlaces[index], defaultFont);
        setElementIndex(Option1[index], index);
        setColours(Option1[index], look::kButtonFace, look::kButtonText);
    }
    Option1[0]->setChecked(true);

    Command1 = place(new QPushButton(QStringLiteral("打开串口"), Frame2), "Command1",
                     twips(4560, 840, 1455, 495), defaultFont);

    Label1[0] = makeLabel(Frame2, QStringLiteral("通讯波特率:"), "Label1",
                          twips(360, 1440, 1215, 255), defaultFont);
    setElementIndex(Label1[0], 0);
    Label1[1] = makeLabel(Frame2, QStringLiteral("仪表地址"), "Label1",
                          twips(2280, 1440, 1215, 255), defaultFont);
    setElementIndex(Label1[1], 1);

    Combo2 = makeComboBox(Frame2, QStringLiteral("Combo2"), "Combo2", twips(240, 1800, 1335, 300));
    Combo1 = makeComboBox(Frame2, QStringLiteral("Combo1"), "Combo1", twips(2160, 1800, 1575, 300));

    autuTimer2 = new QTimer(form);
    autuTimer2->setObjectName(QStringLiteral("autuTimer2"));
    autuTimer2->setInterval(1000);

    MSComm1 = new CommControl(form);
    MSComm1->setObjectName(QStringLiteral("MSComm1"));

    // The focus visits the controls by their tab index: the chosen port (COM2 ranks before COM1,
    // but only the selected one takes the focus), then the buttons, the lists and the total.
    QWidget::setTabOrder(Option1[1], Option1[0]);
    QWidget::setTabOrder(Option1[0], Command1);
    QWidget::setTabOrder(Command1, Command2);
    QWidget::setTabOrder(Command2, Check1);
    QWidget::setTabOrder(Check1, Combo1);
    QWidget::setTabOrder(Combo1, Combo2);
    QWidget::setTabOrder(Combo2, Text1);

    ControlHelp::describe(*this);
}

} // namespace darq
