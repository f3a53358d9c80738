/* tarvex3_plugin.h: the binary interface of plug-in DLLs for the Tarvex v3 runtime.

   A plug-in is a DLL that adds functions to the script language. A script loads it with PluginOpen("path");
   from then on a call of a name that is neither a built-in nor a function of the script is offered to the
   loaded plug-ins, in the order they were opened (the lowest handle first), and within a plug-in to its
   function table in order; names are compared without regard to ASCII case.

   A plug-in exports:
     - QX3_GetPluginDetails (stdcall on 32-bit x86): fills in the number of functions and a pointer to the
       function table, which must stay valid while the DLL is loaded;
     - one function per table entry, exported under the entry's name (cdecl on 32-bit x86), see
       QX3_PLUGIN_FUNC below;
     - optionally QX3_FreeVar (cdecl): called with the result record after the runtime has copied it, so the
       plug-in can free what it allocated for the result.

   Arguments reach the function as an array of value records. A string argument points to a zero-terminated
   copy in the ANSI code page that the runtime owns and frees after the call; the plug-in must not keep it.
   The function leaves *result null (the script gets 1) or points it to a record the plug-in owns; a string
   result points to zero-terminated ANSI text the plug-in owns. The runtime copies the result at once, then
   calls QX3_FreeVar(result) when the plug-in exports it. *error and *extended (both 0 on entry) become
   @error and @extended in the script.

   32-bit x86 builds: export the names undecorated (a .def file, or -Wl,--kill-at with mingw). On x86_64
   there is one calling convention and the macros below expand to nothing.

   A small example (mingw: gcc -shared -o sum.dll sum.c -Wl,--kill-at):

       #include "tarvex3_plugin.h"
       static QX3_FUNCTION table[] = {{"PluginSum", 2, 2}};
       QX3_EXPORT void QX3_STDCALL QX3_GetPluginDetails(int32_t* count, QX3_FUNCTION** functions) {
           *count = 1;
           *functions = table;
       }
       static QX3_VALUE sum_result;
       QX3_PLUGIN_FUNC(PluginSum) {
           if (argc != 2 || argv[0].type != QX3_INT32 || argv[1].type != QX3_INT32) { *error = 1; return; }
           sum_result.type = QX3_INT64;
           sum_result.v.i64 = (int64_t)argv[0].v.i32 + argv[1].v.i32;
           *result = &sum_result;
       }

   In a script:  Local $h = PluginOpen(@ScriptDir & "\sum.dll")
                 ConsoleWrite(PluginSum(2, 3) & @CRLF)   ; 5
                 PluginClose($h)
*/
#ifndef TARVEX3_PLUGIN_H
#define TARVEX3_PLUGIN_H

#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_M_IX86) || defined(__i386__)
#define QX3_STDCALL __stdcall
#define QX3_CDECL __cdecl
#else
#define QX3_STDCALL
#define QX3_CDECL
#endif
#define QX3_EXPORT __declspec(dllexport)

/* One function of the plug-in: its name (ANSI, also the name of its export) and the range of argument
   counts the runtime accepts before calling it (a call outside the range is a script error). */
typedef struct QX3_FUNCTION {
    const char* name;
    int32_t min_args;
    int32_t max_args;
} QX3_FUNCTION;

/* Kinds of value records. A script's Int32, Bool, keyword and every other kind arrive as QX3_INT32. */
enum {
    QX3_INT32 = 1,
    QX3_INT64 = 2,
    QX3_DOUBLE = 3,
    QX3_STRING = 4, /* v.str: zero-terminated ANSI text */
    QX3_POINTER = 5 /* v.ptr */
};

/* An argument or a result: 16 bytes in both builds. */
typedef struct QX3_VALUE {
    int32_t type;
    int32_t reserved;
    union {
        int32_t i32;
        int64_t i64;
        double d;
        char* str;
        void* ptr;
    } v;
} QX3_VALUE;

typedef void(QX3_STDCALL* QX3_GetPluginDetailsFn)(int32_t* count, QX3_FUNCTION** functions);
typedef void(QX3_CDECL* QX3_PluginFn)(int32_t argc, QX3_VALUE* argv, QX3_VALUE** result, int32_t* error,
                                      int32_t* extended);
typedef void(QX3_CDECL* QX3_FreeVarFn)(QX3_VALUE* result);

/* Defines an exported plug-in function with the expected signature. */
#define QX3_PLUGIN_FUNC(name)                                                                              \
    QX3_EXPORT void QX3_CDECL name(int32_t argc, QX3_VALUE* argv, QX3_VALUE** result, int32_t* error, \
                                   int32_t* extended)

#ifdef __cplusplus
}
#endif

#endif /* TARVEX3_PLUGIN_H */
