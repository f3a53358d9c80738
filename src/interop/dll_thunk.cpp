// The machine code behind DLL calls and callbacks, one version per target.
//
// tx_dll_thunk lays a call's arguments out where the callee expects them and calls it. On x86_64 there
// is one convention: slots 0-3 are loaded into RCX/RDX/R8/R9 and, with the same bits, into XMM0-XMM3
// (a variadic callee reads doubles from the integer registers, a prototyped one from XMM), later slots sit
// above the 32-byte shadow space, and the stack is 16-byte aligned at the call. On i686 the arguments are
// copied below a 16-byte aligned stack pointer exactly as pushes from the last to the first would leave
// them; after the call the stack pointer must stand past the arguments (stdcall: the callee removed them)
// or where it was (cdecl). Either way the frame pointer restores the stack, so a wrong convention is
// reported instead of corrupting the caller.
//
// tx_callback_common is entered by a jump from a callback's stub with the callback record in R10 (x86_64)
// or EAX (i686). It hands the record and the addresses of the caller's arguments to tx_callback_entry
// (callbacks.cpp) and returns its result: RAX and XMM0 on x86_64; EDX:EAX, ST(0) for floating-point
// results, and a return that removes the argument bytes for stdcall callbacks on i686.
//
// Both x86_64 routines carry unwind information, so stack walks through a native call stay possible.
#include "interop/native_types.h"

#if defined(__x86_64__)

asm(R"(
    .text
    .globl tx_dll_thunk
    .def tx_dll_thunk; .scl 2; .type 32; .endef
    .seh_proc tx_dll_thunk
tx_dll_thunk:
    pushq %rbp
    .seh_pushreg %rbp
    pushq %rsi
    .seh_pushreg %rsi
    pushq %rdi
    .seh_pushreg %rdi
    pushq %r12
    .seh_pushreg %r12
    subq $8, %rsp
    .seh_stackalloc 8
    movq %rsp, %rbp
    .seh_setframe %rbp, 0
    .seh_endprologue
    movq %rcx, %r10
    movq %r9, %r12
    movq %r8, %rax
    cmpq $4, %rax
    jae 1f
    movl $4, %eax
1:
    leaq 15(,%rax,8), %rax
    andq $-16, %rax
    subq %rax, %rsp
    movq %rdx, %rsi
    movq %rsp, %rdi
    movq %r8, %rcx
    cld
    rep movsq
    movq (%rsp), %rcx
    movq 8(%rsp), %rdx
    movq 16(%rsp), %r8
    movq 24(%rsp), %r9
    movq %rcx, %xmm0
    movq %rdx, %xmm1
    movq %r8, %xmm2
    movq %r9, %xmm3
    call *%r10
    movq %xmm0, (%r12)
    leaq 8(%rbp), %rsp
    popq %r12
    popq %rdi
    popq %rsi
    popq %rbp
    ret
    .seh_endproc

    .globl tx_callback_common
    .def tx_callback_common; .scl 2; .type 32; .endef
    .seh_proc tx_callback_common
tx_callback_common:
    movq %rcx, 8(%rsp)
    movq %rdx, 16(%rsp)
    movq %r8, 24(%rsp)
    movq %r9, 32(%rsp)
    pushq %rbp
    .seh_pushreg %rbp
    subq $80, %rsp
    .seh_stackalloc 80
    movq %rsp, %rbp
    .seh_setframe %rbp, 0
    .seh_endprologue
    movq %xmm0, 32(%rbp)
    movq %xmm1, 40(%rbp)
    movq %xmm2, 48(%rbp)
    movq %xmm3, 56(%rbp)
    movq %r10, %rcx
    leaq 96(%rbp), %rdx
    leaq 32(%rbp), %r8
    call tx_callback_entry
    movq 32(%rbp), %xmm0
    leaq 80(%rbp), %rsp
    popq %rbp
    ret
    .seh_endproc
)");

#elif defined(__i386__)

// Frame of tx_dll_thunk: 8(%ebp) fn, 12 words, 16 nwords, 20 flags, 24 out.
// Frame of tx_callback_common: -24(%ebp) bytes to remove, -20 floating-point flag, -16 the floating-point
// result (the out record of tx_callback_entry), -4 a saved EAX; the caller's arguments start at 8(%ebp).
asm(R"(
    .text
    .globl tx_dll_thunk
    .def tx_dll_thunk; .scl 2; .type 32; .endef
tx_dll_thunk:
    pushl %ebp
    movl %esp, %ebp
    pushl %esi
    pushl %edi
    pushl %ebx
    movl 16(%ebp), %ecx
    shll $2, %ecx
    subl %ecx, %esp
    andl $-16, %esp
    movl %esp, %edi
    movl 12(%ebp), %esi
    movl 16(%ebp), %ecx
    cld
    rep movsl
    movl %esp, %ebx
    call *8(%ebp)
    movl 16(%ebp), %ecx
    shll $2, %ecx
    testl $1, 20(%ebp)
    jnz 1f
    addl %ecx, %ebx
1:
    movl 24(%ebp), %edi
    movl $1, 8(%edi)
    cmpl %ebx, %esp
    je 2f
    movl $0, 8(%edi)
2:
    testl $2, 20(%ebp)
    jz 3f
    fstpl (%edi)
3:
    leal -12(%ebp), %esp
    popl %ebx
    popl %edi
    popl %esi
    popl %ebp
    ret

    .globl tx_callback_common
    .def tx_callback_common; .scl 2; .type 32; .endef
tx_callback_common:
    pushl %ebp
    movl %esp, %ebp
    subl $40, %esp
    andl $-16, %esp
    leal -24(%ebp), %ecx
    leal 8(%ebp), %edx
    subl $4, %esp
    pushl %ecx
    pushl %edx
    pushl %eax
    call tx_callback_entry
    cmpl $0, -20(%ebp)
    je 1f
    fldl -16(%ebp)
1:
    movl -24(%ebp), %ecx
    movl %eax, -4(%ebp)
    movl 4(%ebp), %eax
    movl %eax, 4(%ebp,%ecx)
    movl -4(%ebp), %eax
    leave
    addl %ecx, %esp
    ret
)");

#endif
