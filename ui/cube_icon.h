#pragma once

#include <QIcon>
#include <QImage>

namespace darq {

// The tool's window icon, 32 x 32 pixels on a transparent ground: a green cube seen from above
// at an angle, outlined in black.
QImage cubeIconImage();
QIcon cubeIcon();

} // namespace darq
