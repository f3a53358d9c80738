// Drive built-ins: listing the machine's drives, reading a drive's type, label, serial number, file system,
// space and readiness, setting its label, and connecting, disconnecting and querying network drives.
#pragma once

#include "core/builtins.h"

namespace tx {

int bi_DRIVEGETDRIVE(Engine& e, Args& a, Variant& r);
int bi_DRIVEGETFILESYSTEM(Engine& e, Args& a, Variant& r);
int bi_DRIVEGETLABEL(Engine& e, Args& a, Variant& r);
int bi_DRIVEGETSERIAL(Engine& e, Args& a, Variant& r);
int bi_DRIVEGETTYPE(Engine& e, Args& a, Variant& r);
int bi_DRIVESETLABEL(Engine& e, Args& a, Variant& r);
int bi_DRIVESPACEFREE(Engine& e, Args& a, Variant& r);
int bi_DRIVESPACETOTAL(Engine& e, Args& a, Variant& r);
int bi_DRIVESTATUS(Engine& e, Args& a, Variant& r);
int bi_DRIVEMAPADD(Engine& e, Args& a, Variant& r);
int bi_DRIVEMAPDEL(Engine& e, Args& a, Variant& r);
int bi_DRIVEMAPGET(Engine& e, Args& a, Variant& r);

}  // namespace tx
