// What the COM files share among themselves (com.cpp: objects, conversions, member calls and the
// built-ins; com_events.cpp: the error handler, event sinks and the event ring).
//
// An Object value owns one ObjectPayload: a VARIANT holding an IDispatch (or, for an enumerator, an
// IUnknown) pointer. Copying a value copies the VARIANT (VariantCopy adds a reference), clearing it clears
// the VARIANT, so a COM object is released together with its last script value. Every payload is also on
// one list, so that the end of the run can release whatever the script still holds while OLE is up.
#pragma once

#include <windows.h>
#include <ocidl.h>
#include <ole2.h>
#include <oleauto.h>

#include <string>

#include "core/engine.h"
#include "core/variant.h"

namespace tx::com {

struct ObjectPayload {
    VARIANT v;
    ObjectPayload* prev = nullptr;
    ObjectPayload* next = nullptr;
};

// OLE is started on the first object creation and stays up for the rest of the run.
bool ensureOle();
bool oleStarted();

// An Object value holding p (as VT_DISPATCH when it is an IDispatch, else VT_UNKNOWN). addRef: the value
// takes a reference of its own; otherwise the caller's reference passes to it.
Variant wrapDispatch(IDispatch* p, bool addRef);
Variant wrapUnknown(IUnknown* p, bool addRef);
// An Object value holding an enumerator (kept as an IUnknown: no dispatch object the script could call).
Variant wrapEnumerator(IUnknown* e);
// Releases every object still held by a value and ends OLE (the end of the run).
void releaseValues();
// The VARIANT an Object value holds (nullptr for other kinds or an emptied payload).
const VARIANT* heldVariant(const Variant& v);

// Script value -> VARIANT (out must be VariantInit'ed; the caller clears it). False when the value has
// no COM form (pointers, structures) or an array element has none.
bool toVariant(const Variant& in, VARIANT& out);
// VARIANT -> script value (the VARIANT is only read).
void fromVariant(const VARIANT& in, Variant& out);

// The COM failure rule. With an active error handler the failure is recorded in it, its function is
// queued and @error set: the result is true (carry on). Otherwise @error is set and the result is
// !fatal. message, when given, is the handler's WINDESCRIPTION.
bool failure(HRESULT code, const EXCEPINFO* info, const char16_t* message, bool fatal);
bool handlerActive();

// Event ring: entries are written by sinks (any thread) and by the error handler, read by the run loop.
// source gets a reference of the entry's own; args are given in their natural order and copied.
void queueEvent(IDispatch* source, const std::u16string& prefix, const std::u16string& name, const VARIANT* args,
                int n);
// Releases the sinks and the queued entries (end of the run, before OLE goes down).
void shutdownEvents();
// The run loop's turn: calls the function of the oldest deliverable entry; true when one was called.
bool serveEvent();

// Member call on a dispatch pointer: name empty = dispatch id 0. args in natural order; refs[i], when
// not null, is the script variable the i-th argument came from (written back when the callee changed it).
HRESULT callMember(IDispatch* d, DISPID id, WORD flags, Variant* args, Variant** refs, int n, VARIANT* result,
                   EXCEPINFO* info, bool& converted);

}  // namespace tx::com
