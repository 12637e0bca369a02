/* An empty section holding only a label: the end of the module's data. */
        .section .data_end,"aw",@progbits
        .globl data_end
data_end:
        .section .note.GNU-stack,"",@progbits
