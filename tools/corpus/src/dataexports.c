/*
 * A module that exports data only: an initialised state record in .data, a
 * read-only table in .rodata and a zero-filled log in .bss. Its code only
 * touches them; the export table is in dataexports_exports.S.
 */

struct dataexports_record {
    int generation;
    int flags;
    char label[8];
};

struct dataexports_record dataexports_state = { 1, 0x10, "state" };
const short dataexports_limits[6] = { -40, 125, 0, 4095, 7, 9 };
int dataexports_log[24];

void _start(void)
{
    dataexports_log[dataexports_state.generation & 15] = dataexports_limits[3];
    dataexports_state.generation += dataexports_limits[4];
}
