/*
 * Data export table of the dataexports module: a count, the signature word,
 * one (address, name offset) pair per entry and the names. Each address word
 * is filled by an R_PPC_ADDR32 relocation that stays in the linked file as
 * .rela.dexports. The signature is the CRC-32 of the names in entry order,
 * each with its terminating zero, followed by 14 zero bytes.
 */

        .section .dexports,"a",@0x80000001
        .balign 4
.Ldx:
        .long 3
        .long 0x9712ee5f
        .long dataexports_state
        .long .Ldx_name0 - .Ldx
        .long dataexports_limits
        .long .Ldx_name1 - .Ldx
        .long dataexports_log
        .long .Ldx_name2 - .Ldx
.Ldx_name0:
        .asciz "dataexports_state"
.Ldx_name1:
        .asciz "dataexports_limits"
.Ldx_name2:
        .asciz "dataexports_log"

        .section .note.GNU-stack,"",@progbits
