/* Stands for a program built against musl: linked against the libc.so
 * above, with musl's loader as its interpreter. Inspected, never run. */
void fixture_libc(void);

void _start(void)
{
    fixture_libc();
}
