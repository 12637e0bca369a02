/*
 * A module that imports from another one through its import library: it
 * calls two exported functions (relative branches, R_PPC_REL24) and reads an
 * exported object (R_PPC_ADDR16_HA / R_PPC_ADDR16_LO). None of these symbols
 * is defined here; the linker takes them from the library's stub object,
 * whose import sections hold them. The module also has code and initialised
 * data of its own.
 */

        .text
        .globl _start
        .type _start, @function
_start:
        stwu    %r1, -16(%r1)
        mflr    %r0
        stw     %r0, 20(%r1)
        lis     %r9, basic_counter@ha
        lwz     %r3, basic_counter@l(%r9)
        lis     %r10, consumer_bias@ha
        lwz     %r4, consumer_bias@l(%r10)
        bl      basic_add
        bl      basic_lookup
        bl      consumer_store
        lwz     %r0, 20(%r1)
        mtlr    %r0
        addi    %r1, %r1, 16
        blr
        .size _start, . - _start

        .globl consumer_store
        .type consumer_store, @function
consumer_store:
        lis     %r9, consumer_result@ha
        stw     %r3, consumer_result@l(%r9)
        blr
        .size consumer_store, . - consumer_store

        .data
        .balign 4
        .globl consumer_bias
        .type consumer_bias, @object
consumer_bias:
        .long 42
        .size consumer_bias, 4
        .globl consumer_result
        .type consumer_result, @object
consumer_result:
        .long 0
        .size consumer_result, 4

        .section .note.GNU-stack,"",@progbits
