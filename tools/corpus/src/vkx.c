/*
 * A module that uses the small-data area: built with EABI small data, its
 * short globals live in .sdata and .sbss and are reached through
 * R_PPC_EMB_SDA21 relocations off _SDA_BASE_, which the linker puts 32 KiB
 * into .sdata. A small-data base above 0x8000 makes the module a VKX.
 */

int vkx_hits = 1;
short vkx_flags = 2;
int vkx_pending;
int vkx_large[64] = { 1, 2, 3 };

int vkx_step(int i)
{
    vkx_pending += i;
    vkx_large[i & 63] += vkx_flags;
    return ++vkx_hits + vkx_pending;
}

void _start(void)
{
    vkx_step(vkx_hits);
}
