/* The guard's trampoline on Windows x86 (see guarded_call_win.cpp).

   int __cdecl tav_guard_call(void (__cdecl *call)(void *), void *context, GuardRecord *record)
     Pushes an EXCEPTION_REGISTRATION record on the thread's chain (fs:0) and calls
     call(context). Returns 0 when the call returned; 1 when an exception escaped.

   The registration record, at esp after it is pushed (and ebp = esp + 24):
     +0  the previous record        +4  tav_guard_handler    +8  the GuardRecord pointer
     +12 edi   +16 esi   +20 ebx   +24 the caller's ebp   +28 return address */

        .text
        .p2align 4
        .globl  _tav_guard_call
        .def    _tav_guard_call; .scl 2; .type 32; .endef
_tav_guard_call:
        pushl   %ebp
        movl    %esp, %ebp
        pushl   %ebx
        pushl   %esi
        pushl   %edi
        pushl   16(%ebp)                /* record */
        pushl   $_tav_guard_handler
        pushl   %fs:0
        movl    %esp, %fs:0
        pushl   12(%ebp)                /* context */
        call    *8(%ebp)
        addl    $4, %esp
        xorl    %eax, %eax
.Lleave:
        movl    (%esp), %ecx            /* unlink the record */
        movl    %ecx, %fs:0
        addl    $12, %esp
        popl    %edi
        popl    %esi
        popl    %ebx
        popl    %ebp
        ret

/* EXCEPTION_DISPOSITION __cdecl handler(EXCEPTION_RECORD *, void *frame, CONTEXT *, void *)
   An exception no frame inside the call handled: keep it (tav_guard_capture),
   let RtlUnwind run the inner frames' unwind handlers and take their records off
   the chain, then continue at the trampoline's exit on its own stack with eax = 1.
   RtlUnwind keeps ebp but not necessarily ebx, esi or edi, so the frame is read
   back through ebp; the trampoline restores the caller's registers itself. */
        .p2align 4
        .globl  _tav_guard_handler
        .def    _tav_guard_handler; .scl 2; .type 32; .endef
_tav_guard_handler:
        pushl   %ebp
        movl    %esp, %ebp
        movl    8(%ebp), %eax           /* the exception record */
        testl   $6, 4(%eax)             /* EXCEPTION_UNWINDING | EXCEPTION_EXIT_UNWIND */
        jnz     .Lsearch
        movl    12(%ebp), %ecx          /* our registration record */
        pushl   %eax
        pushl   8(%ecx)
        call    _tav_guard_capture
        addl    $8, %esp
        testl   %eax, %eax
        jz      .Lsearch
        pushl   $0                      /* return value */
        pushl   8(%ebp)                 /* exception record */
        pushl   $0                      /* target address: back here */
        pushl   12(%ebp)                /* target frame: our record */
        call    _RtlUnwind@16
        movl    12(%ebp), %esp          /* the trampoline's stack at its record */
        leal    24(%esp), %ebp
        movl    $1, %eax
        jmp     .Lleave
.Lsearch:
        movl    $1, %eax                /* ExceptionContinueSearch */
        popl    %ebp
        ret

