#pragma once

#include <QIcon>

// The program's icon, drawn here so its source stays with the code: a fibre line into a
// round power meter on the product's blue.
QIcon appIcon();
