/*
 * Function export table of the funcexports module: a count, the signature
 * word, one (address, name offset) pair per entry and the names. The order of
 * the entries is deliberately not alphabetical. The signature is the CRC-32
 * of the names in entry order, each with its terminating zero, followed by
 * 14 zero bytes: the word a converted importer carries in its import section.
 */

        .section .fexports,"ax",@0x80000001
        .balign 4
.Lfx:
        .long 3
        .long 0xc725dabe
        .long funcexports_scale
        .long .Lfx_name0 - .Lfx
        .long funcexports_mix
        .long .Lfx_name1 - .Lfx
        .long funcexports_fold
        .long .Lfx_name2 - .Lfx
.Lfx_name0:
        .asciz "funcexports_scale"
.Lfx_name1:
        .asciz "funcexports_mix"
.Lfx_name2:
        .asciz "funcexports_fold"

        .section .note.GNU-stack,"",@progbits
