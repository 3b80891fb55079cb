#pragma once

#include <QtGlobal>

// What the tool puts up with from the download server. Every body is held in
// memory whole, so a server that announces or sends without end would take the
// machine's memory with it; one that trickles would hold the window for ever.
namespace downloadLimits {

// A real catalogue is a few KiB; this still takes one of some 100,000 lines
// (6 to 8 MB) with room to spare.
constexpr qint64 CatalogueBytes = 32 * 1024 * 1024;

// A probe image is well under 4 MiB as Intel HEX, and the package adds only a
// small header to it.
constexpr qint64 PackageBytes = 64 * 1024 * 1024;

// A transfer that stays below this rate for a whole window fails. A slow
// mobile or satellite link still moves kilobytes a second, and a window of a
// minute rides out its pauses; a server that hands out a byte every few
// seconds does not get through. Total silence is the read timeout's (30 s)
// and ends sooner.
constexpr int LowSpeedBytesPerSecond = 100;
constexpr int LowSpeedSeconds = 60;

} // namespace downloadLimits
