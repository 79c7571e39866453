#pragma once

#include <QIcon>

// The program's icon in 16, 32 and 48 pixels: a magnifier over a stack of contact cards.
QIcon CollectorIcon();
