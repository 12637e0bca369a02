/*
 * A module with code and zero-filled data only: no read-only data, no
 * initialised data, no export tables.
 */

static int codeonly_hits[32];

__attribute__((noinline)) int codeonly_hit(int i)
{
    return ++codeonly_hits[i & 31];
}

int codeonly_sum(int n)
{
    int total = 0;
    for (int i = 0; i < n; ++i)
        total += codeonly_hit(i) * i;
    return total;
}

void _start(void)
{
    codeonly_sum(40);
}
