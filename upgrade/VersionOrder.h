#pragma once

#include <QString>

// Orders version texts the way people read them: runs of digits compare as
// numbers (so V1.10 is above V1.9), every other character by its code; when
// one text runs out first it is the lower one. Returns <0, 0 or >0.
int compareVersions(const QString &a, const QString &b);
