#pragma once

#include <array>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QMenuBar;
class QPushButton;
class QRadioButton;
class QTimer;
class QWidget;

namespace darq {

class CommControl;

// The window's controls as they are created, under the names the window's behaviour uses, and
// the construction of the window around them. Nothing here reacts to anything.
//
// The menu bar belongs to the window's frame, above the client area; the client area holds the
// controls at the places the layout gives them, measured from its own top-left corner, whether
// the menu bar is drawn in the window or by the desktop elsewhere.
//
// The two option buttons and the two captions of the serial group are arrays: both elements carry
// the object name "Option1" (or "Label1") and their element number in the property "index".
struct Form1Layout {
    QMenuBar* menuBar = nullptr; // empty; the window's menus fill it
    QWidget* clientArea = nullptr;

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

    // Creates the menu bar and the client area with every control inside `form`, and sets the
    // window's own looks: fixed size, title, title bar, icon, colours, fonts and tab order.
    void setupLayout(QWidget* form);
};

} // namespace darq
