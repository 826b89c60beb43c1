#include "ui/control_help.h"

#include "ui/form1_layout.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace darq {

namespace {

void setHelp(QWidget* control, const QString& name, const QString& tip) {
    control->setAccessibleName(name);
    control->setToolTip(tip);
}

// A caption names the control it stands by. On Linux, Qt gives a list the text in its field as
// its name and leaves the list's name to the caption that is its buddy.
void nameByCaption(QLabel* caption, QWidget* control, const QString& name, const QString& tip) {
    setHelp(caption, name, tip);
    setHelp(control, name, tip);
    caption->setBuddy(control);
}

} // namespace

void ControlHelp::describe(const Form1Layout& layout) {
    setHelp(layout.Frame3, tr("Flow display"),
            tr("The instrument's readings: the instantaneous and the accumulated flow"));
    // The displays' tooltips tell the time of the reading shown once there is one.
    nameByCaption(layout.Label3, layout.Label4, tr("Instantaneous flow"),
                  tr("Instantaneous flow, as last read from the instrument; nothing read yet"));
    nameByCaption(layout.Label2, layout.Text1, tr("Accumulated flow"),
                  tr("Accumulated flow, as last read from the instrument; nothing read yet"));
    setHelp(layout.Command2, tr("Read"),
            tr("Read the flow and the total from the instrument once"));
    setHelp(layout.Check1, tr("Automatic reading"),
            tr("Read the instrument every two seconds; the read button is off meanwhile"));

    setHelp(layout.Frame2, tr("Serial port settings"),
            tr("The serial port, its baud rate and the instrument's address"));
    setHelp(layout.Frame1, tr("Serial port"), tr("The serial port the window talks on"));
    for (int index = 0; index < int(layout.Option1.size()); ++index) {
        setHelp(layout.Option1[index], QStringLiteral("COM%1").arg(index + 1),
                tr("Use the serial port COM%1").arg(index + 1));
    }
    // Its name, what a press does, follows the port's state.
    layout.Command1->setToolTip(tr("Open or close the selected serial port"));
    nameByCaption(layout.Label1[0], layout.Combo2, tr("Baud rate"),
                  tr("Baud rate of the serial line (no parity, 8 data bits, 2 stop bits)"));
    nameByCaption(layout.Label1[1], layout.Combo1, tr("Instrument address"),
                  tr("Bus address of the instrument, 0 to 128"));
}

} // namespace darq
