/*
 * Export tables of the basic module. Each table is a count, a signature word,
 * one (address, name offset) pair per entry and the names themselves. The
 * signature is the CRC-32 of the names in entry order, each with its
 * terminating zero, followed by 14 zero bytes: the word a converted importer
 * carries in its import section. The addresses are filled in by the linker
 * through R_PPC_ADDR32 relocations that stay in the linked file.
 */

        .section .fexports,"ax",@0x80000001
        .balign 4
.Lfx:
        .long 2
        .long 0x7121959d
        .long basic_add
        .long .Lfx_name0 - .Lfx
        .long basic_lookup
        .long .Lfx_name1 - .Lfx
.Lfx_name0:
        .asciz "basic_add"
.Lfx_name1:
        .asciz "basic_lookup"

        .section .dexports,"a",@0x80000001
        .balign 4
.Ldx:
        .long 1
        .long 0x99594328
        .long basic_counter
        .long .Ldx_name0 - .Ldx
.Ldx_name0:
        .asciz "basic_counter"

        .section .note.GNU-stack,"",@progbits
