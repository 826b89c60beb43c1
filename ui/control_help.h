#pragma once

#include <QCoreApplication>

namespace darq {

struct Form1Layout;

// What the window's controls say about themselves in the operator's language: a tooltip on each
// that tells what it does, which assistive technology also reads as its description, and an
// accessible name. A screen reader would otherwise call the rate list "9600", the address list
// "1" and the total "Text1", and read the captions in Chinese under any locale.
class ControlHelp {
    Q_DECLARE_TR_FUNCTIONS(darq::ControlHelp)

public:
    static void describe(const Form1Layout& layout);
};

} // namespace darq
