/* The guard's trampoline on Windows x64 (see guarded_call_win.cpp).

   int tav_guard_call(void (*call)(void *), void *context, GuardRecord *record)
     Calls call(context) in a frame whose unwind entry names tav_guard_handler as
     its exception handler. Returns 0 when the call returned; 1 when an exception
     escaped it (the handler unwound to tav_guard_resume with rax = 1).

   Frame after the prologue (rsp = the frame the handler receives):
     rsp +  0 .. 31   home area of the callee
     rsp + 32         the GuardRecord pointer, read by the handler
     rsp + 40         padding (rsp stays 16-byte aligned at the call)
     rsp + 48         the caller's rbp
     rsp + 56         return address */

        .text
        .p2align 4
        .globl  tav_guard_call
        .def    tav_guard_call; .scl 2; .type 32; .endef
        .seh_proc tav_guard_call
tav_guard_call:
        pushq   %rbp
        .seh_pushreg %rbp
        subq    $48, %rsp
        .seh_stackalloc 48
        .seh_endprologue
        .seh_handler tav_guard_handler, @except
        movq    %r8, 32(%rsp)
        movq    %rcx, %rax
        movq    %rdx, %rcx
        callq   *%rax
        nop                     /* the return address stays inside this function */
        xorl    %eax, %eax
        .globl  tav_guard_resume
tav_guard_resume:
        addq    $48, %rsp
        popq    %rbp
        ret
        .seh_endproc
