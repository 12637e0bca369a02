/*
 * An importer of the funcexports module, which exports functions only: it
 * calls each of the three exported functions once (R_PPC_REL24 into the
 * function import section) and keeps its result in data of its own.
 */

        .text
        .globl _start
        .type _start, @function
_start:
        stwu    %r1, -16(%r1)
        mflr    %r0
        stw     %r0, 20(%r1)
        li      %r3, 9
        li      %r4, 3
        li      %r5, 2
        bl      funcexports_scale
        li      %r4, 100
        bl      funcexports_mix
        lis     %r3, funcs_samples@ha
        addi    %r3, %r3, funcs_samples@l
        li      %r4, 3
        bl      funcexports_fold
        lis     %r9, funcs_result@ha
        stw     %r3, funcs_result@l(%r9)
        lwz     %r0, 20(%r1)
        mtlr    %r0
        addi    %r1, %r1, 16
        blr
        .size _start, . - _start

        .data
        .balign 4
        .type funcs_samples, @object
funcs_samples:
        .long 5, 50, 500
        .size funcs_samples, 12
        .globl funcs_result
        .type funcs_result, @object
funcs_result:
        .long 0
        .size funcs_result, 4

        .section .note.GNU-stack,"",@progbits
