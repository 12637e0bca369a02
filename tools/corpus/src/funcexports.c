/*
 * A module that exports functions only: three small arithmetic routines, one
 * of them calling another, and a private helper that is not exported. It has
 * a function export table (funcexports_exports.S) and no data export table.
 */

static int funcexports_calls;

static __attribute__((noinline)) int funcexports_clamp(int v)
{
    ++funcexports_calls;
    return v < 0 ? 0 : v > 255 ? 255 : v;
}

int funcexports_scale(int v, int num, int den)
{
    return funcexports_clamp(v * num / (den ? den : 1));
}

int funcexports_mix(int a, int b)
{
    return funcexports_clamp((a + b) >> 1);
}

int funcexports_fold(const int *v, int n)
{
    int acc = 0;
    for (int i = 0; i < n; ++i)
        acc = funcexports_mix(acc, v[i]);
    return acc + funcexports_calls;
}

void _start(void)
{
    static const int samples[4] = { 10, 200, 30, 400 };
    funcexports_fold(samples, 4);
    funcexports_scale(3, 5, 7);
}
