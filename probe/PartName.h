#pragma once

#include <QString>

// The probe's model name for its HIC ID (letter case ignored), "unknow" for
// an ID that is not a known model.
QString partNameOf(const QString &HICID);
