/*
 * The big module: the hand-written code that walks the generated tables of
 * big_data.c (made by gen_big.py at build time). Its size comes from the
 * tables, which are large enough for section compression to matter.
 */

extern const char big_text[];
extern const unsigned int big_curve[32768];
extern unsigned short big_state[32768];
extern int (*const big_functions[])(int);
extern const int big_function_count;

static unsigned int big_total;

unsigned int big_checksum(unsigned int n)
{
    unsigned int sum = 0;
    for (unsigned int i = 0; i < n && big_text[i] != 0; ++i)
        sum = (sum << 5) + sum + (unsigned char)big_text[i];
    return sum ^ big_curve[n & 32767] ^ big_state[n & 32767];
}

int big_run(int x)
{
    int acc = 0;
    for (int k = 0; k < big_function_count; ++k)
        acc += big_functions[k](x + k);
    big_total += (unsigned int)acc;
    return acc;
}

void _start(void)
{
    big_run((int)big_checksum(1000));
}
