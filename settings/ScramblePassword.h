#pragma once

#include <QString>

// The fixed rotation that keeps passwords out of plain sight in Settings.dat: the codes
// 48 ("0") to 125 ("}") turn by half their span, so scrambling twice gives the text back.
// It needs no key and protects nothing against a reader who knows it.
QString ScramblePassword(const QString &text);
