/*
 * A module that walks tables up to markers placed right behind them: an
 * empty array in its own section after the table's section, and a label in
 * an empty section that the linker puts after .data. Code reaches each
 * marker through the empty section's symbol or the label, so the addresses
 * of these relocations are the ends of the tables.
 */

__attribute__((section(".table"), used)) int table[4] = {1, 2, 3, 4};
__attribute__((section(".table_end"), used)) int table_end[0];

extern int data_end[];
int counters[8] = {1};

int table_sum(void)
{
    int s = 0;
    for (int *p = table; p < table_end; ++p)
        s += *p;
    return s;
}

int counters_sum(void)
{
    int s = 0;
    for (int *p = counters; p < data_end; ++p)
        s += *p;
    return s;
}

void _start(void)
{
    table_sum();
    counters_sum();
}
