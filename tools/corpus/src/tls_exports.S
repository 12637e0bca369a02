/*
 * Export tables of the thread-local module. The data table exports the
 * thread-local counter first: its address word is its offset in the module's
 * thread-local block (R_PPC_DTPREL32) and bit 31 of its name word marks it
 * as thread-local. The second data entry is an ordinary object. Each table's
 * signature is the CRC-32 of its names in entry order, each with its
 * terminating zero, followed by 14 zero bytes.
 */

        .section .fexports,"ax",@0x80000001
        .balign 4
.Lfx:
        .long 1
        .long 0xa577bf64
        .long tls_bump
        .long .Lfx_name0 - .Lfx
.Lfx_name0:
        .asciz "tls_bump"

        .section .dexports,"a",@0x80000001
        .balign 4
.Ldx:
        .long 2
        .long 0xd7220b46
        .long tls_counter@dtprel
        .long 0x80000000 + (.Ldx_name0 - .Ldx)
        .long tls_plain
        .long .Ldx_name1 - .Ldx
.Ldx_name0:
        .asciz "tls_counter"
.Ldx_name1:
        .asciz "tls_plain"

        .section .note.GNU-stack,"",@progbits
