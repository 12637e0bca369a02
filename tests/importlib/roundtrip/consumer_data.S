/*
 * An importer of the dataexports module, which exports data only: it reads
 * a word of each of the three exported objects (R_PPC_ADDR16_HA and
 * R_PPC_ADDR16_LO against the data import section) and adds them up in a
 * function of its own.
 */

        .text
        .globl _start
        .type _start, @function
_start:
        lis     %r9, dataexports_state@ha
        lwz     %r3, dataexports_state@l(%r9)
        lis     %r9, dataexports_limits@ha
        lha     %r4, dataexports_limits@l(%r9)
        lis     %r9, dataexports_log@ha
        lwz     %r5, dataexports_log@l(%r9)
        b       data_total
        .size _start, . - _start

        .globl data_total
        .type data_total, @function
data_total:
        add     %r3, %r3, %r4
        add     %r3, %r3, %r5
        lis     %r9, data_sum@ha
        stw     %r3, data_sum@l(%r9)
        blr
        .size data_total, . - data_total

        .data
        .balign 4
        .globl data_sum
        .type data_sum, @object
data_sum:
        .long 0
        .size data_sum, 4

        .section .note.GNU-stack,"",@progbits
