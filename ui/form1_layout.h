#pragma once

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
class QTimer;
class QWidget;

namespace darq {

class CommControl;

// The window's controls as they are created, under the names the window's behaviour uses, and
// the construction of the window around them. Nothing here reacts to anything.
//
// The two option buttons and the two captions of the serial group are arrays: both elements carry
// the object name "Option1" (or "Label1") and their element number in the property "index".
struct Form1Layout {
    QGroupBox* Frame3 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* Text1 = nullptr;
    QPushButton* Command2 = nullptr;
    QCheckBox* Check1 = nullptr;

    QGroupBox* Frame2 = nullptr;
    QGroupBox* Frame1 = nullptr;
    std::array<QRadioButton*, 2> Option1{};
    QPushButton* Command1 = nullptr;
    std::array<QLabel*, 2> Label1{};
    QComboBox* Combo2 = nullptr;
    QComboBox* Combo1 = nullptr;

    QTimer* autuTimer2 = nullptr;
    CommControl* MSComm1 = nullptr;

    // Creates every control inside `form` and sets the window's own looks: fixed client area,
    // title, title bar, icon, colours, fonts and tab order.
    void setupLayout(QWidget* form);
};

} // namespace darq
