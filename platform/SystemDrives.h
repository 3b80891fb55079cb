#pragma once

#include "platform/DriveList.h"

#include <memory>

// The machine's own drives, as the operating system built for lists them.
// Each operating system's folder below platform/ defines it.
std::unique_ptr<IDriveList> makeSystemDriveList();
