// File built-ins that wrap a shell or system service: FILEINSTALL, version resources, shortcuts, NTFS
// junctions and hard links, the recycle bin and the standard open, save and folder dialogs.
#pragma once

#include "core/builtins.h"

namespace tx {

int bi_FILEINSTALL(Engine& e, Args& a, Variant& r);
int bi_FILEGETVERSION(Engine& e, Args& a, Variant& r);
int bi_FILECREATESHORTCUT(Engine& e, Args& a, Variant& r);
int bi_FILEGETSHORTCUT(Engine& e, Args& a, Variant& r);
int bi_FILECREATENTFSLINK(Engine& e, Args& a, Variant& r);
int bi_FILERECYCLE(Engine& e, Args& a, Variant& r);
int bi_FILERECYCLEEMPTY(Engine& e, Args& a, Variant& r);
int bi_FILEOPENDIALOG(Engine& e, Args& a, Variant& r);
int bi_FILESAVEDIALOG(Engine& e, Args& a, Variant& r);
int bi_FILESELECTFOLDER(Engine& e, Args& a, Variant& r);

}  // namespace tx
