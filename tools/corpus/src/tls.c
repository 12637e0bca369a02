/*
 * A module with thread-local data: an initialised counter and an 8-byte
 * aligned wide value in .tdata, a zero-filled array in .tbss, plus one plain
 * initialised object. The counter is exported as thread-local data, the
 * plain object as ordinary data (tls_exports.S).
 */

__thread int tls_counter = 5;
__thread long long tls_wide = 0x0102030405060708LL;
__thread int tls_scratch[4];
int tls_plain = 11;

int tls_bump(int d)
{
    tls_counter += d;
    tls_scratch[d & 3] = d;
    tls_wide += d;
    return tls_counter + tls_plain;
}

void _start(void)
{
    tls_bump(1);
}
