// INI file built-ins: reading and writing keys, whole sections and section names through the system's
// profile functions, with every file name made absolute first.
#pragma once

#include "core/builtins.h"

namespace tx {

int bi_INIREAD(Engine& e, Args& a, Variant& r);
int bi_INIWRITE(Engine& e, Args& a, Variant& r);
int bi_INIDELETE(Engine& e, Args& a, Variant& r);
int bi_INIREADSECTION(Engine& e, Args& a, Variant& r);
int bi_INIREADSECTIONNAMES(Engine& e, Args& a, Variant& r);
int bi_INIRENAMESECTION(Engine& e, Args& a, Variant& r);
int bi_INIWRITESECTION(Engine& e, Args& a, Variant& r);

}  // namespace tx
