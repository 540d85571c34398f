#pragma once
// A reply's reading as JSON, the typed fields scripts and pages read: what
// orva-ctl --json prints and the bridge's web API answers.

#include "exchange/StatusDecoding.h"

#include <QJsonObject>

namespace decoding {

// The fields of a reply to a status query into `o` (power and faults, input, hours,
// reversal, temperatures, lamps, mute, pressure: those of its query), each null
// where the reply tells none; nothing for a reading of no status query.
void addReading(QJsonObject &o, const Reading &r);

} // namespace decoding
