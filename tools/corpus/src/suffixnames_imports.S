/*
 * The import section for "engine.vkm", laid out as an import library gives
 * it: a count and a signature word (filled in by the conversion), the module
 * name, and one 8-byte slot per imported function from offset 8.
 */

        .section .fimport_engine.vkm,"ax",@0x80000002
        .balign 4
.Lfi:
        .long 0, 0
        .asciz "engine.vkm"
        .space 5                        /* two slots: 8 + 2 * 8 = 24 bytes */
        .globl init
        .type init, @function
        .set init, .Lfi + 8
        .globl update
        .type update, @function
        .set update, .Lfi + 16

        .section .note.GNU-stack,"",@progbits
