// File and directory built-ins: numbered file and search handles, reading and writing text in the four
// encodings, file searches, copy/move/delete with wildcards, directories, attributes, time stamps and
// short and long names.
//
// files.cpp holds the handle table and everything that reads or writes through a handle; file_ops.cpp the
// built-ins that work on paths and patterns; dirs.cpp the directory built-ins.
#pragma once

#include <string>
#include <string_view>

#include "core/builtins.h"

namespace tx {

// Closes every file and search handle the script left open (process shutdown).
void closeAllFiles();

// files.cpp
int bi_FILEOPEN(Engine& e, Args& a, Variant& r);
int bi_FILECLOSE(Engine& e, Args& a, Variant& r);
int bi_FILEREAD(Engine& e, Args& a, Variant& r);
int bi_FILEREADLINE(Engine& e, Args& a, Variant& r);
int bi_FILEWRITE(Engine& e, Args& a, Variant& r);
int bi_FILEWRITELINE(Engine& e, Args& a, Variant& r);
int bi_FILESETPOS(Engine& e, Args& a, Variant& r);
int bi_FILEGETPOS(Engine& e, Args& a, Variant& r);
int bi_FILEFLUSH(Engine& e, Args& a, Variant& r);
int bi_FILEGETENCODING(Engine& e, Args& a, Variant& r);
int bi_FILEFINDFIRSTFILE(Engine& e, Args& a, Variant& r);
int bi_FILEFINDNEXTFILE(Engine& e, Args& a, Variant& r);

// file_ops.cpp
// The file name a source file gets under a destination pattern: a "*" in the pattern's name or extension
// part takes the source's part (FILECOPY's rule; FILEINSTALL uses it too).
std::u16string wildcardDestinationName(std::u16string_view destPattern, std::u16string_view sourceFile);
int bi_FILECOPY(Engine& e, Args& a, Variant& r);
int bi_FILEMOVE(Engine& e, Args& a, Variant& r);
int bi_FILEDELETE(Engine& e, Args& a, Variant& r);
int bi_FILEEXISTS(Engine& e, Args& a, Variant& r);
int bi_FILEGETSIZE(Engine& e, Args& a, Variant& r);
int bi_FILEGETATTRIB(Engine& e, Args& a, Variant& r);
int bi_FILESETATTRIB(Engine& e, Args& a, Variant& r);
int bi_FILEGETTIME(Engine& e, Args& a, Variant& r);
int bi_FILESETTIME(Engine& e, Args& a, Variant& r);
int bi_FILEGETSHORTNAME(Engine& e, Args& a, Variant& r);
int bi_FILEGETLONGNAME(Engine& e, Args& a, Variant& r);
int bi_FILECHANGEDIR(Engine& e, Args& a, Variant& r);

// dirs.cpp
int bi_DIRCREATE(Engine& e, Args& a, Variant& r);
int bi_DIRREMOVE(Engine& e, Args& a, Variant& r);
int bi_DIRCOPY(Engine& e, Args& a, Variant& r);
int bi_DIRMOVE(Engine& e, Args& a, Variant& r);
int bi_DIRGETSIZE(Engine& e, Args& a, Variant& r);

}  // namespace tx
