/*
 * The plain module: a little code, a read-only table and string, one
 * initialised counter and a zero-filled scratch array. Two functions and the
 * counter are exported through the tables in basic_exports.S.
 */

static const char basic_greeting[] = "greetings from the basic module";
const int basic_table[8] = { 3, 1, 4, 1, 5, 9, 2, 6 };
int basic_counter = 7;
int basic_scratch[16];

__attribute__((noinline)) int basic_add(int a, int b)
{
    return a + b + basic_counter;
}

int basic_lookup(int i)
{
    basic_scratch[i & 15] = i;
    return basic_add(basic_table[i & 7], basic_greeting[i & 15]);
}

void _start(void)
{
    basic_counter = basic_lookup(basic_counter);
}
