/*
 * Import sections for the module "other.vkm", laid out as an import library
 * would give them: a count and a signature word (left 0 here, the conversion
 * tool fills them), the module name at offset 8, and one 8-byte slot per
 * imported symbol starting at offset 8. The slot symbols overlap the name on
 * purpose: the loader rewrites the whole section. Each section is as large as
 * the bigger of 8 + 8 * count and the name's length + 9.
 */

        .section .fimport_other.vkm,"ax",@0x80000002
        .balign 4
.Lfi:
        .long 0, 0
        .asciz "other.vkm"
        .space 6                        /* two slots: 8 + 2 * 8 = 24 bytes */
        .globl other_add
        .type other_add, @function
        .set other_add, .Lfi + 8
        .globl other_log
        .type other_log, @function
        .set other_log, .Lfi + 16

        .section .dimport_other.vkm,"aw",@0x80000002
        .balign 4
.Ldi:
        .long 0, 0
        .asciz "other.vkm"
        .globl other_value
        .type other_value, @object
        .set other_value, .Ldi + 8

        .section .note.GNU-stack,"",@progbits
