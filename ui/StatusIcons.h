#pragma once

#include <QIcon>

#include <array>

// The four status images: shaded yellow, blue, green and red balls for
// Queued, Checking, Available and Missing (partially), drawn at every size asked for.
std::array<QIcon, 4> statusIcons();
