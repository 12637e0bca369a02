/*
 * An importer of the tls module. Its data import section holds a
 * thread-local export, so the stub defines that symbol as STT_TLS and the
 * linker accepts only thread-local references to it: the counter is read
 * through R_PPC_TPREL16_HA / R_PPC_TPREL16_LO, the plain object through
 * R_PPC_ADDR16_HA / R_PPC_ADDR16_LO, and the exported function is called.
 */

        .text
        .globl _start
        .type _start, @function
_start:
        stwu    %r1, -16(%r1)
        mflr    %r0
        stw     %r0, 20(%r1)
        addis   %r9, %r2, tls_counter@tprel@ha
        lwz     %r3, tls_counter@tprel@l(%r9)
        lis     %r10, tls_plain@ha
        lwz     %r4, tls_plain@l(%r10)
        add     %r3, %r3, %r4
        bl      tls_bump
        lis     %r9, tls_seen@ha
        stw     %r3, tls_seen@l(%r9)
        lwz     %r0, 20(%r1)
        mtlr    %r0
        addi    %r1, %r1, 16
        blr
        .size _start, . - _start

        .data
        .balign 4
        .globl tls_seen
        .type tls_seen, @object
tls_seen:
        .long 0
        .size tls_seen, 4

        .section .note.GNU-stack,"",@progbits
